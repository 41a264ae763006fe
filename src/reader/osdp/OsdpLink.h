#pragma once
// One OSDP line (a serial device or a TCP connection to an RS-485
// converter) and the bus on it, on a thread of their own, so polling keeps
// its timing while the user-interface thread waits for the database. The
// thread is owned here and joined by the destructor.
//
// Readers are added and commands submitted from any thread; what the bus
// reports reaches each reader's listener on the link's thread (the
// listener passes it on to its own thread). A line that cannot be opened,
// or that is lost, is tried again every ReopenEvery.
//
// The thread sleeps until the bus has something to do (its next poll, a
// reply's deadline, bytes arriving): an idle line costs a few wake-ups per
// poll, not a timer every few milliseconds.
//
// A fault inside the program on the link's thread (an exception out of the
// bus or the line) stops there: every reader's listener hears LineFault,
// the bus drops what was under way and its readers go offline, and the
// line is closed and opened again. Nothing it held is trusted afterwards
// but the keys.
#include "OsdpBus.h"
#include "PortText.h"
#include "Result.h"

#include <QFile>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace parking::osdp {

class OsdpLink {
public:
    static constexpr milliseconds ReopenEvery{3000};

    using Listener = std::function<void(const BusEvent&)>;

    // `storeKey(address, key)` keeps a new reader key safe (runs on the
    // link's thread). `random` gives the handshakes' randoms (the operating
    // system's when not given).
    OsdpLink(PortText line, std::function<bool(std::uint8_t address, const Block& key)> storeKey,
             RandomSource random = {});
    ~OsdpLink();
    OsdpLink(const OsdpLink&) = delete;
    OsdpLink& operator=(const OsdpLink&) = delete;

    // Starts the thread and tries to open the line, waiting for that first
    // attempt (at most OpenWait): the line open, with a warning about how it
    // was opened (rs485=on refused by the device; empty: none), or why it
    // could not be opened.
    struct Opened {
        QString warning;
    };
    Result<Opened> start();
    bool lineOpen() const { return lineOpen_; }
    const PortText& line() const { return line_; }

    // Every packet both ways, with its time, in the osdpcap format (JSON
    // lines), as long as the link lives. Before start(); false when the
    // file cannot be written. `append`: after what an earlier link wrote.
    bool captureTo(const QString& path, bool append = false);

    // Polls one more reader; its events go to `listener`. Returns its index.
    int addReader(const ReaderConfig& config, Listener listener);
    void removeReader(int reader);

    // Hears every reader's events too, after its listener (a tool that
    // follows its own commands' answers, as the firmware update does); on
    // the link's thread. Empty: none.
    void setObserver(Listener observer);

    // Queues a command for the reader; false when it is offline.
    bool submit(int reader, Command command);
    bool online(int reader) const;
    Capabilities capabilities(int reader) const;
    // Waits at most `limit` for the reader to come online.
    bool waitOnline(int reader, milliseconds limit);

    // Called on the link's thread.
    void deliver(const BusEvent& e);
    void deliverToAll(const BusFact& fact, TimePoint at);
    void setLineOpen(bool open, const QString& fault = {});
    void setLineWarning(const QString& warning);
    void capture(bool output, std::span<const std::uint8_t> bytes);

private:
    class Thread;
    friend class Thread;

    void post(std::function<void(OsdpBus&)> work);

    PortText line_;
    std::function<bool(std::uint8_t, const Block&)> storeKey_;
    RandomSource random_;
    std::unique_ptr<Thread> thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Listener> listeners_;
    Listener observer_;
    std::map<int, bool> online_;
    std::map<int, Capabilities> capabilities_;
    int nextIndex_ = 0;
    std::atomic<bool> lineOpen_{false};
    bool firstAttemptDone_ = false;
    QString lineFault_;
    QString lineWarning_;
    std::unique_ptr<QFile> capture_;
};

} // namespace parking::osdp

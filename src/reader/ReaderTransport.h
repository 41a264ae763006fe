#pragma once
// How a reader control's operations reach a reader. The simulated transport
// answers everything at once; the OSDP transport talks to real readers. A
// transport that receives something from its reader hands it to the control
// through the ReaderEvents it was given, on the user-interface thread, which
// raises the control's events.
#include "Result.h"

#include <QString>

#include <cstdint>

namespace parking {

// What a reader operation answered. The numbers are the ones the event
// log has always printed ("OpenPort 1: 0"); only there do they become
// numbers (statusNumber).
enum class ReaderStatus : std::uint8_t {
    Ok = 0,
    BadPortText = 1,   // open: the port text cannot be used
    LineNotOpened = 2, // open: the line (device or socket) did not open
    NotReady = 3,      // setUp: the reader did not come online in time
    Offline = 4,       // a command for a reader that is not online
    NoReader = 255,    // there is no reader behind the port
};

constexpr int statusNumber(ReaderStatus status)
{
    return static_cast<int>(status);
}

// What a supervised reader says of itself: its case opened, its power, and
// whether it answers only the install key while a key is stored (swapped
// or reset: an alert, never re-keyed by itself).
struct ReaderCondition {
    bool known = false; // the reader has said its tamper and power state
    bool tamper = false;
    bool powerOk = true;
    bool installKeyOnly = false;
    bool operator==(const ReaderCondition&) const = default;
};

// The Secure Channel of a reader's line.
enum class SecureChannelState {
    None,        // no protocol that has one (a simulated reader, no port)
    Off,         // sc=off: the line goes in the clear
    Waiting,     // asked for, not up (the reader is not online)
    Established,
};

// What a transport reports to its control.
class ReaderEvents {
public:
    virtual ~ReaderEvents() = default;
    virtual void reportTrack(const QString& track) = 0;
    virtual void reportCard(const QString& card) = 0;
    virtual void reportHotReset() = 0;
    virtual void reportDown() = 0;
    // Something the reader sent that the stations do not act on (keys).
    virtual void reportStatusMessage(const QString& message) = 0;
    // A line for the event log about the reader (never a key).
    virtual void reportLog(const QString& line) = 0;
    // The reader's tamper, power or key alert changed.
    virtual void reportCondition(const ReaderCondition&) {}
};

class ReaderTransport {
public:
    virtual ~ReaderTransport() = default;
    // The line open, or why it could not be.
    virtual Result<void> open() = 0;
    virtual ReaderStatus setUp() = 0;
    virtual ReaderStatus pulseRelay(std::uint8_t output, std::uint8_t tenths) = 0;
    virtual void show(const QString& text) = 0;
    virtual void close() = 0;
    virtual SecureChannelState secureChannel() const { return SecureChannelState::None; }
    // A refused card's feedback (a short red light, a beep) where the
    // reader has them; false when nothing was shown.
    virtual bool signalRefusal() { return false; }
};

// A reader inside the program: every operation succeeds and leaves the
// display text as it was; events come from whoever drives it (a script,
// the demo's simulator window, a test).
class SimulatedTransport final : public ReaderTransport {
public:
    Result<void> open() override { return {}; }
    ReaderStatus setUp() override { return ReaderStatus::Ok; }
    ReaderStatus pulseRelay(std::uint8_t, std::uint8_t) override { return ReaderStatus::Ok; }
    void show(const QString&) override {}
    void close() override {}
};

} // namespace parking

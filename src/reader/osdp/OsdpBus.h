#pragma once
// The controller's side of one OSDP bus, as next-state functions: the bus
// is driven by tick() and received() with the time passed in, writes what
// it sends through `send`, and reports what happened through `events`. No
// I/O, no thread, no Qt event loop: a fake line and a fake clock drive it in
// tests, the link thread in the program.
//
// One command is on the wire at a time (RS-485 is half duplex); readers take
// turns. An online reader is polled as soon as its last reply is in; an
// offline one is tried at most once a second, with no repeat, so it never
// holds up its neighbour for long. A reply that does not come within
// ReplyTimeout is asked for once more with the same sequence number, then
// the sequence starts over at 0. A reader is online once it answered its
// identity and capabilities and (unless the channel is off) the Secure
// Channel is up; it goes offline after OfflineAfter without a valid reply,
// and queued commands for it are dropped.
#include "OsdpCodec.h"
#include "SecureChannel.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace parking::osdp {

using TimePoint = std::chrono::steady_clock::time_point;
using std::chrono::milliseconds;

enum class ChannelMode { On, Install, Off };

struct ReaderConfig {
    std::uint8_t address = 0;
    ChannelMode channel = ChannelMode::On;
    std::optional<Block> key; // the stored base key, if any
};

struct Identity {
    std::uint32_t vendor = 0;
    std::uint8_t model = 0;
    std::uint8_t version = 0;
    std::uint32_t serial = 0;
    std::uint32_t firmware = 0; // major << 16 | minor << 8 | build
};

struct Capabilities {
    bool output = false;
    bool led = false;
    bool buzzer = false;
    bool text = false;
};

struct BusEvent {
    enum class Kind { Online, Offline, RawCard, FormattedCard, Keypad, Log, CommandAnswered };
    Kind kind = Kind::Log;
    int reader = 0;
    QString text;           // the log line, the formatted card, the keys
    Bytes data;             // a raw card's bits, left-justified
    int bits = 0;           // how many of them
    Identity identity;      // Online
    Capabilities capabilities;
    TimePoint at;
};

class OsdpBus {
public:
    static constexpr milliseconds ReplyTimeout{200};
    static constexpr milliseconds OfflineAfter{8000};
    static constexpr milliseconds OfflineRetry{1000};

    // `storeKey` keeps a new base key safe before it is given to a reader;
    // false when it could not.
    using KeyStore = std::function<bool(int reader, const Block& key)>;

    OsdpBus(std::function<void(const Bytes&)> send, std::function<void(const BusEvent&)> events, KeyStore storeKey);

    // Returns the reader's index; it is polled from `now` on.
    int addReader(const ReaderConfig& config, TimePoint now);
    // The reader is no longer polled.
    void removeReader(int reader);

    void received(std::span<const std::uint8_t> bytes, TimePoint now);
    void tick(TimePoint now);

    // Queues a command to go ahead of the reader's next poll. False (and
    // nothing queued) when the reader is offline.
    bool submit(int reader, std::uint8_t code, Bytes data);

    bool online(int reader) const;
    const Capabilities& capabilities(int reader) const;
    std::size_t droppedFrames() const { return reader_.dropped() + unexpected_; }

private:
    enum class Step { Idle, Identify, Capabilities, Challenge, Cryptogram, KeySet, Online };
    struct Command {
        std::uint8_t code;
        Bytes data;
        std::optional<std::uint8_t> securityType = std::nullopt;
        Bytes securityData = {};
    };
    struct Reader {
        ReaderConfig config;
        Step step = Step::Idle;
        std::uint8_t sequence = 0; // the next command's
        bool reported = false;     // an Online or Offline event was given
        bool up = false;
        TimePoint startedAt;
        TimePoint lastHealthy;
        TimePoint nextAttempt;
        Identity identity;
        Capabilities capabilities;
        Random cpRandom{};
        Random pdRandom{};
        SessionKeys keys{};
        bool installKey = false;
        std::optional<Block> newKey;
        std::optional<SecureSession> session;
        std::deque<Command> queue;
        bool tryInstallKey = false; // install mode: the stored key was refused
        bool removed = false;
        bool pollFirst = false; // a poll before the next queued command
    };
    struct Outstanding {
        int reader;
        std::uint8_t code;
        std::uint8_t sequence;
        Bytes bytes;
        TimePoint sentAt;
        bool repeat;
    };
    // An unanswered command of an online reader, sent once more on its turn.
    std::vector<std::optional<Outstanding>> retries_;

    void sendNext(TimePoint now);
    std::optional<int> nextDue(TimePoint now);
    Command nextCommand(Reader& r, TimePoint now);
    void transmit(int index, const Command& c, TimePoint now);
    void timedOut(TimePoint now);
    void answered(const Decoded& d, TimePoint now);
    void handle(int index, const Packet& reply, TimePoint now);
    void handleHandshake(int index, const Packet& reply, TimePoint now);
    void handleClientCryptogram(int index, const Packet& reply, TimePoint now);
    void handleInitialRmac(int index, const Packet& reply, TimePoint now);
    void handleOnline(int index, const Packet& reply, TimePoint now);
    void startHandshake(Reader& r, TimePoint now);
    void dropToIdle(int index, TimePoint now, milliseconds wait);
    void becomeOnline(int index, TimePoint now);
    void giveNewKey(int index, TimePoint now);
    void checkHealth(TimePoint now);
    void report(BusEvent e);
    void log(int index, const QString& text, TimePoint now);

    std::function<void(const Bytes&)> send_;
    std::function<void(const BusEvent&)> events_;
    KeyStore storeKey_;
    std::vector<Reader> readers_;
    FrameReader reader_;
    std::optional<Outstanding> outstanding_;
    int turn_ = 0;
    std::size_t unexpected_ = 0;
};

} // namespace parking::osdp

#pragma once
// The controller's side of one OSDP bus, as next-state functions: the bus
// is driven by tick() and received() with the time passed in, writes what
// it sends through `send`, and reports what happened through `events`. No
// I/O, no thread, no Qt event loop: a fake line and a fake clock drive it in
// tests, the link thread in the program. nextWakeUp() says when tick() has
// something to do next, so nothing needs to poll the bus itself.
//
// One command is on the wire at a time (RS-485 is half duplex); readers take
// turns. Each packet goes out behind a mark byte, and the next one waits
// for the line's two-character idle gap after the last reply. An online
// reader is polled every PollInterval (a queued command goes at once, and a
// poll comes between two queued commands); after a card read no reader is
// polled for HoldAfterRead, so the barrier's command finds the line free.
// An offline reader is tried at most once a second, so it never holds up
// its neighbour for long.
//
// A reply is waited for from the moment the command has left the wire (its
// length at the line's speed) plus ReplyTimeout. A lost reply is asked for
// again with the same sequence number, up to RepeatLimit times; osdp_BUSY
// asks for the same after BusyWait; then the sequence starts over at 0 with
// a fresh handshake.
//
// Only a reply that passes every check (address, sequence, CRC, and the MAC
// while the channel is up) shows that a reader is alive: a reader is online
// once it answered its identity and capabilities, the Secure Channel is up
// (unless it is off), and an authenticated reply came back; it goes offline
// after OfflineAfter without one, whatever else it sends, and queued
// commands for it are dropped.
//
// Keys: a stored key is the only one a reader is spoken to with. The
// install key is used only when no key is stored (sc=install) or the
// installer asks for a new key (`rekey`); a reader that answers only the
// install key while a key is stored is reported, never re-keyed. A new key
// is stored before the reader gets it; after an osdp_KEYSET, whatever its
// fate, the next handshake tries the new key first, then the one before.
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
    bool rekey = false;       // give the reader a new key once (the installer asked)
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
    int inputs = 0;                     // contact status monitoring (function 1)
    std::optional<bool> secureChannel;  // function 9, when the reader says
    int receiveSize = 0;                // function 10; 0: not said
};

// What osdp_LSTATR says.
struct LocalStatus {
    bool tamper = false;
    bool powerLost = false;
    bool operator==(const LocalStatus&) const = default;
};

struct BusEvent {
    enum class Kind {
        Online,         // first authenticated reply after being offline
        Offline,
        Restarted,      // a fresh handshake while online: the reader lost what it was told
        RawCard,
        FormattedCard,
        Keypad,
        Log,
        CommandAnswered,
        LocalStatus,    // tamper or power, first time and at every change
        Inputs,         // the inputs' states, first time and at every change
        InstallKeyOnly, // the reader answers only the install key while a key is stored
        Com,            // osdp_COM: the reader's new address and speed
    };
    Kind kind = Kind::Log;
    int reader = 0;
    QString text;           // the log line, the formatted card, the keys
    Bytes data;             // a raw card's bits (left-justified), the inputs' states
    int bits = 0;           // how many bits; the new speed for Com
    Identity identity;      // Online
    Capabilities capabilities;
    LocalStatus status;     // LocalStatus
    TimePoint at;
};

class OsdpBus {
public:
    static constexpr milliseconds ReplyTimeout{200};
    static constexpr milliseconds OfflineAfter{8000};
    static constexpr milliseconds OfflineRetry{1000};
    static constexpr milliseconds PollInterval{20};
    static constexpr milliseconds HoldAfterRead{50};
    static constexpr milliseconds BusyWait{50};
    static constexpr int RepeatLimit = 3;

    // `storeKey` keeps a new base key safe before it is given to a reader;
    // false when it could not.
    using KeyStore = std::function<bool(int reader, const Block& key)>;

    OsdpBus(std::function<void(const Bytes&)> send, std::function<void(const BusEvent&)> events, KeyStore storeKey);

    // The line's speed, for the time a packet takes on the wire (0: no
    // wire, as over TCP).
    void setLineSpeed(int baud) { baud_ = baud; }

    // Returns the reader's index; it is polled from `now` on.
    int addReader(const ReaderConfig& config, TimePoint now);
    // The reader is no longer polled.
    void removeReader(int reader);

    void received(std::span<const std::uint8_t> bytes, TimePoint now);
    void tick(TimePoint now);
    // When tick() next has something to do (never before `now`).
    TimePoint nextWakeUp(TimePoint now) const;

    // Queues a command for the reader. A relay command goes ahead of
    // everything queued. False (and nothing queued) when the reader is
    // offline.
    bool submit(int reader, std::uint8_t code, Bytes data);

    bool online(int reader) const;
    const Capabilities& capabilities(int reader) const;
    std::size_t droppedFrames() const { return frames_.dropped() + unexpected_; }

    // The time `bytes` bytes take on the wire, ten bits a byte.
    std::chrono::microseconds wireTime(std::size_t bytes) const;

private:
    enum class Step { Idle, Identify, Capabilities, Challenge, Cryptogram, KeySet, Online };
    // Which key a handshake is tried with.
    enum class KeyChoice { Stored, Previous, Install, InstallProbe };
    struct Command {
        std::uint8_t code;
        Bytes data;
        std::optional<std::uint8_t> securityType = std::nullopt;
        Bytes securityData = {};
    };
    struct Outstanding {
        int reader;
        std::uint8_t code;
        std::uint8_t sequence;
        Bytes bytes; // as sent, mark byte included: a repeat is the same bytes
        TimePoint deadline;
        int repeats = 0;
    };
    struct Reader {
        ReaderConfig config;
        Step step = Step::Idle;
        std::uint8_t sequence = 0; // the next command's
        bool reported = false;     // an Online or Offline event was given
        bool up = false;
        bool proven = false;       // an authenticated reply since the last handshake
        TimePoint startedAt;
        TimePoint lastHealthy;
        TimePoint nextAttempt;
        TimePoint nextPoll;
        Identity identity;
        Capabilities capabilities;
        Random cpRandom{};
        Random pdRandom{};
        SessionKeys keys{};
        KeyChoice keyChoice = KeyChoice::Stored;
        std::uint8_t keySelector = 0;
        std::size_t keyTry = 0;
        std::optional<Block> previousKey; // the key before the last osdp_KEYSET
        std::optional<SecureSession> session;
        std::deque<Command> queue;
        std::optional<Outstanding> repeat; // sent again on its turn, from repeatAt
        TimePoint repeatAt;
        bool removed = false;
        bool pollFirst = false; // a poll before the next queued command
        bool installAlerted = false;
        bool noChannelSaid = false;
        bool receiveSizeRefused = false;
        bool oversizeSaid = false;
        std::optional<LocalStatus> status;
        std::optional<Bytes> inputs;
    };

    bool canStart(const Reader& r) const;
    std::optional<TimePoint> dueAt(const Reader& r, TimePoint now) const;
    std::optional<int> nextDue(TimePoint now);
    void sendNext(TimePoint now);
    Command nextCommand(Reader& r, TimePoint now);
    Command challenge(Reader& r);
    std::vector<KeyChoice> keyChoices(const Reader& r) const;
    const Block& keyFor(const Reader& r, KeyChoice choice) const;
    std::size_t packetSize(const Reader& r, const Command& c) const;
    bool transmit(int index, const Command& c, TimePoint now);
    void sendBytes(Outstanding o, TimePoint now);
    void timedOut(TimePoint now);
    void answered(const Decoded& d, TimePoint now);
    void answeredNak(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now);
    void handle(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now);
    void handleHandshake(int index, const Packet& reply, TimePoint now);
    void handleCapabilities(int index, const Packet& reply, TimePoint now);
    void handleClientCryptogram(int index, const Packet& reply, TimePoint now);
    void handleInitialRmac(int index, const Packet& reply, TimePoint now);
    void handleKeySetAnswer(int index, const Packet& reply, TimePoint now);
    void handleOnline(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now);
    void handleStatus(int index, const Packet& reply, TimePoint now);
    void handshakeFailed(int index, TimePoint now);
    void startHandshake(Reader& r);
    void dropToIdle(int index, TimePoint now, milliseconds wait);
    void channelUp(int index, TimePoint now);
    void proven(int index, TimePoint now);
    void reportOnline(int index, TimePoint now);
    void giveNewKey(int index, TimePoint now);
    void checkHealth(TimePoint now);
    void report(BusEvent e);
    void log(int index, const QString& text, TimePoint now);

    std::function<void(const Bytes&)> send_;
    std::function<void(const BusEvent&)> events_;
    KeyStore storeKey_;
    std::vector<Reader> readers_;
    FrameReader frames_;
    std::optional<Outstanding> outstanding_;
    TimePoint lineFree_{};      // the idle gap after the last reply
    TimePoint pollsHeldUntil_{}; // after a card read
    TimePoint pollRound_{};      // when the current round of polls began
    int turn_ = 0;
    int baud_ = 0;
    std::size_t unexpected_ = 0;
};

} // namespace parking::osdp

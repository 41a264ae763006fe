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
// Each reader's state is its own: its way online and its keys
// (ReaderHandshake), whether it counts as online (ReaderPresence), and its
// commands, sequence and repeats (ReaderCommands). Whose turn it is and
// when the line is free is the LineSchedule's. The bus owns the line: the
// one command on the wire, its deadline, and what becomes of its reply.
#include "LineSchedule.h"

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace parking::osdp {

using std::chrono::milliseconds;

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
    // false when it could not. `random` gives the handshakes' randoms and
    // new keys (the operating system's when not given).
    using KeyStore = std::function<bool(int reader, const Block& key)>;

    OsdpBus(std::function<void(const Bytes&)> send, std::function<void(const BusEvent&)> events, KeyStore storeKey,
            RandomSource random = {});

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
    // Everything under way dropped: no command awaits its reply, every
    // reader online is reported offline and starts over with a handshake
    // (after a fault inside the program, when nothing it held can be
    // trusted but the keys).
    void restart(TimePoint now);

    // Queues a command for the reader. A relay pulse goes ahead of
    // everything queued. False (and nothing queued) when the reader is
    // offline.
    bool submit(int reader, Command command);

    bool online(int reader) const;
    const Capabilities& capabilities(int reader) const;
    std::size_t droppedFrames() const { return frames_.dropped() + unexpected_; }

    // The time `bytes` bytes take on the wire, ten bits a byte.
    std::chrono::microseconds wireTime(std::size_t bytes) const;

private:
    using Reader = BusReader;

    Reader& at(int index);
    void sendNext(TimePoint now);
    bool transmit(int index, const Command& c, TimePoint now);
    void sendBytes(SentCommand sent, TimePoint now);
    void timedOut(TimePoint now);
    void answered(const Decoded& d, TimePoint now);
    void answeredNak(int index, std::uint8_t sentCode, std::uint8_t nak, TimePoint now);
    void answeredOnline(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now);
    void follow(int index, const ReaderHandshake::Outcome& outcome, TimePoint now);
    void dropToIdle(int index, TimePoint now, milliseconds wait);
    void proven(int index, TimePoint now);
    void checkHealth(TimePoint now);
    void report(int index, BusFact fact, TimePoint now);

    std::function<void(const Bytes&)> send_;
    std::function<void(const BusEvent&)> events_;
    KeyStore storeKey_;
    RandomSource random_;
    std::vector<Reader> readers_;
    FrameReader frames_;
    std::optional<SentCommand> outstanding_;
    LineSchedule schedule_{PollInterval, HoldAfterRead};
    int baud_ = 0;
    std::size_t unexpected_ = 0;
};

} // namespace parking::osdp

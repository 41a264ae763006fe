#pragma once
// One reader's commands: what waits to be sent (a relay pulse ahead of the
// rest, so a barrier never waits behind display texts), the sequence
// number the next one carries, the one to send again after a lost reply or
// a BUSY, and when the reader is next polled.
#include "OsdpBusEvents.h"

#include <deque>
#include <optional>

namespace parking::osdp {

// A command as it went on the wire: a repeat is the same bytes.
struct SentCommand {
    int reader = 0;
    std::uint8_t code = 0;
    std::uint8_t sequence = 0;
    Bytes bytes; // mark byte included
    TimePoint deadline{};
    int repeats = 0;
};

class ReaderCommands {
public:
    std::uint8_t sequence() const { return sequence_; }
    // After an answer: 1, 2, 3, 1, … (0 only starts a sequence).
    void advanceSequence();
    // A fresh start at sequence 0 with nothing to repeat.
    void restart();

    void add(Command command);
    // The channel came up: its tamper and power first (behind a relay pulse
    // already waiting), its inputs when it has some, and the size of reply
    // we take unless it refused that before.
    void online(TimePoint nextPoll, const Capabilities& capabilities);
    // Nothing waits any more (the reader went away).
    void clear();
    bool waiting() const { return !queue_.empty(); }

    // The next queued command, unless a poll is due and the last thing sent
    // was a queued command: a card read waits for at most one of them.
    std::optional<Command> takeQueued(bool pollDue);
    TimePoint nextPoll() const { return nextPoll_; }
    void polled(TimePoint nextPoll) { nextPoll_ = nextPoll; }

    bool repeatWaiting() const { return repeat_.has_value(); }
    TimePoint repeatAt() const { return repeatAt_; }
    void repeatLater(SentCommand sent, TimePoint at);
    SentCommand takeRepeat();

    // The reader refused osdp_ACURXSIZE: not asked again.
    void receiveSizeRefused() { receiveSizeRefused_ = true; }
    // True the first time a command is too long for the reader.
    bool firstTooLong();

private:
    std::uint8_t sequence_ = 0;
    std::deque<Command> queue_;
    bool pollFirst_ = false;
    TimePoint nextPoll_{};
    std::optional<SentCommand> repeat_;
    TimePoint repeatAt_{};
    bool receiveSizeRefused_ = false;
    bool tooLongSaid_ = false;
};

} // namespace parking::osdp

#pragma once
// Whose turn it is on one OSDP line, and when: the readers' state as the
// bus keeps it, when each has something due, which goes next, and what an
// online reader gets (a queued command or its poll). The line is free
// again two characters after the last reply; after a card read no reader
// is polled for a moment, so the barrier's command finds the line free.
#include "ReaderCommands.h"
#include "ReaderHandshake.h"
#include "ReaderPresence.h"

#include <optional>
#include <vector>

namespace parking::osdp {

// One reader of the bus: its way online and its keys, whether it counts as
// online, and its commands, sequence and repeats.
struct BusReader {
    ReaderHandshake handshake;
    ReaderPresence presence;
    ReaderCommands commands;
    TimePoint nextAttempt; // of a handshake, while it is not under way
    bool removed = false;
};

class LineSchedule {
public:
    LineSchedule(std::chrono::milliseconds pollInterval, std::chrono::milliseconds holdAfterRead)
        : pollInterval_(pollInterval), holdAfterRead_(holdAfterRead)
    {
    }

    // When the reader next has something to send (nothing: not until
    // something changes).
    std::optional<TimePoint> dueAt(const BusReader& r, TimePoint now) const;
    // The earliest moment any reader has something due, the line free.
    TimePoint nextDue(const std::vector<BusReader>& readers, TimePoint now) const;
    // The reader whose turn it is now, if any: a repeat, a waiting command
    // or a handshake under way before a neighbour's poll; otherwise in turn.
    std::optional<int> takeTurn(const std::vector<BusReader>& readers, TimePoint now);
    // An online reader's next command: what is queued for it, or its poll.
    Command nextOnline(BusReader& r, TimePoint now);

    bool lineFree(TimePoint now) const { return now >= lineFree_; }
    void lineFreeAt(TimePoint at) { lineFree_ = at; }
    void cardRead(TimePoint now) { pollsHeldUntil_ = now + holdAfterRead_; }

private:
    std::chrono::milliseconds pollInterval_;
    std::chrono::milliseconds holdAfterRead_;
    TimePoint lineFree_{};       // the idle gap after the last reply
    TimePoint pollsHeldUntil_{}; // after a card read
    TimePoint pollRound_{};      // when the current round of polls began
    int turn_ = 0;
};

} // namespace parking::osdp

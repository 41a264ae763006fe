#include "LineSchedule.h"

#include <algorithm>

namespace parking::osdp {

using Step = ReaderHandshake::Step;

std::optional<TimePoint> LineSchedule::dueAt(const BusReader& r, TimePoint now) const
{
    if (r.removed)
        return std::nullopt;
    if (r.commands.repeatWaiting())
        return r.commands.repeatAt();
    switch (r.handshake.step()) {
    case Step::Idle:
        return r.handshake.mayStart() ? std::optional(r.nextAttempt) : std::nullopt;
    case Step::Online:
        if (r.commands.waiting())
            return now;
        return std::max(r.commands.nextPoll(), pollsHeldUntil_);
    case Step::Identify:
    case Step::Capabilities:
    case Step::Challenge:
    case Step::Cryptogram:
    case Step::KeySet:
        return now;
    }
    return std::nullopt;
}

TimePoint LineSchedule::nextDue(const std::vector<BusReader>& readers, TimePoint now) const
{
    TimePoint next = TimePoint::max();
    for (const BusReader& r : readers) {
        if (const auto due = dueAt(r, now))
            next = std::min(next, std::max(*due, lineFree_));
    }
    return next;
}

std::optional<int> LineSchedule::takeTurn(const std::vector<BusReader>& readers, TimePoint now)
{
    const int n = static_cast<int>(readers.size());
    std::optional<int> best;
    int bestRank = 2;
    for (int k = 0; k < n; ++k) {
        const int i = (turn_ + k) % n;
        const BusReader& r = readers[static_cast<std::size_t>(i)];
        const auto due = dueAt(r, now);
        if (!due || *due > now)
            continue;
        // A repeat, a command waiting (a barrier to open) or a handshake
        // under way goes before the neighbour's poll.
        const bool urgent = r.commands.repeatWaiting() || r.handshake.underWay() ||
                            (r.handshake.step() == Step::Online && r.commands.waiting());
        const int rank = urgent ? 0 : 1;
        if (rank < bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    if (best)
        turn_ = (*best + 1) % n;
    return best;
}

Command LineSchedule::nextOnline(BusReader& r, TimePoint now)
{
    const bool pollDue = std::max(r.commands.nextPoll(), pollsHeldUntil_) <= now;
    if (auto queued = r.commands.takeQueued(pollDue))
        return std::move(*queued);
    // The readers of a line are polled in rounds, back to back: one
    // wake-up of the line's thread serves them all.
    if (now >= pollRound_ + pollInterval_)
        pollRound_ = now;
    r.commands.polled(pollRound_ + pollInterval_);
    return PollCommand{};
}

} // namespace parking::osdp

#include "ConsoleGuard.h"

namespace parking {

void ConsoleGuard::forgetOld(Time now)
{
    for (auto it = answers_.begin(); it != answers_.end();) {
        if (now - it->at >= RetryWindow)
            it = answers_.erase(it);
        else
            ++it;
    }
    while (!recent_.empty() && now - recent_.front() >= std::chrono::minutes(1))
        recent_.pop_front();
}

std::optional<ConsoleGuard::Answer> ConsoleGuard::earlierAnswer(const QByteArray& key, Time now)
{
    forgetOld(now);
    const auto it = answers_.constFind(key);
    if (it == answers_.constEnd())
        return std::nullopt;
    return it->answer;
}

void ConsoleGuard::remember(const QByteArray& key, const Answer& answer, Time now)
{
    forgetOld(now);
    if (answers_.size() < MaxRemembered)
        answers_.insert(key, {now, answer});
}

bool ConsoleGuard::allow(std::optional<StationRole> barrier, Time now)
{
    forgetOld(now);
    if (static_cast<int>(recent_.size()) >= ActionsPerMinute)
        return false;
    if (barrier) {
        std::optional<Time>& last = lastOpening_[roleIndex(*barrier)];
        if (last && now - *last < OpeningGap)
            return false;
        last = now;
    }
    recent_.push_back(now);
    return true;
}

} // namespace parking

#include "ReaderPresence.h"

namespace parking::osdp {

ReaderPresence::ReaderPresence(TimePoint since, std::chrono::milliseconds offlineAfter)
    : since_(since), offlineAfter_(offlineAfter)
{
}

ReaderPresence::Proof ReaderPresence::proven(TimePoint now)
{
    lastProof_ = now;
    if (proven_)
        return Proof::Nothing;
    proven_ = true;
    if (up_)
        return Proof::Restarted;
    up_ = true;
    reported_ = true;
    return Proof::CameOnline;
}

bool ReaderPresence::silent(TimePoint now) const
{
    const auto from = silentFrom();
    return from && now >= *from;
}

std::optional<TimePoint> ReaderPresence::silentFrom() const
{
    if (up_)
        return lastProof_ + offlineAfter_;
    if (!reported_)
        return since_ + offlineAfter_;
    return std::nullopt;
}

void ReaderPresence::wentOffline()
{
    up_ = false;
    reported_ = true;
}

bool ReaderPresence::statusChanged(const LocalStatus& status)
{
    if (status_ == status)
        return false;
    status_ = status;
    return true;
}

bool ReaderPresence::inputsChanged(const Bytes& states)
{
    if (inputs_ == states)
        return false;
    inputs_ = states;
    return true;
}

} // namespace parking::osdp

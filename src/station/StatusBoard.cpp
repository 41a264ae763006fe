#include "StatusBoard.h"


namespace parking {

void DecisionHistogram::add(double seconds)
{
    for (std::size_t i = 0; i < Bounds.size(); ++i) {
        if (seconds <= Bounds[i]) {
            ++buckets[i];
            break;
        }
    }
    ++count;
    sum += seconds;
}

double StatusSnapshot::outageSeconds(const QDateTime& now) const
{
    double seconds = pastOutageSeconds;
    if (outageSince.isValid() && now > outageSince)
        seconds += static_cast<double>(outageSince.msecsTo(now)) / 1000.0;
    return seconds;
}

std::vector<Outcome> outcomesOf(StationRole station)
{
    if (station == StationRole::Exit)
        return {Outcome::Granted, Outcome::Error};
    return {Outcome::Granted,          Outcome::Full,           Outcome::Error,          Outcome::SubscriberUnknown,
            Outcome::OutsideTimetable, Outcome::ReceiptsUnpaid, Outcome::FeeNotCurrent,  Outcome::SubscriberBlocked,
            Outcome::OutsideFeeHours,  Outcome::EntryTooSoon};
}

StatusBoard::StatusBoard(const Clock& clock, QString version) : clock_(clock)
{
    s_.version = std::move(version);
    s_.startedAt = clock.now();
    // Every outcome a station can have is there from the start, at zero, so
    // a rate or an alert on it has a series before the first passage.
    for (StationRole role : BothStations) {
        for (Outcome o : outcomesOf(role))
            station(role).passages[o] = 0;
    }
    for (DatabaseCall call : AllDatabaseCalls)
        s_.deadlinesExceeded[call] = 0;
    s_.offlineDecisions[true] = 0;
    s_.offlineDecisions[false] = 0;
}

StatusSnapshot StatusBoard::snapshot() const
{
    const std::lock_guard lock(mutex_);
    return s_;
}

void StatusBoard::setInstallation(const QString& name, int capacity)
{
    const std::lock_guard lock(mutex_);
    s_.installation = name.trimmed();
    s_.capacity = capacity;
}

void StatusBoard::setFreeSpaces(int value)
{
    const std::lock_guard lock(mutex_);
    s_.freeSpaces = value;
}

void StatusBoard::setInService(bool inService)
{
    const std::lock_guard lock(mutex_);
    s_.inService = inService;
}

void StatusBoard::setReaderOnline(StationRole number, bool online)
{
    const QDateTime now = clock_.now();
    const std::lock_guard lock(mutex_);
    StationStatus& st = station(number);
    if (st.readerSince.isValid() && st.readerOnline == online)
        return;
    if (st.readerSince.isValid() && !online)
        ++st.offlineTransitions;
    st.readerOnline = online;
    st.readerSince = now;
}

void StatusBoard::setSecureChannel(StationRole number, SecureChannelState state)
{
    const std::lock_guard lock(mutex_);
    station(number).secureChannel = state;
}

void StatusBoard::setReaderCondition(StationRole number, std::optional<bool> tamper, std::optional<bool> powerOk,
                                     bool installKeyOnly)
{
    std::lock_guard lock(mutex_);
    StationStatus& st = station(number);
    st.tamper = tamper;
    st.powerOk = powerOk;
    st.installKeyOnly = installKeyOnly;
}

void StatusBoard::setDisplay(StationRole number, const QString& text)
{
    const std::lock_guard lock(mutex_);
    station(number).display = text;
}

void StatusBoard::countPassage(StationRole number, Outcome outcome)
{
    const std::lock_guard lock(mutex_);
    ++station(number).passages[outcome];
}

void StatusBoard::decisionTook(double seconds)
{
    const std::lock_guard lock(mutex_);
    s_.decisions.add(seconds);
}

void StatusBoard::setDatabaseConnected(bool connected, const QDateTime& since)
{
    const QDateTime now = since.isValid() ? since : clock_.now();
    const std::lock_guard lock(mutex_);
    if (connected && s_.outageSince.isValid()) {
        s_.pastOutageSeconds = s_.outageSeconds(now);
        s_.outageSince = {};
    } else if (!connected && s_.databaseConnected) {
        s_.outageSince = now;
        s_.offlineDecisionsThisOutage = 0;
    }
    s_.databaseConnected = connected;
}

void StatusBoard::setReplica(const ReplicaState& state)
{
    const std::lock_guard lock(mutex_);
    s_.replicaEnabled = state.enabled;
    s_.replicaRefreshedAt = state.refreshedAt;
    s_.replicaRefreshSeconds = state.refreshSeconds;
    s_.replicaCompleteAt = state.completeAt;
    s_.replicaMaxAgeSeconds = state.maxAgeSeconds;
}

void StatusBoard::countOfflineDecision(bool granted)
{
    const std::lock_guard lock(mutex_);
    ++s_.offlineDecisions[granted];
    ++s_.offlineDecisionsThisOutage;
}

void StatusBoard::probeFailed()
{
    const std::lock_guard lock(mutex_);
    ++s_.probeFailures;
}

void StatusBoard::deadlineExceeded(DatabaseCall call)
{
    const std::lock_guard lock(mutex_);
    ++s_.deadlinesExceeded[call];
}

void StatusBoard::setJournalPending(std::size_t pending)
{
    const std::lock_guard lock(mutex_);
    s_.journalPending = pending;
}

void StatusBoard::addGridRow(const StatusGridRow& row)
{
    const std::lock_guard lock(mutex_);
    s_.grid.push_front(row);
    while (s_.grid.size() > GridRows)
        s_.grid.pop_back();
}

} // namespace parking

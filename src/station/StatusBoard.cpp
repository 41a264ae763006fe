#include "StatusBoard.h"

#include "StationView.h"

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

QString outcomeName(AccessResult result)
{
    switch (result) {
    case AccessResult::Granted:
        return outcome::Granted;
    case AccessResult::SubscriberUnknown:
        return QStringLiteral("unknown_subscriber");
    case AccessResult::OutsideTimetable:
        return QStringLiteral("outside_timetable");
    case AccessResult::ReceiptsUnpaid:
        return QStringLiteral("receipts_unpaid");
    case AccessResult::FeeNotCurrent:
        return QStringLiteral("fee_not_current");
    case AccessResult::SubscriberBlocked:
        return QStringLiteral("blocked");
    case AccessResult::OutsideFeeHours:
        return QStringLiteral("outside_fee_hours");
    case AccessResult::EntryTooSoon:
        return QStringLiteral("entry_too_soon");
    }
    return QStringLiteral("refused_%1").arg(static_cast<int>(result));
}

StatusBoard::StatusBoard(const Clock& clock, QString version) : clock_(clock)
{
    s_.version = std::move(version);
    s_.startedAt = clock.now();
    // Every outcome a station can have is there from the start, at zero, so
    // a rate or an alert on it has a series before the first passage.
    for (const QString& name : {outcome::Granted, outcome::Full, outcome::Error})
        s_.stations[0].passages[name] = 0;
    for (int code = int(AccessResult::SubscriberUnknown); code <= int(AccessResult::EntryTooSoon); ++code)
        s_.stations[0].passages[outcomeName(static_cast<AccessResult>(code))] = 0;
    for (const QString& name : {outcome::Granted, outcome::Error})
        s_.stations[1].passages[name] = 0;
    for (StationStatus& st : s_.stations)
        st.secureChannel = QStringLiteral("none");
    for (DatabaseCall call : AllDatabaseCalls)
        s_.deadlinesExceeded[call] = 0;
}

StatusSnapshot StatusBoard::snapshot() const
{
    const std::lock_guard lock(mutex_);
    return s_;
}

StationStatus& StatusBoard::station(int number)
{
    return s_.stations[stationIndex(number)];
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

void StatusBoard::setReaderOnline(int number, bool online)
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

void StatusBoard::setSecureChannel(int number, const QString& state)
{
    const std::lock_guard lock(mutex_);
    station(number).secureChannel = state;
}

void StatusBoard::setReaderCondition(int number, std::optional<bool> tamper, std::optional<bool> powerOk,
                                     bool installKeyOnly)
{
    std::lock_guard lock(mutex_);
    StationStatus& st = station(number);
    st.tamper = tamper;
    st.powerOk = powerOk;
    st.installKeyOnly = installKeyOnly;
}

void StatusBoard::setDisplay(int number, const QString& text)
{
    const std::lock_guard lock(mutex_);
    station(number).display = text;
}

void StatusBoard::countPassage(int number, const QString& outcomeName)
{
    const std::lock_guard lock(mutex_);
    ++station(number).passages[outcomeName];
}

void StatusBoard::decisionTook(double seconds)
{
    const std::lock_guard lock(mutex_);
    s_.decisions.add(seconds);
}

void StatusBoard::setDatabaseConnected(bool connected)
{
    const QDateTime now = clock_.now();
    const std::lock_guard lock(mutex_);
    if (connected && s_.outageSince.isValid()) {
        s_.pastOutageSeconds = s_.outageSeconds(now);
        s_.outageSince = {};
    } else if (!connected && s_.databaseConnected) {
        s_.outageSince = now;
    }
    s_.databaseConnected = connected;
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

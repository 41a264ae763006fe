#include "StationEvents.h"

#include <algorithm>

namespace parking {

Outcome outcomeOf(AccessResult result)
{
    switch (result) {
    case AccessResult::Granted:
        return Outcome::Granted;
    case AccessResult::SubscriberUnknown:
        return Outcome::SubscriberUnknown;
    case AccessResult::OutsideTimetable:
        return Outcome::OutsideTimetable;
    case AccessResult::ReceiptsUnpaid:
        return Outcome::ReceiptsUnpaid;
    case AccessResult::FeeNotCurrent:
        return Outcome::FeeNotCurrent;
    case AccessResult::SubscriberBlocked:
        return Outcome::SubscriberBlocked;
    case AccessResult::OutsideFeeHours:
        return Outcome::OutsideFeeHours;
    case AccessResult::EntryTooSoon:
        return Outcome::EntryTooSoon;
    }
    return Outcome::Error;
}

void StationOutputs::subscribe(StationEvents* listener)
{
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void StationOutputs::unsubscribe(StationEvents* listener)
{
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void StationOutputs::readerOnline(StationRole station, bool online)
{
    tell([&](StationEvents& l) { l.readerOnline(station, online); });
}
void StationOutputs::secureChannelChanged(StationRole station, SecureChannelState state)
{
    tell([&](StationEvents& l) { l.secureChannelChanged(station, state); });
}
void StationOutputs::readerConditionChanged(StationRole station, const ReaderCondition& condition)
{
    tell([&](StationEvents& l) { l.readerConditionChanged(station, condition); });
}
void StationOutputs::readerActed(StationRole station, const ReaderAction& action)
{
    tell([&](StationEvents& l) { l.readerActed(station, action); });
}
void StationOutputs::passageEnded(StationRole station, Outcome outcome)
{
    tell([&](StationEvents& l) { l.passageEnded(station, outcome); });
}
void StationOutputs::offlineDecision(StationRole station, Outcome outcome)
{
    tell([&](StationEvents& l) { l.offlineDecision(station, outcome); });
}
void StationOutputs::replicaChanged(const ReplicaState& state)
{
    tell([&](StationEvents& l) { l.replicaChanged(state); });
}
void StationOutputs::decisionMade(std::chrono::duration<double> time)
{
    tell([&](StationEvents& l) { l.decisionMade(time); });
}
void StationOutputs::freeSpacesChanged(int freeSpaces)
{
    tell([&](StationEvents& l) { l.freeSpacesChanged(freeSpaces); });
}
void StationOutputs::freeSpacesSettingRefused()
{
    tell([](StationEvents& l) { l.freeSpacesSettingRefused(); });
}
void StationOutputs::installationRead(const QString& name, int capacity, int freeSpaces)
{
    tell([&](StationEvents& l) { l.installationRead(name, capacity, freeSpaces); });
}
void StationOutputs::inServiceChanged(bool inService)
{
    tell([&](StationEvents& l) { l.inServiceChanged(inService); });
}
void StationOutputs::stationsClosed()
{
    tell([](StationEvents& l) { l.stationsClosed(); });
}
void StationOutputs::logWritten(const QString& line)
{
    tell([&](StationEvents& l) { l.logWritten(line); });
}
void StationOutputs::gridReset(int rowCount)
{
    tell([&](StationEvents& l) { l.gridReset(rowCount); });
}
void StationOutputs::gridRowWritten(int row, const AccessRow& access, bool red)
{
    tell([&](StationEvents& l) { l.gridRowWritten(row, access, red); });
}
void StationOutputs::alerted(const Alert& alert)
{
    tell([&](StationEvents& l) { l.alerted(alert); });
}
void StationOutputs::databaseStateChanged(DatabaseState state, const QDateTime& since)
{
    tell([&](StationEvents& l) { l.databaseStateChanged(state, since); });
}
void StationOutputs::probeFailed()
{
    tell([](StationEvents& l) { l.probeFailed(); });
}
void StationOutputs::databaseDeadlineExceeded(DatabaseCall call)
{
    tell([&](StationEvents& l) { l.databaseDeadlineExceeded(call); });
}
void StationOutputs::journalPendingChanged(std::size_t pending)
{
    tell([&](StationEvents& l) { l.journalPendingChanged(pending); });
}

// ---- the trace ----------------------------------------------------------------

void TraceView::readerOnline(StationRole station, bool online)
{
    shown(QStringLiteral("light %1 %2")
              .arg(stationNumber(station))
              .arg(online ? QStringLiteral("green") : QStringLiteral("red")));
}

void TraceView::readerActed(StationRole station, const ReaderAction& action)
{
    const int n = stationNumber(station);
    switch (action.kind) {
    case ReaderAction::Kind::PortOpened:
        return shown(QStringLiteral("port %1 |%2|").arg(n).arg(action.text));
    case ReaderAction::Kind::SetUp:
        return shown(QStringLiteral("setup %1").arg(n));
    case ReaderAction::Kind::RelayPulsed:
        return shown(QStringLiteral("relay %1 %2 %3").arg(n).arg(action.output).arg(action.tenths));
    case ReaderAction::Kind::Shown:
        return shown(QStringLiteral("display %1 |%2|").arg(n).arg(action.text));
    case ReaderAction::Kind::PortClosed:
        return shown(QStringLiteral("closeport %1").arg(n));
    case ReaderAction::Kind::RefusalShown:
        return shown(QStringLiteral("refusal %1").arg(n));
    }
}

void TraceView::freeSpacesChanged(int freeSpaces)
{
    shown(QStringLiteral("plazas %1").arg(freeSpaces));
}

void TraceView::logWritten(const QString& line)
{
    sink_(line);
}

void TraceView::gridRowWritten(int row, const AccessRow& access, bool red)
{
    shown(QStringLiteral("grid %1 %2 %3 |%4| %5")
              .arg(row)
              .arg(stationNumber(access.station))
              .arg(access.subscriber)
              .arg(access.text, red ? QStringLiteral("red") : QStringLiteral("black")));
}

void TraceView::alerted(const Alert& alert)
{
    shown(QStringLiteral("alert |") + alert.text + QLatin1Char('|'));
}

void TraceView::databaseStateChanged(DatabaseState state, const QDateTime&)
{
    // The progress window of a running reconnection, as the operator sees it.
    const bool reconnecting = state == DatabaseState::Reconnecting;
    if (reconnecting == progressShown_)
        return;
    progressShown_ = reconnecting;
    shown(reconnecting ? QStringLiteral("progress show") : QStringLiteral("progress hide"));
}

} // namespace parking

#include "StationView.h"

#include <algorithm>

namespace parking {

void StationOutputs::subscribe(StationView* view)
{
    if (view && std::find(views_.begin(), views_.end(), view) == views_.end())
        views_.push_back(view);
}

void StationOutputs::unsubscribe(StationView* view)
{
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

void StationOutputs::setLights(int station, bool greenVisible, bool redVisible)
{
    tell([&](StationView& v) { v.setLights(station, greenVisible, redVisible); });
}
void StationOutputs::setFreeSpacesCaption(int freeSpaces)
{
    tell([&](StationView& v) { v.setFreeSpacesCaption(freeSpaces); });
}
void StationOutputs::setFreeSpacesText(const QString& text)
{
    tell([&](StationView& v) { v.setFreeSpacesText(text); });
}
void StationOutputs::logWritten(const QString& line)
{
    tell([&](StationView& v) { v.logWritten(line); });
}
void StationOutputs::gridReset(int rowCount)
{
    tell([&](StationView& v) { v.gridReset(rowCount); });
}
void StationOutputs::gridRowWritten(int row, const AccessRow& access, bool red)
{
    tell([&](StationView& v) { v.gridRowWritten(row, access, red); });
}
void StationOutputs::alert(const QString& text, const QString& title, AlertIcon icon)
{
    tell([&](StationView& v) { v.alert(text, title, icon); });
}
void StationOutputs::beep()
{
    tell([&](StationView& v) { v.beep(); });
}
void StationOutputs::showProgress()
{
    tell([&](StationView& v) { v.showProgress(); });
}
void StationOutputs::hideProgress()
{
    tell([&](StationView& v) { v.hideProgress(); });
}
void StationOutputs::closeWindow()
{
    tell([&](StationView& v) { v.closeWindow(); });
}
void StationOutputs::readerTraced(const QString& what)
{
    tell([&](StationView& v) { v.readerTraced(what); });
}
void StationOutputs::displayShown(int station, const QString& text)
{
    tell([&](StationView& v) { v.displayShown(station, text); });
}
void StationOutputs::secureChannelChanged(int station, const QString& state)
{
    tell([&](StationView& v) { v.secureChannelChanged(station, state); });
}
void StationOutputs::readerConditionChanged(int station, std::optional<bool> tamper, std::optional<bool> powerOk,
                                            bool installKeyOnly)
{
    tell([&](StationView& v) { v.readerConditionChanged(station, tamper, powerOk, installKeyOnly); });
}
void StationOutputs::passageCounted(int station, const QString& outcome)
{
    tell([&](StationView& v) { v.passageCounted(station, outcome); });
}
void StationOutputs::decisionTimed(double seconds)
{
    tell([&](StationView& v) { v.decisionTimed(seconds); });
}
void StationOutputs::installationRead(const QString& name, int capacity)
{
    tell([&](StationView& v) { v.installationRead(name, capacity); });
}
void StationOutputs::inServiceChanged(bool inService)
{
    tell([&](StationView& v) { v.inServiceChanged(inService); });
}
void StationOutputs::journalPendingChanged(std::size_t pending)
{
    tell([&](StationView& v) { v.journalPendingChanged(pending); });
}
void StationOutputs::databaseOpened()
{
    tell([](StationView& v) { v.databaseOpened(); });
}
void StationOutputs::probeFailed()
{
    tell([](StationView& v) { v.probeFailed(); });
}

void StationOutputs::databaseAnswering(bool answering)
{
    tell([answering](StationView& v) { v.databaseAnswering(answering); });
}

void StationOutputs::databaseDeadlineExceeded(DatabaseCall call)
{
    tell([call](StationView& v) { v.databaseDeadlineExceeded(call); });
}

void TraceView::setLights(int station, bool greenVisible, bool)
{
    shown(QStringLiteral("light %1 %2").arg(station).arg(greenVisible ? QStringLiteral("green") : QStringLiteral("red")));
}

void TraceView::setFreeSpacesCaption(int freeSpaces)
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
              .arg(access.station)
              .arg(access.subscriber)
              .arg(access.text, red ? QStringLiteral("red") : QStringLiteral("black")));
}

void TraceView::alert(const QString& text, const QString&, AlertIcon)
{
    shown(QStringLiteral("alert |") + text + QLatin1Char('|'));
}

void TraceView::showProgress()
{
    shown(QStringLiteral("progress show"));
}

void TraceView::hideProgress()
{
    shown(QStringLiteral("progress hide"));
}

void TraceView::readerTraced(const QString& what)
{
    shown(what);
}

} // namespace parking

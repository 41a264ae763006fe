#include "ConnectionMonitor.h"

#include "StationView.h"

namespace parking {

ConnectionMonitor::ConnectionMonitor(ConnectionFactory factory, EventLog& log, TimerSource& timers)
    : log_(log), probeTimer_(timers.make(ProbeInterval, [this] { probe(); })), database_(std::move(factory), *this)
{
}

bool ConnectionMonitor::connect(Settings& settings, const QString& configPath, const QString& programFolder)
{
    return database_.connect(settings, configPath, programFolder);
}

void ConnectionMonitor::probe()
{
    if (!probeTimer_->isActive() || database_.probing())
        return;
    database_.checkConnection();
    if (afterProbe_ && probeTimer_->isActive())
        afterProbe_();
}

void ConnectionMonitor::showFatal(const QString& text, const QString& title)
{
    log_.trace(QStringLiteral("> alert |") + text + QLatin1Char('|'));
    if (view_)
        view_->alert(text, title, AlertIcon::Critical);
}

void ConnectionMonitor::showProgress()
{
    log_.trace(QStringLiteral("> progress show"));
    // The progress window shows for as long as the database is out of reach.
    if (status_)
        status_->setDatabaseConnected(false);
    if (view_)
        view_->showProgress();
}

void ConnectionMonitor::hideProgress()
{
    log_.trace(QStringLiteral("> progress hide"));
    if (status_)
        status_->setDatabaseConnected(true);
    if (view_)
        view_->hideProgress();
}

void ConnectionMonitor::reportFailure(const QString& what)
{
    log_.write(QStringLiteral("ERROR de conexión: ") + what);
}

void ConnectionMonitor::probeFailed()
{
    if (status_)
        status_->probeFailed();
}

void ConnectionMonitor::pumpEvents(std::chrono::milliseconds wait)
{
    pumpQtEvents(wait);
}

} // namespace parking

#include "ConnectionMonitor.h"

#include "StationView.h"

namespace parking {

ConnectionMonitor::ConnectionMonitor(ConnectionFactory factory, EventLog& log, TimerSource& timers,
                                     StationView& outputs)
    : log_(log), outputs_(outputs), probeTimer_(timers.make(ProbeInterval, [this] { probe(); })),
      database_(std::move(factory), *this)
{
}

bool ConnectionMonitor::connect(const DatabaseSettings& settings)
{
    return database_.connect(settings);
}

void ConnectionMonitor::probe()
{
    if (!probeTimer_->isActive() || database_.probing())
        return;
    database_.startProbe([this] {
        if (afterProbe_ && probeTimer_->isActive())
            afterProbe_();
    });
}

void ConnectionMonitor::showFatal(const QString& text, const QString& title)
{
    outputs_.alert(text, title, AlertIcon::Critical);
}

void ConnectionMonitor::showProgress()
{
    // The progress window shows for as long as the database is out of reach.
    outputs_.showProgress();
}

void ConnectionMonitor::hideProgress()
{
    outputs_.hideProgress();
}

void ConnectionMonitor::reportFailure(const QString& what)
{
    log_.write(QStringLiteral("ERROR de conexión: ") + what);
}

void ConnectionMonitor::probeFailed()
{
    outputs_.probeFailed();
}

void ConnectionMonitor::note(const QString& line)
{
    log_.write(line);
}

void ConnectionMonitor::deadlineExceeded(DatabaseCall call)
{
    outputs_.databaseDeadlineExceeded(call);
}

void ConnectionMonitor::answeringChanged(bool answering)
{
    outputs_.databaseAnswering(answering);
}

void ConnectionMonitor::stalled()
{
    // A fresh connection is looked for now: the passages meanwhile take
    // the outage path at once.
    probe();
}

} // namespace parking

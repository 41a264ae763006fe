#include "ConnectionMonitor.h"

#include "StationEvents.h"

namespace parking {

namespace {

// The event log's words for a kind of call.
QString callWords(DatabaseCall call)
{
    switch (call) {
    case DatabaseCall::Decision:
        return QStringLiteral("decisión de entrada");
    case DatabaseCall::CardLookUp:
        return QStringLiteral("búsqueda de tarjeta");
    case DatabaseCall::PassageWrite:
        return QStringLiteral("escritura del paso");
    case DatabaseCall::Replay:
        return QStringLiteral("diario");
    case DatabaseCall::FreeSpaces:
        return QStringLiteral("plazas");
    case DatabaseCall::StartUp:
        return QStringLiteral("arranque");
    case DatabaseCall::Probe:
        return QStringLiteral("sondeo");
    case DatabaseCall::Reconnection:
        return QStringLiteral("conexión");
    case DatabaseCall::Replica:
        return QStringLiteral("réplica");
    }
    return QString();
}

} // namespace

ConnectionMonitor::ConnectionMonitor(ConnectionFactory factory, EventLog& log, const Clock& clock, TimerSource& timers,
                                     StationEvents& outputs)
    : log_(log), clock_(clock), outputs_(outputs), probeTimer_(timers.make(ProbeInterval, [this] { probe(); })),
      database_(std::move(factory), *this)
{
}

bool ConnectionMonitor::connect(const DatabaseSettings& settings)
{
    if (!database_.connect(settings))
        return false;
    outputs_.databaseStateChanged(DatabaseState::Answering, clock_.now());
    return true;
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

void ConnectionMonitor::startUpFailed(StartUpFailure why)
{
    if (why == StartUpFailure::NoDataSource)
        outputs_.alerted({Alert::Kind::NoDataSource, QStringLiteral("Hay que definir SID dentro de [Conexion]")});
    else
        outputs_.alerted({Alert::Kind::NoDatabase, QStringLiteral("No hay Conexión a la Base de Datos")});
}

void ConnectionMonitor::failed(const QString& what)
{
    log_.write(QStringLiteral("ERROR de conexión: ") + what);
}

void ConnectionMonitor::stateChanged(DatabaseState state)
{
    outputs_.databaseStateChanged(state, clock_.now());
    // A call's deadline passed: a fresh connection is looked for now, and
    // the passages meanwhile take the outage path at once.
    if (state == DatabaseState::NotAnswering)
        probe();
}

void ConnectionMonitor::probeFailed()
{
    outputs_.probeFailed();
}

void ConnectionMonitor::deadlineExceeded(DatabaseCall call)
{
    outputs_.databaseDeadlineExceeded(call);
}

void ConnectionMonitor::lateAnswer(DatabaseCall call, std::chrono::milliseconds after, const QString& error)
{
    const QString line = QStringLiteral("Respuesta tardía de la base de datos (%1) tras %2 ms: no se usa")
                             .arg(callWords(call))
                             .arg(after.count());
    log_.write(error.isEmpty() ? line : line + QStringLiteral(" (") + error + QLatin1Char(')'));
}

} // namespace parking

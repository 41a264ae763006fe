#include "Database.h"

#include "ConnectionString.h"
#include "DatabaseError.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace parking {

namespace {

const QString ProbeStatement = QStringLiteral("SELECT USER FROM DUAL");
// A probe that has not come back by then counts as failed.
constexpr std::chrono::seconds ProbeLimit{10};

ConnectionOptions startupOptions()
{
    return {1048576, 3, 15};
}

ConnectionOptions reconnectOptions()
{
    return {1048576, 3, 10};
}

} // namespace

Database::Database(ConnectionFactory factory, ConnectionUi& ui)
    : factory_(std::move(factory)), ui_(ui)
{
}

namespace {

// What a worker thread left: done, and what it threw.
struct Outcome {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::exception_ptr error;
};

} // namespace

void Database::waitFor(const std::function<void()>& work, std::chrono::seconds limit, bool handleEvents)
{
    // The worker owns what it works on (the lambda holds the connection), so
    // a worker given up on can finish, or not, in its own time.
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, work] {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(outcome->mutex);
        outcome->done = true;
        outcome->error = error;
        outcome->changed.notify_all();
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A database that answers does so within a few milliseconds: events are
    // handled only when the wait goes on longer than that.
    auto slice = std::chrono::milliseconds(50);
    for (;;) {
        {
            std::unique_lock lock(outcome->mutex);
            outcome->changed.wait_for(lock, slice, [&] { return outcome->done; });
            slice = std::chrono::milliseconds(handleEvents ? 0 : 50);
            if (outcome->done) {
                if (outcome->error)
                    std::rethrow_exception(outcome->error);
                return;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
            throw DatabaseError(QStringLiteral("The database did not answer within %1 seconds").arg(limit.count()));
        if (handleEvents)
            ui_.pumpEvents(std::chrono::milliseconds(20));
    }
}

bool Database::ConnectDatabase(Settings& settings, const QString& configPath,
                               const QString& programFolder)
{
    if (auto error = LoadSettings(settings, configPath, programFolder)) {
        ui_.showFatal(error->message, QStringLiteral("Error"));
        return false;
    }
    settings.BaseDatos = QStringLiteral("SQL");
    settings.ServidorBD = QStringLiteral("ODBC.DLL");
    if (settings.SidBD.trimmed().isEmpty()) {
        ui_.showFatal(QStringLiteral("Hay que definir SID dentro de [Conexion]"), ApplicationTitle);
        return false;
    }
    cadenaConexion_ = buildConnectionString(settings.SidBD.text());
    conexion_ = factory_(cadenaConexion_);
    auto connection = conexion_;
    // No window is up yet during start-up: the wait blocks, and no timer or
    // reader event can run before the connection exists.
    const QString cadena = cadenaConexion_;
    try {
        waitFor(
            [connection, cadena] {
                connection->open(cadena, startupOptions());
                // Servers that do not know the statement (Oracle, the
                // embedded database) reject it; the connection stays open
                // all the same.
                try {
                    connection->execute(QStringLiteral("SET LOCK_TIMEOUT 0"));
                } catch (const DatabaseError&) {
                }
            },
            std::chrono::seconds(startupOptions().timeoutSeconds), false);
    } catch (const std::exception& e) {
        if (!connection->isOpen())
            ui_.reportFailure(QString::fromUtf8(e.what()));
    }
    if (!connection->isOpen()) {
        ui_.showFatal(QStringLiteral("No hay Conexión a la Base de Datos"), QStringLiteral("Error"));
        return false;
    }
    return true;
}

void Database::CheckConnection()
{
    if (probing_)
        return;
    probing_ = true;
    reported_.clear();
    int attempts = 0;
    bool HayError = true;
    bool ProgresoVisible = false;
    while (HayError) {
        ++attempts;
        HayError = false;
        try {
            auto connection = conexion_;
            waitFor([connection] { connection->execute(ProbeStatement); }, ProbeLimit, true);
        } catch (const std::exception& e) {
            HayError = true;
            report(QStringLiteral("Probe failed: ") + QString::fromUtf8(e.what()));
        }
        if (HayError)
            Reconnect(HayError);
        if (!ProgresoVisible && HayError) {
            ui_.showProgress();
            ProgresoVisible = true;
        }
        ui_.pumpEvents(HayError ? retryPause_ : std::chrono::milliseconds(0));
    }
    if (ProgresoVisible)
        ui_.hideProgress();
    if (!reported_.isEmpty())
        ui_.reportFailure(QStringLiteral("Connection restored after %1 reconnection attempts").arg(attempts));
    probing_ = false;
}

void Database::report(const QString& failure)
{
    // An outage retried every second would fill the log with the same
    // lines: each different failure is reported once per outage.
    if (reported_.contains(failure))
        return;
    reported_.insert(failure);
    ui_.reportFailure(failure);
}

void Database::Reconnect(bool& failed)
{
    failed = false;
    try {
        conexion_ = factory_(cadenaConexion_);
        auto connection = conexion_;
        waitFor([connection, cadena = cadenaConexion_] { connection->open(cadena, reconnectOptions()); },
                std::chrono::seconds(reconnectOptions().timeoutSeconds), true);
    } catch (const std::exception& e) {
        failed = true;
        report(QStringLiteral("Reconnection failed: ") + QString::fromUtf8(e.what()));
    }
}

} // namespace parking

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace parking {

void pumpQtEvents(std::chrono::milliseconds wait)
{
    if (wait.count() <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(wait, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace parking

#include "Database.h"

#include "ConnectionString.h"
#include "DatabaseError.h"

#include <future>

namespace parking {

namespace {

const QString ProbeStatement = QStringLiteral("SELECT USER FROM DUAL");

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

void Database::waitFor(const std::function<void()>& work)
{
    auto done = std::async(std::launch::async, work);
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        ui_.pumpEvents(std::chrono::milliseconds(20));
    done.get();
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
    try {
        connection->open(cadenaConexion_, startupOptions());
        // Servers that do not know the statement (Oracle, the embedded
        // database) reject it; the connection stays open all the same.
        connection->execute(QStringLiteral("SET LOCK_TIMEOUT 0"));
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
    bool HayError = true;
    bool ProgresoVisible = false;
    while (HayError) {
        HayError = false;
        try {
            auto connection = conexion_;
            waitFor([connection] { connection->execute(ProbeStatement); });
        } catch (const std::exception& e) {
            HayError = true;
            ui_.reportFailure(QStringLiteral("Probe failed: ") + QString::fromUtf8(e.what()));
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
    probing_ = false;
}

void Database::Reconnect(bool& failed)
{
    failed = false;
    try {
        conexion_ = factory_(cadenaConexion_);
        auto connection = conexion_;
        waitFor([&] { connection->open(cadenaConexion_, reconnectOptions()); });
    } catch (const std::exception& e) {
        failed = true;
        ui_.reportFailure(QStringLiteral("Reconnection failed: ") + QString::fromUtf8(e.what()));
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

#include "Database.h"

#include "ConnectionString.h"
#include "DatabaseError.h"


namespace parking {

namespace {

ConnectionOptions options(std::chrono::seconds timeout, const std::optional<Credentials>& credentials)
{
    return {static_cast<int>(timeout.count()), credentials};
}

} // namespace

Database::Database(ConnectionFactory factory, ConnectionUi& ui)
    : factory_(std::move(factory)), ui_(ui)
{
}

void Database::waitFor(const std::function<void()>& work, std::chrono::seconds limit, bool handleEvents)
{
    const auto outcome = worker_.post(work);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A database that answers does so within a few milliseconds: events are
    // handled only when the wait goes on longer than that.
    auto slice = std::chrono::milliseconds(50);
    for (;;) {
        if (outcome->waitDone(slice)) {
            if (auto error = outcome->error())
                std::rethrow_exception(error);
            return;
        }
        slice = std::chrono::milliseconds(handleEvents ? 0 : 50);
        if (std::chrono::steady_clock::now() >= deadline)
            throw DatabaseError(QStringLiteral("The database did not answer within %1 seconds").arg(limit.count()));
        if (handleEvents)
            ui_.pumpEvents(std::chrono::milliseconds(20));
    }
}

bool Database::connect(const DatabaseSettings& settings)
{
    if (settings.dataSource.trimmed().isEmpty()) {
        ui_.showFatal(QStringLiteral("Hay que definir SID dentro de [Conexion]"), ApplicationTitle);
        return false;
    }
    const QString credentialsFile = credentialsPath(settings.credentialsFile, settings.configFolder);
    if (!credentialsFile.isEmpty()) {
        auto loaded = loadCredentials(credentialsFile);
        if (const auto* fault = std::get_if<QString>(&loaded)) {
            ui_.reportFailure(*fault);
            ui_.showFatal(QStringLiteral("No hay Conexión a la Base de Datos"), QStringLiteral("Error"));
            return false;
        }
        credentials_ = std::get<Credentials>(std::move(loaded));
    }
    connectionString_ = buildConnectionString(settings.dataSource);
    connection_ = factory_(connectionString_);
    auto connection = connection_;
    // No window is up yet during start-up: the wait blocks, and no timer or
    // reader event can run before the connection exists.
    try {
        waitFor(
            [connection, text = connectionString_, o = options(StartUpTimeout, credentials_)] {
                connection->open(text, o);
            },
            StartUpTimeout, false);
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

void Database::checkConnection()
{
    if (probing_)
        return;
    probing_ = true;
    reported_.clear();
    int attempts = 0;
    bool failing = true;
    bool progressShown = false;
    while (failing) {
        ++attempts;
        failing = false;
        try {
            auto connection = connection_;
            waitFor([connection] { connection->execute(ProbeStatement); }, ProbeLimit, true);
        } catch (const std::exception& e) {
            failing = true;
            ui_.probeFailed();
            report(QStringLiteral("Probe failed: ") + QString::fromUtf8(e.what()));
        }
        if (failing)
            failing = !reconnect();
        if (!progressShown && failing) {
            ui_.showProgress();
            progressShown = true;
        }
        ui_.pumpEvents(failing ? retryPause_ : std::chrono::milliseconds(0));
    }
    if (progressShown)
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

bool Database::reconnect()
{
    try {
        connection_ = factory_(connectionString_);
        auto connection = connection_;
        waitFor([connection, text = connectionString_, o = options(ReconnectTimeout, credentials_)] {
                connection->open(text, o);
            },
                ReconnectTimeout, true);
        return true;
    } catch (const std::exception& e) {
        report(QStringLiteral("Reconnection failed: ") + QString::fromUtf8(e.what()));
        return false;
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

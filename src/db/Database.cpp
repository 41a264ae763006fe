#include "Database.h"

#include "ConnectionString.h"
#include "DatabaseError.h"

#include <QTimer>

#include <utility>


namespace parking {

namespace {

ConnectionOptions options(std::chrono::seconds timeout, const std::optional<Credentials>& credentials)
{
    return {static_cast<int>(timeout.count()), credentials};
}

DatabaseError noAnswer(std::chrono::seconds limit)
{
    return DatabaseError(QStringLiteral("The database did not answer within %1 seconds").arg(limit.count()));
}

QString whatFailed(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown fault");
    }
}

} // namespace

Database::Database(ConnectionFactory factory, ConnectionUi& ui)
    : factory_(std::move(factory)), ui_(ui)
{
}

void Database::waitFor(const std::function<void()>& work, std::chrono::seconds limit)
{
    const auto outcome = worker_.post(work);
    if (!outcome->waitDone(limit))
        throw noAnswer(limit);
    if (auto error = outcome->error())
        std::rethrow_exception(error);
}

void Database::runThen(std::function<void()> work, std::chrono::seconds limit,
                       std::function<void(std::exception_ptr)> then)
{
    const quint64 step = ++step_;
    auto answer = [this, step, then = std::move(then)](std::exception_ptr error) {
        if (step != step_)
            return;
        ++step_;
        then(error);
    };
    // The job only hands its outcome over; `context_` outlives the worker.
    worker_.post([this, work = std::move(work), answer] {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&context_, [answer, error] { answer(error); }, Qt::QueuedConnection);
    });
    QTimer::singleShot(limit, &context_, [answer, limit] {
        answer(std::make_exception_ptr(noAnswer(limit)));
    });
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
            StartUpTimeout);
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

bool Database::startProbe(std::function<void()> restored)
{
    if (probing_)
        return false;
    probing_ = true;
    restored_ = std::move(restored);
    reported_.clear();
    attempts_ = 0;
    progressShown_ = false;
    probeOnce();
    return true;
}

void Database::probeOnce()
{
    ++attempts_;
    auto connection = connection_;
    runThen([connection] { connection->execute(ProbeStatement); }, ProbeLimit, [this](std::exception_ptr error) {
        if (!error) {
            probeEnded();
            return;
        }
        ui_.probeFailed();
        report(QStringLiteral("Probe failed: ") + whatFailed(error));
        reconnectOnce();
    });
}

void Database::reconnectOnce()
{
    std::shared_ptr<Connection> connection;
    try {
        connection = factory_(connectionString_);
    } catch (const std::exception& e) {
        reconnectFailed(QString::fromUtf8(e.what()));
        return;
    }
    connection_ = connection;
    runThen([connection, text = connectionString_, o = options(ReconnectTimeout, credentials_)] {
            connection->open(text, o);
        },
        ReconnectTimeout, [this](std::exception_ptr error) {
            if (error)
                reconnectFailed(whatFailed(error));
            else
                probeEnded();
        });
}

void Database::reconnectFailed(const QString& what)
{
    report(QStringLiteral("Reconnection failed: ") + what);
    if (!progressShown_) {
        ui_.showProgress();
        progressShown_ = true;
    }
    QTimer::singleShot(retryPause_, &context_, [this] { probeOnce(); });
}

void Database::probeEnded()
{
    if (progressShown_)
        ui_.hideProgress();
    if (!reported_.isEmpty())
        ui_.reportFailure(QStringLiteral("Connection restored after %1 reconnection attempts").arg(attempts_));
    probing_ = false;
    if (auto restored = std::exchange(restored_, {}))
        restored();
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

} // namespace parking

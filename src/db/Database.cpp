#include "Database.h"

#include "ConnectionString.h"
#include "DatabaseError.h"

#include <QTimer>

#include <thread>
#include <utility>

namespace parking {

const QString Database::NotAnswering = QStringLiteral("The database is not answering");

namespace {

ConnectionOptions options(std::chrono::seconds timeout, const std::optional<Credentials>& credentials)
{
    return {static_cast<int>(timeout.count()), credentials};
}

DatabaseError noAnswer(std::chrono::milliseconds limit)
{
    return DatabaseError(QStringLiteral("The database did not answer within %1 ms").arg(limit.count()));
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

Database::~Database()
{
    std::vector<std::unique_ptr<DatabaseSession>> all = std::move(setAside_);
    all.push_back(std::move(current_));
    all.push_back(std::move(connecting_));
    // A call that runs gets a moment to end; past it, a server that stopped
    // answering would hold the exit, so the call is ended from here.
    const auto until = std::chrono::steady_clock::now() + ExitGrace;
    for (const auto& s : all) {
        while (s && s->busy() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (const auto& s : all) {
        if (s && s->busy())
            s->abort();
    }
    all.clear(); // joins every session's thread
}

std::unique_ptr<DatabaseSession> Database::newSession(const QString& connectionString)
{
    // The late answer is reported on this thread; `context_` outlives every
    // session, and a queued call to it is dropped if it goes first.
    return std::make_unique<DatabaseSession>(factory_(connectionString), [this](const std::shared_ptr<PendingCall>& call) {
        QMetaObject::invokeMethod(&context_, [this, call] { lateAnswer(*call); }, Qt::QueuedConnection);
    });
}

std::chrono::milliseconds Database::deadline(DatabaseCall kind) const
{
    switch (kind) {
    case DatabaseCall::Decision:
    case DatabaseCall::CardLookUp:
        return readWait_;
    case DatabaseCall::PassageWrite:
    case DatabaseCall::Replay:
    case DatabaseCall::FreeSpaces:
        return writeWait_;
    case DatabaseCall::StartUp:
        return StartUpLimit;
    case DatabaseCall::Probe:
        return probeLimit_;
    case DatabaseCall::Reconnection:
        return ReconnectLimit;
    }
    return readWait_;
}

void Database::wait(DatabaseCall kind, DatabaseSession::Work work)
{
    reapSetAside();
    if (!connected_)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    if (!answering_ || !current_)
        throw DatabaseError(NotAnswering);
    const std::chrono::milliseconds limit = deadline(kind);
    auto& typical = typical_[static_cast<std::size_t>(kind)];
    const auto posted = std::chrono::steady_clock::now();
    const auto call = current_->post(kind, std::move(work));
    // giveUp() fails when the call ended at the very moment: it stands.
    if (call->waitDone(limit, typical) || !call->giveUp()) {
        const auto error = call->error();
        if (!error) {
            const auto took =
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - posted);
            typical = typical.count() == 0 ? took : (typical * 7 + took) / 8;
        }
        if (error)
            std::rethrow_exception(error);
        return;
    }
    deadlinePassed(kind);
    throw noAnswer(limit);
}

void Database::deadlinePassed(DatabaseCall kind)
{
    ui_.deadlineExceeded(kind);
    setAside(std::move(current_));
    setAnswering(false);
    ui_.stalled();
}

void Database::setAside(std::unique_ptr<DatabaseSession> session)
{
    if (!session)
        return;
    if (!session->busy())
        return; // nothing runs on it: its thread ends and its connection closes here
    session->setAsideAt = std::chrono::steady_clock::now();
    setAside_.push_back(std::move(session));
}

void Database::reapSetAside()
{
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(setAside_, [&](const std::unique_ptr<DatabaseSession>& s) {
        if (!s->busy())
            return true;
        if (!s->aborted() && now - s->setAsideAt >= AbandonAfter)
            s->abort();
        return false;
    });
}

void Database::setAnswering(bool answering)
{
    if (answering == answering_)
        return;
    answering_ = answering;
    ui_.answeringChanged(answering);
}

void Database::lateAnswer(const PendingCall& call)
{
    const QString what = QStringLiteral("Respuesta tardía de la base de datos (%1) tras %2 ms: no se usa")
                             .arg(callWords(call.kind()))
                             .arg(call.ran().count());
    const auto error = call.error();
    ui_.note(error ? what + QStringLiteral(" (") + whatFailed(error) + QLatin1Char(')') : what);
    reapSetAside();
}

void Database::runStep(DatabaseSession& session, DatabaseCall kind, std::chrono::milliseconds limit,
                       DatabaseSession::Work work, std::function<void(std::exception_ptr, bool)> then)
{
    const quint64 step = ++step_;
    auto answer = [this, step, then = std::move(then)](std::exception_ptr error, bool timedOut) {
        if (step != step_)
            return;
        ++step_;
        then(error, timedOut);
    };
    const auto call = session.post(kind, [this, work = std::move(work), answer](Connection& c) {
        std::exception_ptr error;
        try {
            work(c);
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&context_, [answer, error] { answer(error, false); }, Qt::QueuedConnection);
        if (error)
            std::rethrow_exception(error);
    });
    QTimer::singleShot(limit, &context_, [this, answer, call, limit, kind] {
        // A call that ended just now has its answer on the way.
        if (!call->giveUp())
            return;
        ui_.deadlineExceeded(kind);
        answer(std::make_exception_ptr(noAnswer(limit)), true);
    });
}

bool Database::connect(const DatabaseSettings& settings)
{
    if (settings.dataSource.trimmed().isEmpty()) {
        ui_.showFatal(QStringLiteral("Hay que definir SID dentro de [Conexion]"), ApplicationTitle);
        return false;
    }
    readWait_ = settings.readWait;
    writeWait_ = settings.writeWait;
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
    std::unique_ptr<DatabaseSession> session;
    try {
        session = newSession(connectionString_);
    } catch (const std::exception& e) {
        ui_.reportFailure(QString::fromUtf8(e.what()));
        ui_.showFatal(QStringLiteral("No hay Conexión a la Base de Datos"), QStringLiteral("Error"));
        return false;
    }
    // No window is up yet during start-up: the wait blocks, and no timer or
    // reader event can run before the connection exists.
    const auto call = session->post(DatabaseCall::Reconnection,
                                    [text = connectionString_, o = options(StartUpTimeout, credentials_)](Connection& c) {
                                        c.open(text, o);
                                    });
    const bool ended = call->waitDone(StartUpLimit) || !call->giveUp();
    const auto error = ended ? call->error() : std::make_exception_ptr(noAnswer(StartUpLimit));
    if (error) {
        ui_.reportFailure(whatFailed(error));
        setAside(std::move(session));
        ui_.showFatal(QStringLiteral("No hay Conexión a la Base de Datos"), QStringLiteral("Error"));
        return false;
    }
    current_ = std::move(session);
    connected_ = true;
    answering_ = true;
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
    reapSetAside();
    ++attempts_;
    if (!current_) {
        // Set aside (a call's deadline passed): straight to a fresh one.
        reconnectOnce();
        return;
    }
    DatabaseSession* probed = current_.get();
    runStep(*current_, DatabaseCall::Probe, probeLimit_, [](Connection& c) { c.execute(ProbeStatement); },
            [this, probed](std::exception_ptr error, bool) {
                if (!error && current_.get() == probed) {
                    probeEnded();
                    return;
                }
                ui_.probeFailed();
                if (error)
                    report(QStringLiteral("Probe failed: ") + whatFailed(error));
                // The connection failed, or was set aside meanwhile: a
                // fresh one, and nothing more for this one.
                if (current_.get() == probed)
                    setAside(std::move(current_));
                setAnswering(false);
                reconnectOnce();
            });
}

void Database::reconnectOnce()
{
    try {
        connecting_ = newSession(connectionString_);
    } catch (const std::exception& e) {
        reconnectFailed(QString::fromUtf8(e.what()));
        return;
    }
    runStep(*connecting_, DatabaseCall::Reconnection, ReconnectLimit,
            [text = connectionString_, o = options(ReconnectTimeout, credentials_)](Connection& c) { c.open(text, o); },
            [this](std::exception_ptr error, bool) {
                if (error) {
                    setAside(std::move(connecting_));
                    reconnectFailed(whatFailed(error));
                    return;
                }
                current_ = std::move(connecting_);
                setAnswering(true);
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

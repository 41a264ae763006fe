#include "Database.h"

#include "ConnectionString.h"
#include "DatabaseError.h"

#include <QTimer>

#include <thread>
#include <utility>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace parking {

const QString Database::NotAnswering = QStringLiteral("The database is not answering");

namespace {

// The nice value of a thread running work set aside (the lowest there is).
constexpr int AsidePriority = 19;

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

Database::Database(ConnectionFactory factory, DatabaseEvents& events)
    : factory_(std::move(factory)), events_(events)
{
}

Database::~Database()
{
    std::vector<std::unique_ptr<DatabaseSession>> all = std::move(setAside_);
    for (auto& a : aside_)
        all.push_back(std::move(a.session));
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
    case DatabaseCall::Replica:
        return ReplicaLimit;
    }
    return readWait_;
}

void Database::wait(DatabaseCall kind, DatabaseSession::Work work)
{
    reapSetAside();
    if (!connected_)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    if (!answering() || !current_)
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

void Database::runAside(DatabaseCall kind, std::chrono::milliseconds limit, DatabaseSession::Work work,
                        std::function<void(std::exception_ptr)> done)
{
    reapAside();
    auto ended = std::make_shared<bool>(false); // read and written on this thread only
    auto finish = [this, ended, done = std::move(done)](std::exception_ptr error) {
        if (*ended)
            return;
        *ended = true;
        done(error);
        QTimer::singleShot(0, &context_, [this] { reapAside(); });
    };
    std::unique_ptr<DatabaseSession> session;
    try {
        session = newSession(connectionString_);
    } catch (...) {
        QMetaObject::invokeMethod(&context_, [finish, error = std::current_exception()] { finish(error); },
                                  Qt::QueuedConnection);
        return;
    }
    DatabaseSession* const running = session.get();
    const quint64 id = ++nextAside_;
    aside_.push_back({id, std::move(session)});
    running->post(kind, [this, text = connectionString_, o = options(ReconnectTimeout, credentials_),
                         work = std::move(work), finish](Connection& c) {
        // Work set aside is background work: on a busy processor its
        // thread (this session's own, and gone with it) yields to the
        // passages'.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), AsidePriority);
        std::exception_ptr error;
        try {
            c.open(text, o);
            work(c);
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&context_, [finish, error] { finish(error); }, Qt::QueuedConnection);
    });
    QTimer::singleShot(limit, &context_, [this, id, finish, limit] {
        for (const Aside& a : aside_) {
            if (a.id == id && a.session->busy())
                a.session->abort();
        }
        finish(std::make_exception_ptr(noAnswer(limit)));
    });
}

void Database::reapAside()
{
    std::erase_if(aside_, [](const Aside& a) { return !a.session->busy(); });
}

void Database::deadlinePassed(DatabaseCall kind)
{
    events_.deadlineExceeded(kind);
    setAside(std::move(current_));
    setState(DatabaseState::NotAnswering);
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

void Database::setState(DatabaseState state)
{
    // Reconnecting says more than not answering: it is not taken back by
    // a later probe's failure.
    if (state == state_ || (state == DatabaseState::NotAnswering && state_ == DatabaseState::Reconnecting))
        return;
    state_ = state;
    events_.stateChanged(state);
}

void Database::lateAnswer(const PendingCall& call)
{
    const auto error = call.error();
    events_.lateAnswer(call.kind(), call.ran(), error ? whatFailed(error) : QString());
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
        events_.deadlineExceeded(kind);
        answer(std::make_exception_ptr(noAnswer(limit)), true);
    });
}

bool Database::connect(const DatabaseSettings& settings)
{
    if (settings.dataSource.trimmed().isEmpty()) {
        events_.startUpFailed(StartUpFailure::NoDataSource);
        return false;
    }
    readWait_ = settings.readWait;
    writeWait_ = settings.writeWait;
    const QString credentialsFile = credentialsPath(settings.credentialsFile, settings.configFolder);
    if (!credentialsFile.isEmpty()) {
        auto loaded = loadCredentials(credentialsFile);
        if (!loaded) {
            events_.failed(loaded.error());
            events_.startUpFailed(StartUpFailure::NoDatabase);
            return false;
        }
        credentials_ = std::move(*loaded);
    }
    connectionString_ = buildConnectionString(settings.dataSource);
    std::unique_ptr<DatabaseSession> session;
    try {
        session = newSession(connectionString_);
    } catch (const std::exception& e) {
        events_.failed(QString::fromUtf8(e.what()));
        events_.startUpFailed(StartUpFailure::NoDatabase);
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
        events_.failed(whatFailed(error));
        setAside(std::move(session));
        events_.startUpFailed(StartUpFailure::NoDatabase);
        return false;
    }
    current_ = std::move(session);
    connected_ = true;
    state_ = DatabaseState::Answering;
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
                events_.probeFailed();
                if (error)
                    report(QStringLiteral("Probe failed: ") + whatFailed(error));
                // The connection failed, or was set aside meanwhile: a
                // fresh one, and nothing more for this one.
                if (current_.get() == probed)
                    setAside(std::move(current_));
                setState(DatabaseState::NotAnswering);
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
                probeEnded();
            });
}

void Database::reconnectFailed(const QString& what)
{
    report(QStringLiteral("Reconnection failed: ") + what);
    setState(DatabaseState::Reconnecting);
    QTimer::singleShot(retryPause_, &context_, [this] { probeOnce(); });
}

void Database::probeEnded()
{
    setState(DatabaseState::Answering);
    if (!reported_.isEmpty())
        events_.failed(QStringLiteral("Connection restored after %1 reconnection attempts").arg(attempts_));
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
    events_.failed(failure);
}

} // namespace parking

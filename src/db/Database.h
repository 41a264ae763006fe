#pragma once
// The program's one database connection: opened at start-up by connect(),
// probed by startProbe() every few seconds and replaced while the database
// is out of reach.
//
// Every call on the database goes through call(): the statements run on
// the connection's own thread (DatabaseSession) and the caller waits for
// them at most the call's deadline. Past it the caller goes on as in an
// outage, and the connection is set aside with its thread: it is given
// nothing more, the database counts as not answering (every later call
// fails at once instead of waiting out a deadline of its own), and the
// probe looks for a fresh connection in the background. What the set-aside
// call still does is its own business: a write carries its unit's key, so
// the journal's replay recognises it; an answer that comes back late
// changes nothing and is said once in the log.
//
// The probe and the reconnections report back through the caller's event
// loop: startProbe() returns at once, and nothing else runs inside it. The
// start-up connection waits without handling events: no window is up yet.
#include "Configuration.h"
#include "Connection.h"
#include "DatabaseEvents.h"
#include "DatabaseCall.h"
#include "DatabaseSession.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace parking {

// Makes a new, closed connection object for a connection string.
using ConnectionFactory = std::function<std::shared_ptr<Connection>(const QString& connectionString)>;

class Database {
public:
    Database(ConnectionFactory factory, DatabaseEvents& events);
    // Calls still running get ExitGrace to end, then are aborted; every
    // session's thread is joined.
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The statement that tells whether the connection still answers.
    static inline const QString ProbeStatement = QStringLiteral("SELECT USER FROM DUAL");
    // Login timeouts, as the driver is asked to keep them: start-up may
    // wait longer than a reconnection.
    static constexpr std::chrono::seconds StartUpTimeout{15};
    static constexpr std::chrono::seconds ReconnectTimeout{5};
    // How long a call of each kind the station does not wait for is waited
    // for all the same: the probe, a reconnection (its login timeout and a
    // margin for a driver that does not keep it), start-up's rows.
    static constexpr std::chrono::milliseconds ProbeLimit{5000};
    static constexpr std::chrono::milliseconds ReconnectLimit{7000};
    static constexpr std::chrono::milliseconds StartUpLimit{15000};
    // A refresh of the replica, on a connection of its own.
    static constexpr std::chrono::milliseconds ReplicaLimit{120000};
    // A set-aside call that has not ended by then is aborted.
    static constexpr std::chrono::seconds AbandonAfter{60};
    // At exit, how long a running call may finish before it is aborted.
    static constexpr std::chrono::milliseconds ExitGrace{250};

    // Builds the connection string and opens the connection; the deadlines
    // are the settings'. False when the program has to end: the reason was
    // told as startUpFailed (and what failed, as failed).
    bool connect(const DatabaseSettings& settings);

    // Starts probing the connection and, while it fails, reconnecting until
    // a fresh connection answers; returns at once. `restored` runs on this
    // thread, from its event loop, once the database answers. False (and
    // nothing done) while a probe runs: there is one at a time.
    bool startProbe(std::function<void()> restored = {});

    // Runs `work(connection)` on the connection's thread and returns what it
    // returns; rethrows what it throws. Throws DatabaseError at once while
    // the database does not answer, and once `kind`'s deadline has passed.
    // `work` must own everything it uses: after a deadline it goes on
    // running while its caller has moved on.
    template <typename Work>
    auto call(DatabaseCall kind, Work work) -> std::invoke_result_t<Work&, Connection&>
    {
        using Result = std::invoke_result_t<Work&, Connection&>;
        if constexpr (std::is_void_v<Result>) {
            wait(kind, DatabaseSession::Work(std::move(work)));
        } else {
            auto result = std::make_shared<std::optional<Result>>();
            wait(kind, [work = std::move(work), result](Connection& c) mutable { result->emplace(work(c)); });
            return std::move(**result);
        }
    }

    // Runs `work` on a connection of its own, opened for it with the
    // program's connection string and account on a thread of its own, so
    // that long work (the replica's refresh) never holds up a passage's
    // call; returns at once. `done` gets what it threw (null: it ended
    // well) on this thread, from its event loop; past `limit` the work is
    // aborted and `done` gets a DatabaseError. The connection and its
    // thread go once the work has ended, at exit at the latest (aborted
    // then, and joined).
    void runAside(DatabaseCall kind, std::chrono::milliseconds limit, DatabaseSession::Work work,
                  std::function<void(std::exception_ptr)> done);
    // Work given to runAside() that has not ended yet.
    std::size_t asideCount() const { return aside_.size(); }

    // The deadline a call of `kind` is waited for.
    std::chrono::milliseconds deadline(DatabaseCall kind) const;

    // connect() succeeded.
    bool connected() const { return connected_; }
    // From connect() on, until a call's deadline passes or a probe fails,
    // and again once a fresh connection answers.
    bool answering() const { return state_ == DatabaseState::Answering; }
    DatabaseState state() const { return state_; }
    const QString& connectionString() const { return connectionString_; }
    bool probing() const { return probing_; }
    // Connections set aside whose call has not ended yet.
    std::size_t setAsideCount() const { return setAside_.size(); }

    // The least time between two failed reconnection attempts (so a server
    // that refuses at once is not hammered, nor a core burnt).
    void setRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }
    // How long the probe's statement is waited for (ProbeLimit).
    void setProbeLimit(std::chrono::milliseconds limit) { probeLimit_ = limit; }

    // The message of a call made while the database does not answer.
    static const QString NotAnswering;

private:
    // call()'s wait: posts `work` to the session in use and waits for it
    // until `kind`'s deadline.
    void wait(DatabaseCall kind, DatabaseSession::Work work);
    std::unique_ptr<DatabaseSession> newSession(const QString& connectionString);
    // Runs `work` on `session`; `then` gets what it threw (or null) on this
    // thread, or a timeout after `limit` (with `timedOut`), whichever comes
    // first.
    void runStep(DatabaseSession& session, DatabaseCall kind, std::chrono::milliseconds limit,
                 DatabaseSession::Work work, std::function<void(std::exception_ptr, bool timedOut)> then);
    // The session in use stops being used: kept until its call ends, or
    // gone at once when it has none.
    void setAside(std::unique_ptr<DatabaseSession> session);
    void setState(DatabaseState state);
    void deadlinePassed(DatabaseCall kind);
    // Sessions set aside: those whose call ended go, those past
    // AbandonAfter are aborted.
    void reapSetAside();
    void lateAnswer(const PendingCall& call);

    void reapAside();

    // The probe's steps: probe, then reconnect while it fails.
    void probeOnce();
    void reconnectOnce();
    void reconnectFailed(const QString& what);
    void probeEnded();
    void report(const QString& failure);

    ConnectionFactory factory_;
    DatabaseEvents& events_;
    QSet<QString> reported_;
    QString connectionString_;
    std::optional<Credentials> credentials_;
    std::chrono::milliseconds readWait_ = DatabaseSettings::DefaultReadWait;
    std::chrono::milliseconds writeWait_ = DatabaseSettings::DefaultWriteWait;
    bool connected_ = false;
    DatabaseState state_ = DatabaseState::NotAnswering;
    bool probing_ = false;
    int attempts_ = 0;
    std::function<void()> restored_;
    std::chrono::milliseconds retryPause_{1000};
    std::chrono::milliseconds probeLimit_ = ProbeLimit;
    // How long calls of each kind have taken lately (a moving average), so
    // that a caller is awake when the next answer is due.
    std::array<std::chrono::microseconds, AllDatabaseCalls.size()> typical_{};
    // Which step's answer is awaited: a late answer (after its timeout) or
    // a late timeout (after its answer) is told apart and dropped.
    quint64 step_ = 0;
    // Receives the sessions' answers on this thread; outlives them.
    QObject context_;
    // The session in use (null before connect() and while not answering),
    // the one a reconnection is opening, and those set aside.
    std::unique_ptr<DatabaseSession> current_;
    std::unique_ptr<DatabaseSession> connecting_;
    std::vector<std::unique_ptr<DatabaseSession>> setAside_;
    // Sessions of runAside(), each until its work has ended.
    struct Aside {
        quint64 id = 0;
        std::unique_ptr<DatabaseSession> session;
    };
    std::vector<Aside> aside_;
    quint64 nextAside_ = 0;
};

} // namespace parking

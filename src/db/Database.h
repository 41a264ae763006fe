#pragma once
// The program's one database connection: opened at start-up by connect(),
// probed by startProbe() every few seconds and replaced while the database
// is out of reach. Whoever queries takes the connection as a shared_ptr for
// the whole of its work: a reconnection replaces the pointer for later work
// and never pulls a connection from under a handler that is using it.
//
// The probe and the reconnections run on the worker thread and report back
// through the caller's event loop: startProbe() returns at once, so nothing
// else runs inside it and the window never freezes for an outage (no event
// loop is nested in a handler). No step waits longer than its timeout, even
// with a server that never answers. The start-up connection waits without
// handling events: no window is up yet, nothing else may run before it.
// Everything else runs on the calling thread.
#include "Connection.h"
#include "ConnectionUi.h"
#include "DatabaseWorker.h"
#include "Configuration.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

namespace parking {

// Makes a new, closed connection object for a connection string.
using ConnectionFactory = std::function<std::shared_ptr<Connection>(const QString& connectionString)>;

inline const QString ApplicationTitle = QStringLiteral("Parking");

class Database {
public:
    Database(ConnectionFactory factory, ConnectionUi& ui);

    // The statement that tells whether the connection still answers.
    static inline const QString ProbeStatement = QStringLiteral("SELECT USER FROM DUAL");
    // Login timeouts: start-up may wait longer than a reconnection.
    static constexpr std::chrono::seconds StartUpTimeout{15};
    static constexpr std::chrono::seconds ReconnectTimeout{10};
    // A probe that has not come back by then counts as failed.
    static constexpr std::chrono::seconds ProbeLimit{10};

    // Builds the connection string and opens the connection. False when the
    // program has to end: the reason was shown through ConnectionUi::showFatal.
    bool connect(const DatabaseSettings& settings);

    // Starts probing the connection and, while it fails, reconnecting until
    // it works; returns at once. `restored` runs on this thread, from its
    // event loop, once the database answers. False (and nothing done) while
    // a probe runs: there is one at a time.
    bool startProbe(std::function<void()> restored = {});

    // Null before connect().
    std::shared_ptr<Connection> connection() const { return connection_; }
    const QString& connectionString() const { return connectionString_; }
    bool probing() const { return probing_; }

    // The least time between two failed reconnection attempts (so a server
    // that refuses at once is not hammered, nor a core burnt).
    void setRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }

private:
    // Runs `work` on the worker thread and waits for it; rethrows what it
    // threw. After `limit` it stops waiting and fails: no answer.
    void waitFor(const std::function<void()>& work, std::chrono::seconds limit);
    // Runs `work` on the worker thread; `then` gets what it threw (or null)
    // on this thread, or a timeout after `limit`, whichever comes first.
    void runThen(std::function<void()> work, std::chrono::seconds limit,
                 std::function<void(std::exception_ptr)> then);

    // The probe's steps: probe, then reconnect while it fails.
    void probeOnce();
    void reconnectOnce();
    void reconnectFailed(const QString& what);
    void probeEnded();
    void report(const QString& failure);

    ConnectionFactory factory_;
    ConnectionUi& ui_;
    QSet<QString> reported_;
    std::shared_ptr<Connection> connection_;
    QString connectionString_;
    std::optional<Credentials> credentials_;
    bool probing_ = false;
    int attempts_ = 0;
    bool progressShown_ = false;
    std::function<void()> restored_;
    std::chrono::milliseconds retryPause_{1000};
    // Which step's answer is awaited: a late answer (after its timeout) or
    // a late timeout (after its answer) is told apart and dropped.
    quint64 step_ = 0;
    // Receives the worker's answers on this thread; outlives the worker.
    QObject context_;
    // Last member: destroyed (joined) first, while everything above exists.
    DatabaseWorker worker_;
};

} // namespace parking

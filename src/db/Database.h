#pragma once
// The program's one database connection: opened at start-up by connect(),
// probed by checkConnection() every few seconds, replaced by reconnect()
// while the database is out of reach. Whoever queries takes the connection
// as a shared_ptr for the whole of its work: a reconnection replaces the
// pointer for later work and never pulls a connection from under a handler
// that is using it (nested event loops run other handlers during waits).
//
// Waiting for the database during operation (the probe, reconnections)
// happens off the user-interface thread while events keep being handled, so
// the window never freezes for an outage; no wait lasts longer than the
// connection timeout, even with a server that never answers. The start-up
// connection waits without handling events: no window is up yet.
// Everything else runs on the calling thread.
#include "Connection.h"
#include "ConnectionUi.h"
#include "DatabaseWorker.h"
#include "Configuration.h"

#include <QSet>
#include <QString>

#include <chrono>
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

    // Probes the connection and, while it fails, reconnects until it works.
    // A call made while a probe is running (a timer tick handled during the
    // wait) returns at once: there is one probe loop at a time.
    void checkConnection();

    // Replaces the connection with a new one; true when it opened.
    bool reconnect();

    // Null before connect().
    std::shared_ptr<Connection> connection() const { return connection_; }
    const QString& connectionString() const { return connectionString_; }
    bool probing() const { return probing_; }

    // The least time between two failed reconnection attempts, during which
    // events keep being handled (so a server that refuses at once is not
    // hammered, nor a core burnt).
    void setRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }

private:
    // Runs `work` on another thread and waits for it, handling events
    // meanwhile when `handleEvents`; rethrows what it threw. After `limit`
    // it stops waiting and fails: the database did not answer.
    void waitFor(const std::function<void()>& work, std::chrono::seconds limit, bool handleEvents);

    void report(const QString& failure);

    ConnectionFactory factory_;
    ConnectionUi& ui_;
    QSet<QString> reported_;
    std::shared_ptr<Connection> connection_;
    QString connectionString_;
    std::optional<Credentials> credentials_;
    bool probing_ = false;
    std::chrono::milliseconds retryPause_{1000};
    // Last member: destroyed (joined) first, while everything above exists.
    DatabaseWorker worker_;
};

} // namespace parking

namespace parking {
// Handles pending Qt events, waiting for new ones for at most `wait`.
void pumpQtEvents(std::chrono::milliseconds wait);
} // namespace parking

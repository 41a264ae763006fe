#pragma once
// The status page's small HTTP server: GET / (a page for people),
// GET /api/status (the same as JSON) and GET /metrics (Prometheus), and,
// for an operator, the remote console's POST /api/open and
// POST /api/spaces. It runs on a thread of its own, owned and joined here,
// and serves copies of the status board's snapshot, so it never waits on
// the database and a passage never waits on it; an action is carried over
// to the stations' thread by ConsoleActions.
//
// Who may do what ([Estado] and [Operadores]): the read key (Clave=, sent
// as "Authorization: Bearer KEY") lets a client read; the shared operator
// key (ClaveOperador=, the same way) or a named operator's name and key
// (HTTP Basic) let it read and act. Off loopback a read key is needed, and
// a console needs TLS (Certificado=, ClavePrivada=). Connections are held
// within GuardedTcpServer's limits.
#include "Configuration.h"
#include "GuardedTcpServer.h"
#include "RemoteConsole.h"
#include "Result.h"
#include "StatusBoard.h"
#include "StatusOptions.h"

#include <QByteArray>
#include <QThread>

#include <chrono>
#include <memory>
#include <optional>

namespace parking {

class StatusHttp;

class StatusServer {
public:
    static constexpr qint64 RequestLimit = 16 * 1024;
    static constexpr int MaxConnections = 32;
    static constexpr int MaxConnectionsPerAddress = 8;
    static constexpr std::chrono::milliseconds HeadLimit{5000};
    static constexpr std::chrono::milliseconds IdleLimit{30000};
    static constexpr qsizetype OperatorKeyMinimum = StatusOptions::OperatorKeyMinimum;

    using Options = StatusOptions;
    // The [Estado] section's options (nullopt: no status page), or why it
    // cannot start.
    static Result<std::optional<Options>> fromConfig(const StatusSettings& settings) { return readStatusOptions(settings); }

    // `actions`: what the console's actions do; needed for a console.
    StatusServer(const StatusBoard& board, ConsoleActions* actions);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens; the port it listens on, or why it could not.
    Result<quint16> start(const Options& options);
    // Options changed while running (a reload): new requests are judged by
    // the new keys and operators, new connections get the new certificate,
    // and a changed address or port is listened on instead of the old one
    // (whose connections close). When the new place cannot be listened on
    // nothing changes; the reason is returned.
    Result<quint16> apply(const Options& options);

private:
    Result<quint16> listen(const Options& options);

    const StatusBoard& board_;
    ConsoleActions* actions_;
    QThread thread_;
    std::unique_ptr<QObject> context_; // lives on thread_
    StatusHttp* http_ = nullptr;       // lives on thread_, deleted there
    GuardedTcpServer* tcp_ = nullptr;  // http_'s child
    QHostAddress address_;
    quint16 port_ = 0;
};

// The page served at "/".
QByteArray statusPage();

} // namespace parking

#pragma once
// The status page's small HTTP server: GET / (a page for people),
// GET /api/status (the same as JSON) and GET /metrics (Prometheus), and,
// with an operator key, the remote console's POST /api/open and
// POST /api/spaces. It runs on a thread of its own, owned and joined here,
// and serves copies of the status board's snapshot, so it never waits on
// the database and a passage never waits on it; an action is carried over
// to the stations' thread by ConsoleActions.
//
// Two keys, sent as "Authorization: Bearer KEY": the read key ([Estado]
// Clave=) lets a client read; the operator key (ClaveOperador=) lets it
// read and act. Off loopback a read key is needed, and actions need TLS
// (Certificado=, ClavePrivada=). Connections are held within
// GuardedTcpServer's limits.
#include "Configuration.h"
#include "GuardedTcpServer.h"
#include "RemoteConsole.h"
#include "Result.h"
#include "StatusBoard.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QThread>

#include <chrono>
#include <memory>
#include <optional>
#include <variant>

namespace parking {

class StatusServer {
public:
    static constexpr qint64 RequestLimit = 16 * 1024;
    static constexpr int MaxConnections = 32;
    static constexpr int MaxConnectionsPerAddress = 8;
    static constexpr std::chrono::milliseconds HeadLimit{5000};
    static constexpr std::chrono::milliseconds IdleLimit{30000};
    static constexpr qsizetype OperatorKeyMinimum = 16;

    struct Options {
        QHostAddress address;
        quint16 port = 0;
        QByteArray key;         // empty: none
        QByteArray operatorKey; // empty: no console
        std::optional<QSslConfiguration> tls;
    };
    // The [Estado] section's options (nullopt: no status page), or why it
    // cannot start.
    static Result<std::optional<Options>> fromConfig(const StatusSettings& settings);

    // `actions`: what the console's actions do; needed with an operator key.
    StatusServer(const StatusBoard& board, ConsoleActions* actions);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens; the port it listens on, or why it could not.
    Result<quint16> start(const Options& options);

private:
    class Http;
    const StatusBoard& board_;
    ConsoleActions* actions_;
    QThread thread_;
    std::unique_ptr<QObject> context_; // lives on thread_
    Http* http_ = nullptr;             // lives on thread_, deleted there
};

// The page served at "/".
QByteArray statusPage();

} // namespace parking

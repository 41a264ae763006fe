#pragma once
// The status page's small read-only HTTP server: GET / (a page for
// people), GET /api/status (the same as JSON) and GET /metrics
// (Prometheus). It runs on a thread of its own, owned and joined here, and
// serves copies of the status board's snapshot, so it never waits on the
// database and a passage never waits on it.
//
// Off loopback it needs a key, sent as "Authorization: Bearer KEY"; with a
// key set, every request needs it. Requests are small GETs: anything
// larger than RequestLimit is refused, as are more than MaxConnections at
// once and connections idle for longer than IdleLimit.
#include "Configuration.h"
#include "StatusBoard.h"

#include <QByteArray>
#include <QHostAddress>
#include <QThread>

#include <chrono>
#include <memory>
#include <variant>

namespace parking {

class StatusServer {
public:
    static constexpr qint64 RequestLimit = 16 * 1024;
    static constexpr int MaxConnections = 32;
    static constexpr std::chrono::milliseconds IdleLimit{30000};

    struct Options {
        QHostAddress address;
        quint16 port = 0;
        QByteArray key; // empty: none
    };
    struct Off {};
    // The [Estado] section: Off, the options, or why it cannot start.
    static std::variant<Off, Options, QString> fromConfig(const StatusSettings& settings);

    explicit StatusServer(const StatusBoard& board);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens; the port it listens on, or why it could not.
    std::variant<quint16, QString> start(const Options& options);

private:
    class Http;
    const StatusBoard& board_;
    QThread thread_;
    std::unique_ptr<QObject> context_; // lives on thread_
    Http* http_ = nullptr;             // lives on thread_, deleted there
};

// The page served at "/".
QByteArray statusPage();

} // namespace parking

#pragma once
// The status server's answers, on the server's thread: who is asking (no
// key, the read key, the shared operator key or a named operator with HTTP
// Basic), the page, its JSON and metrics, and the console's actions handed
// to RemoteConsole. Failed logins are held to LoginLimiter's limits.
// apply() changes the keys, operators and certificate's metrics between
// two requests (a reload); every request is judged by the ones in force.
#include "LoginLimiter.h"
#include "RemoteConsole.h"
#include "StatusBoard.h"
#include "StatusOptions.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>

#include <memory>
#include <optional>

class QHttpServerRequest;
class QTcpSocket;

namespace parking {

class StatusHttp final : public QAbstractHttpServer {
public:
    // `actions`: what the console's actions do; null: no console.
    StatusHttp(const StatusBoard& board, ConsoleActions* actions);

    void apply(const StatusOptions& options);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    enum class Access { None, Read, Operate };
    struct Caller {
        Access access = Access::None;
        bool gaveCredentials = false;
        QString operatorName; // a named operator's, as written
        std::optional<std::chrono::seconds> refusedFor; // too many failed logins
    };
    using Status = QHttpServerResponder::StatusCode;
    using Headers = QHttpServerResponder::HeaderList;

    Caller identify(const QHttpServerRequest& request, const QString& from);
    void loginFailed(const QString& from, const QString& name);

    void send(QHttpServerResponder& responder, const QByteArray& body, Headers headers, Status status = Status::Ok) const;
    void writeText(QHttpServerResponder& responder, const QByteArray& body, Status status) const;
    void askForKey(const QString& path, QHttpServerResponder& responder) const;
    void tooManyFailures(bool action, std::chrono::seconds wait, QHttpServerResponder& responder) const;
    void act(const QHttpServerRequest& request, const Caller& caller, const QString& from, QHttpServerResponder& responder);
    void serve(const QString& path, Access access, QHttpServerResponder& responder) const;

    const StatusBoard& board_;
    ConsoleActions* const actions_;
    QByteArray key_;
    QByteArray operatorKey_;
    OperatorDirectory operators_;
    bool tls_ = false;
    QByteArray tlsMetrics_; // the certificate's expiry, when the page is served over TLS
    std::unique_ptr<RemoteConsole> console_; // kept across reloads, with its counts
    bool consoleOn_ = false;
    LoginLimiter limiter_;
    quint64 failedLogins_ = 0;
};

} // namespace parking

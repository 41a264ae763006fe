#pragma once
// Accepts the status server's connections within its limits, before the
// HTTP server reads a byte: so many at once in all and per client address
// (so one client holding idle connections cannot shut everyone else out),
// a request head that must arrive soon after the connection or the last
// answer (a TLS handshake counts against the same time), requests no larger
// than a limit, and idle connections closed. With a TLS configuration each
// connection is a QSslSocket that starts the server side of the handshake.
#include <QHash>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>

#include <chrono>
#include <optional>

namespace parking {

class GuardedTcpServer final : public QTcpServer {
public:
    // Set on a socket whose request was refused for its size.
    static constexpr const char* RefusedProperty = "parking-refused";

    struct Limits {
        int connections = 32;
        int perAddress = 8;
        qint64 requestBytes = 16 * 1024;
        std::chrono::milliseconds head{5000};
        std::chrono::milliseconds idle{30000};
    };

    GuardedTcpServer(Limits limits, std::optional<QSslConfiguration> tls, QObject* parent = nullptr);

    // The TLS configuration of the connections accepted from now on.
    void setTls(std::optional<QSslConfiguration> tls) { tls_ = std::move(tls); }

protected:
    void incomingConnection(qintptr handle) override;

private:
    void watch(QTcpSocket* socket);

    const Limits limits_;
    std::optional<QSslConfiguration> tls_;
    int open_ = 0;
    QHash<QHostAddress, int> perAddress_;
};

} // namespace parking

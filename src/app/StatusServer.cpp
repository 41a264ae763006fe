#include "StatusServer.h"

#include "StatusText.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace parking {

namespace {

using Status = QHttpServerResponder::StatusCode;

bool sameKey(const QByteArray& given, const QByteArray& key)
{
    // Constant time, so the answer's timing does not tell how much matched.
    unsigned char diff = given.size() == key.size() ? 0 : 1;
    for (qsizetype i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ key[i % std::max<qsizetype>(1, key.size())]);
    return diff == 0;
}

// Accepts connections for the HTTP server, within the server's limits: it
// sees every socket's bytes before the server reads them.
class LimitedTcpServer final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr handle) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle) || open_ >= StatusServer::MaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        // One byte over the limit fits, so a request over it is seen as such.
        socket->setReadBufferSize(StatusServer::RequestLimit + 1);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(StatusServer::IdleLimit);
        connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        idle->start();
        // Bytes received since the last answer went out.
        auto received = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::bytesWritten, socket, [received] { *received = 0; });
        connect(socket, &QTcpSocket::readyRead, socket, [socket, idle, received] {
            idle->start();
            if (*received < 0)
                return; // already refused
            *received += socket->bytesAvailable();
            if (*received > StatusServer::RequestLimit) {
                *received = -1;
                socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        addPendingConnection(socket);
    }

private:
    int open_ = 0;
};

} // namespace

class StatusServer::Http final : public QAbstractHttpServer {
public:
    Http(const StatusBoard& board, QByteArray key) : board_(board), key_(std::move(key)) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        const QString path = request.url().path();
        if (path != QLatin1String("/") && path != QLatin1String("/api/status") && path != QLatin1String("/metrics")) {
            writeText(responder, "not found\n", Status::NotFound);
        } else if (request.method() != QHttpServerRequest::Method::Get) {
            responder.write(QByteArray("only GET\n"),
                            {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "GET"}, {"Cache-Control", "no-store"}},
                            Status::MethodNotAllowed);
        } else if (!authorized(request)) {
            // The page itself asks for the key; it holds no data.
            const bool page = path == QLatin1String("/");
            responder.write(page ? statusPage() : QByteArray("key needed\n"),
                            {{"Content-Type", page ? "text/html; charset=utf-8" : "text/plain; charset=utf-8"},
                             {"WWW-Authenticate", "Bearer"},
                             {"Cache-Control", "no-store"},
                             {"Content-Security-Policy", PagePolicy}},
                            Status::Unauthorized);
        } else {
            serve(path, responder);
        }
        if (closeAfter(request)) {
            // After the answer has gone out: the responder writes it as it goes.
            QMetaObject::invokeMethod(socket, [socket] { socket->disconnectFromHost(); }, Qt::QueuedConnection);
        }
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        writeText(responder, "not found\n", Status::NotFound);
    }

private:
    static constexpr const char* PagePolicy =
        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'";

    static void writeText(QHttpServerResponder& responder, const QByteArray& body, Status status)
    {
        responder.write(body, {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}}, status);
    }

    // "Connection: close" is the client's wish to be done after this
    // answer; a script reading to the end of the connection relies on it.
    static bool closeAfter(const QHttpServerRequest& request)
    {
        for (const auto& [name, value] : request.headers()) {
            if (name.compare("Connection", Qt::CaseInsensitive) == 0)
                return value.trimmed().compare("close", Qt::CaseInsensitive) == 0;
        }
        return false;
    }

    bool authorized(const QHttpServerRequest& request) const
    {
        if (key_.isEmpty())
            return true;
        for (const auto& [name, value] : request.headers()) {
            if (name.compare("Authorization", Qt::CaseInsensitive) == 0)
                return value.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0 &&
                       sameKey(value.mid(7).trimmed(), key_);
        }
        return false;
    }

    void serve(const QString& path, QHttpServerResponder& responder) const
    {
        if (path == QLatin1String("/")) {
            responder.write(statusPage(),
                            {{"Content-Type", "text/html; charset=utf-8"},
                             {"Cache-Control", "no-store"},
                             {"Content-Security-Policy", PagePolicy}});
            return;
        }
        const StatusSnapshot snapshot = board_.snapshot();
        const QDateTime now = board_.clock().now();
        if (path == QLatin1String("/api/status")) {
            responder.write(statusJson(snapshot, now),
                            {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}});
        } else {
            responder.write(statusMetrics(snapshot, now),
                            {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, {"Cache-Control", "no-store"}});
        }
    }

    const StatusBoard& board_;
    const QByteArray key_;
};

std::variant<StatusServer::Off, StatusServer::Options, QString> StatusServer::fromConfig(const StatusSettings& settings)
{
    const QString& portText = settings.port;
    if (portText.isEmpty())
        return Off{};
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    const bool digits = std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digits || port > 65535)
        return QStringLiteral("[Estado] Puerto no válido: |%1|").arg(portText);
    if (port == 0)
        return Off{};
    Options options;
    options.port = static_cast<quint16>(port);
    const QString& address = settings.address;
    options.address = QHostAddress(address.isEmpty() ? QStringLiteral("127.0.0.1") : address);
    if (options.address.isNull())
        return QStringLiteral("[Estado] Direccion no válida: |%1|").arg(address);
    options.key = settings.key.toUtf8();
    if (!options.address.isLoopback() && options.key.isEmpty())
        return QStringLiteral("[Estado] Direccion=%1 no es local y falta [Estado] Clave").arg(options.address.toString());
    return options;
}

StatusServer::StatusServer(const StatusBoard& board) : board_(board), context_(std::make_unique<QObject>())
{
    thread_.setObjectName(QStringLiteral("status-server"));
    context_->moveToThread(&thread_);
    thread_.start();
}

StatusServer::~StatusServer()
{
    QMetaObject::invokeMethod(
        context_.get(), [this] { delete std::exchange(http_, nullptr); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

std::variant<quint16, QString> StatusServer::start(const Options& options)
{
    std::variant<quint16, QString> result = QString();
    QMetaObject::invokeMethod(
        context_.get(),
        [&] {
            http_ = new Http(board_, options.key);
            auto* tcp = new LimitedTcpServer(http_);
            if (!tcp->listen(options.address, options.port)) {
                result = tcp->errorString();
                delete std::exchange(http_, nullptr);
                return;
            }
            http_->bind(tcp);
            result = tcp->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return result;
}

} // namespace parking

#include "StatusServer.h"

#include "PrivateFile.h"
#include "StatusText.h"

#include <QAbstractHttpServer>
#include <QCryptographicHash>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>
#include <QTcpSocket>

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

// The page's inline scripts as CSP sources ('sha256-...' each, of the
// text between <script> and </script>, as browsers hash it).
QByteArray scriptHashes(const QByteArray& html)
{
    QByteArrayList sources;
    for (qsizetype from = 0;;) {
        const qsizetype open = html.indexOf("<script>", from);
        if (open < 0)
            break;
        const qsizetype start = open + 8;
        const qsizetype close = html.indexOf("</script>", start);
        if (close < 0)
            break;
        sources << "'sha256-" + QCryptographicHash::hash(html.mid(start, close - start), QCryptographicHash::Sha256).toBase64() + "'";
        from = close;
    }
    return sources.isEmpty() ? QByteArray("'none'") : sources.join(' ');
}

} // namespace

class StatusServer::Http final : public QAbstractHttpServer {
public:
    Http(const StatusBoard& board, const Options& options, ConsoleActions* actions)
        : board_(board), key_(options.key), operatorKey_(options.operatorKey), tls_(options.tls.has_value())
    {
        if (options.tls && !options.tls->localCertificate().isNull()) {
            const QDateTime expiry = options.tls->localCertificate().expiryDate();
            tlsMetrics_ = "# HELP parking_tls_certificate_expiry_timestamp_seconds When the status page's certificate "
                          "expires, since the Unix epoch.\n# TYPE parking_tls_certificate_expiry_timestamp_seconds gauge\n"
                          "parking_tls_certificate_expiry_timestamp_seconds " +
                          QByteArray::number(expiry.toSecsSinceEpoch()) + '\n';
        }
        if (actions && !operatorKey_.isEmpty())
            console_ = std::make_unique<RemoteConsole>(*actions);
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        // A request over the limit was answered already; none is acted on
        // whatever part of it was read.
        if (socket->property(GuardedTcpServer::RefusedProperty).toBool())
            return true;
        QHttpServerResponder responder = makeResponder(request, socket);
        if (request.body().size() > RequestLimit) {
            writeText(responder, "request too large\n", Status::PayloadTooLarge);
            socket->disconnectFromHost();
            return true;
        }
        const QString path = request.url().path();
        const bool action = path == QLatin1String("/api/open") || path == QLatin1String("/api/spaces");
        if (action && console_)
            act(request, socket, responder);
        else if (path != QLatin1String("/") && path != QLatin1String("/api/status") && path != QLatin1String("/metrics"))
            writeText(responder, "not found\n", Status::NotFound);
        else if (request.method() != QHttpServerRequest::Method::Get)
            send(responder, QByteArray("only GET\n"),
                            {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "GET"}, {"Cache-Control", "no-store"}},
                            Status::MethodNotAllowed);
        else if (const Access granted = access(request); granted == Access::None)
            askForKey(path, responder);
        else
            serve(path, granted, responder);
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
    enum class Access { None, Read, Operate };

    using Headers = QHttpServerResponder::HeaderList;

    // The page's own script allowed by its hash, nothing else inline; no
    // page may frame it.
    static const QByteArray& pagePolicy()
    {
        static const QByteArray policy = "default-src 'none'; script-src " + scriptHashes(statusPage()) +
                                         "; style-src 'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'; "
                                         "base-uri 'none'; form-action 'none'";
        return policy;
    }

    // Every answer goes out with these: no type guessing, no address of the
    // page sent on, and over TLS a browser told to come back only so.
    void send(QHttpServerResponder& responder, const QByteArray& body, Headers headers,
              Status status = Status::Ok) const
    {
        // What QHttpServerResponder::write(body, headers, status) does, with
        // these headers added: Qt 6.4's responder takes no list built at run time.
        responder.writeStatusLine(status);
        responder.writeHeaders(headers);
        responder.writeHeader("X-Content-Type-Options", "nosniff");
        responder.writeHeader("Referrer-Policy", "no-referrer");
        if (tls_)
            responder.writeHeader("Strict-Transport-Security", "max-age=31536000");
        responder.writeHeader("Content-Length", QByteArray::number(body.size()));
        responder.writeBody(body);
    }

    void writeText(QHttpServerResponder& responder, const QByteArray& body, Status status) const
    {
        send(responder, body, {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}}, status);
    }

    static QByteArray header(const QHttpServerRequest& request, const char* wanted)
    {
        for (const auto& [name, value] : request.headers()) {
            if (name.compare(wanted, Qt::CaseInsensitive) == 0)
                return value.trimmed();
        }
        return {};
    }

    // "Connection: close" is the client's wish to be done after this
    // answer; a script reading to the end of the connection relies on it.
    static bool closeAfter(const QHttpServerRequest& request)
    {
        return header(request, "Connection").compare("close", Qt::CaseInsensitive) == 0;
    }

    // The bearer key sent, if any.
    static std::optional<QByteArray> bearer(const QHttpServerRequest& request)
    {
        const QByteArray value = header(request, "Authorization");
        if (value.left(7).compare("Bearer ", Qt::CaseInsensitive) != 0)
            return std::nullopt;
        return value.mid(7).trimmed();
    }

    Access access(const QHttpServerRequest& request) const
    {
        const auto given = bearer(request);
        if (!operatorKey_.isEmpty() && given && sameKey(*given, operatorKey_))
            return Access::Operate;
        if (key_.isEmpty() || (given && sameKey(*given, key_)))
            return Access::Read;
        return Access::None;
    }

    void askForKey(const QString& path, QHttpServerResponder& responder) const
    {
        // The page itself asks for the key; it holds no data.
        const bool page = path == QLatin1String("/");
        send(responder, page ? statusPage() : QByteArray("key needed\n"),
                        {{"Content-Type", page ? "text/html; charset=utf-8" : "text/plain; charset=utf-8"},
                         {"WWW-Authenticate", "Bearer"},
                         {"Cache-Control", "no-store"},
                         {"Content-Security-Policy", pagePolicy()}},
                        Status::Unauthorized);
    }

    void act(const QHttpServerRequest& request, QTcpSocket* socket, QHttpServerResponder& responder)
    {
        if (request.method() != QHttpServerRequest::Method::Post) {
            send(responder, QByteArray("only POST\n"),
                            {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "POST"}, {"Cache-Control", "no-store"}},
                            Status::MethodNotAllowed);
            return;
        }
        const QByteArray path = request.url().path().toUtf8();
        ConsoleGuard::Answer answer;
        const auto given = bearer(request);
        if (access(request) == Access::Operate) {
            answer = console_->handle({path, header(request, "Content-Type"), request.body(),
                                       header(request, "Idempotency-Key"), peer(socket)},
                                      std::chrono::steady_clock::now());
        } else if (!key_.isEmpty() && given && sameKey(*given, key_)) {
            answer = console_->refuse(path, 403, QStringLiteral("the read key cannot act"));
        } else {
            answer = console_->refuse(path, 401, QStringLiteral("the operator key is needed"));
        }
        if (answer.status == 401) {
            send(responder, answer.body,
                            {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}, {"WWW-Authenticate", "Bearer"}},
                            Status::Unauthorized);
            return;
        }
        send(responder, answer.body, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}},
                        static_cast<Status>(answer.status));
    }

    static QString peer(const QTcpSocket* socket)
    {
        const QHostAddress address = socket->peerAddress();
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        return mapped ? QHostAddress(v4).toString() : address.toString();
    }

    void serve(const QString& path, Access access, QHttpServerResponder& responder) const
    {
        if (path == QLatin1String("/")) {
            send(responder, statusPage(),
                            {{"Content-Type", "text/html; charset=utf-8"},
                             {"Cache-Control", "no-store"},
                             {"Content-Security-Policy", pagePolicy()}});
            return;
        }
        const StatusSnapshot snapshot = board_.snapshot();
        const QDateTime now = board_.clock().now();
        if (path == QLatin1String("/api/status")) {
            // The page learns from this whether to offer the console.
            const char* console = !console_ ? "none" : access == Access::Operate ? "operator" : "available";
            send(responder, statusJson(snapshot, now),
                            {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}, {"X-Console", console}});
        } else {
            send(responder, statusMetrics(snapshot, now) + tlsMetrics_ + (console_ ? console_->metrics() : QByteArray()),
                            {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, {"Cache-Control", "no-store"}});
        }
    }

    const StatusBoard& board_;
    const QByteArray key_;
    const QByteArray operatorKey_;
    const bool tls_;
    QByteArray tlsMetrics_; // the certificate's expiry, when the page is served over TLS
    std::unique_ptr<RemoteConsole> console_;
};

StatusServer::StatusServer(const StatusBoard& board, ConsoleActions* actions)
    : board_(board), actions_(actions), context_(std::make_unique<QObject>())
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

Result<quint16> StatusServer::start(const Options& options)
{
    Result<quint16> result = failure(QString());
    QMetaObject::invokeMethod(
        context_.get(),
        [&] {
            http_ = new Http(board_, options, actions_);
            GuardedTcpServer::Limits limits;
            limits.connections = MaxConnections;
            limits.perAddress = MaxConnectionsPerAddress;
            limits.requestBytes = RequestLimit;
            limits.head = HeadLimit;
            limits.idle = IdleLimit;
            auto* tcp = new GuardedTcpServer(limits, options.tls, http_);
            if (!tcp->listen(options.address, options.port)) {
                result = failure(tcp->errorString());
                delete std::exchange(http_, nullptr);
                return;
            }
            http_->bind(tcp);
            result = tcp->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return result;
}

// The [Estado] section read into the status server's options: what a
// misconfigured page must refuse to start with, and why.
namespace {

// The certificate chain and its private key (PEM; RSA or EC), or why not.
Result<QSslConfiguration> loadTls(const QString& certificateFile, const QString& keyFile)
{
    if (certificateFile.isEmpty() != keyFile.isEmpty())
        return failure(QStringLiteral("[Estado] Certificado y ClavePrivada van juntos"));
    if (const auto allowed = checkPrivate(keyFile, QStringLiteral("la clave privada")); !allowed)
        return failure(allowed.error());
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (chain.isEmpty() || chain.front().isNull())
        return failure(QStringLiteral("[Estado] Certificado no se puede leer como PEM: %1").arg(certificateFile));
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("[Estado] ClavePrivada no se puede leer: %1").arg(keyFile));
    const QByteArray pem = file.readAll();
    QSslKey key(pem, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        return failure(QStringLiteral("[Estado] ClavePrivada no es una clave RSA o EC en PEM: %1").arg(keyFile));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    // Forward secrecy and authenticated encryption only: TLS 1.3's suites,
    // and of TLS 1.2's the intermediate profile server guides publish
    // (ECDHE or DHE key exchange, AES-GCM or ChaCha20-Poly1305).
    static const QStringList Tls12 = {
        QStringLiteral("ECDHE-ECDSA-AES128-GCM-SHA256"), QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256"),
        QStringLiteral("ECDHE-ECDSA-AES256-GCM-SHA384"), QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384"),
        QStringLiteral("ECDHE-ECDSA-CHACHA20-POLY1305"), QStringLiteral("ECDHE-RSA-CHACHA20-POLY1305"),
        QStringLiteral("DHE-RSA-AES128-GCM-SHA256"),     QStringLiteral("DHE-RSA-AES256-GCM-SHA384"),
        QStringLiteral("DHE-RSA-CHACHA20-POLY1305")};
    QList<QSslCipher> ciphers;
    for (const QSslCipher& c : QSslConfiguration::supportedCiphers()) {
        if (c.protocol() == QSsl::TlsV1_3 || Tls12.contains(c.name()))
            ciphers << c;
    }
    tls.setCiphers(ciphers);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // clients are known by their key, not a certificate
    return tls;
}

} // namespace

Result<std::optional<StatusServer::Options>> StatusServer::fromConfig(const StatusSettings& settings)
{
    const QString& portText = settings.port;
    if (portText.isEmpty())
        return std::optional<Options>();
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    const bool digits = std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digits || port > 65535)
        return failure(QStringLiteral("[Estado] Puerto no válido: |%1|").arg(portText));
    if (port == 0)
        return std::optional<Options>();
    Options options;
    options.port = static_cast<quint16>(port);
    const QString& address = settings.address;
    options.address = QHostAddress(address.isEmpty() ? QStringLiteral("127.0.0.1") : address);
    if (options.address.isNull())
        return failure(QStringLiteral("[Estado] Direccion no válida: |%1|").arg(address));
    options.key = settings.key.toUtf8();
    options.operatorKey = settings.operatorKey.toUtf8();
    if (!options.address.isLoopback() && options.key.isEmpty())
        return failure(QStringLiteral("[Estado] Direccion=%1 no es local y falta [Estado] Clave").arg(options.address.toString()));
    if (!options.operatorKey.isEmpty() && options.operatorKey.size() < OperatorKeyMinimum)
        return failure(QStringLiteral("[Estado] ClaveOperador tiene menos de %1 caracteres").arg(OperatorKeyMinimum));
    if (!options.operatorKey.isEmpty() && options.operatorKey == options.key)
        return failure(QStringLiteral("[Estado] ClaveOperador es igual que Clave"));
    if (!settings.certificate.isEmpty() || !settings.privateKey.isEmpty()) {
        auto tls = loadTls(settings.certificate, settings.privateKey);
        if (!tls)
            return failure(tls.error());
        options.tls = std::move(*tls);
    }
    if (!options.address.isLoopback() && !options.operatorKey.isEmpty() && !options.tls)
        return failure(QStringLiteral("[Estado] Direccion=%1 no es local: con ClaveOperador hace falta [Estado] Certificado "
                              "y ClavePrivada")
            .arg(options.address.toString()));
    return std::optional<Options>(std::move(options));
}

} // namespace parking

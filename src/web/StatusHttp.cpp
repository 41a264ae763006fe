#include "StatusHttp.h"

#include "GuardedTcpServer.h"
#include "StatusServer.h"
#include "StatusText.h"

#include <QCryptographicHash>
#include <QHttpServerRequest>
#include <QTcpSocket>

#include <algorithm>

namespace parking {

namespace {

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

// The page's own script allowed by its hash, nothing else inline; no page
// may frame it.
const QByteArray& pagePolicy()
{
    static const QByteArray policy = "default-src 'none'; script-src " + scriptHashes(statusPage()) +
                                     "; style-src 'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'; "
                                     "base-uri 'none'; form-action 'none'";
    return policy;
}

QByteArray header(const QHttpServerRequest& request, const char* wanted)
{
    for (const auto& [name, value] : request.headers()) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return value.trimmed();
    }
    return {};
}

// "Connection: close" is the client's wish to be done after this answer;
// a script reading to the end of the connection relies on it.
bool closeAfter(const QHttpServerRequest& request)
{
    return header(request, "Connection").compare("close", Qt::CaseInsensitive) == 0;
}

QString peer(const QTcpSocket* socket)
{
    const QHostAddress address = socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

// What an Authorization header carries: a bearer key, or a name and key
// (HTTP Basic, UTF-8); nullopt when it carries nothing.
struct Credentials {
    QString name; // empty: a bearer key
    QByteArray key;
};

std::optional<Credentials> credentials(const QHttpServerRequest& request)
{
    const QByteArray value = header(request, "Authorization");
    if (value.isEmpty())
        return std::nullopt;
    const qsizetype space = value.indexOf(' ');
    const QByteArray scheme = value.left(space).toLower();
    const QByteArray rest = space < 0 ? QByteArray() : value.mid(space + 1).trimmed();
    if (scheme == "bearer")
        return Credentials{{}, rest};
    if (scheme == "basic") {
        const auto decoded = QByteArray::fromBase64Encoding(rest, QByteArray::AbortOnBase64DecodingErrors);
        const qsizetype colon = decoded ? decoded.decoded.indexOf(':') : -1;
        if (colon > 0)
            return Credentials{QString::fromUtf8(decoded.decoded.left(colon)), decoded.decoded.mid(colon + 1)};
    }
    // Something unreadable is a wrong key, not none: it counts as a failure.
    return Credentials{QStringLiteral("\n"), {}};
}

// A name a client sent, fit for a log line.
QString shown(const QString& name)
{
    QString out = name.left(OperatorDirectory::MaxNameLength);
    std::replace_if(out.begin(), out.end(), [](QChar c) { return c.category() == QChar::Other_Control; }, QLatin1Char('?'));
    return out;
}

} // namespace

StatusHttp::StatusHttp(const StatusBoard& board, ConsoleActions* actions) : board_(board), actions_(actions) {}

void StatusHttp::apply(const StatusOptions& options)
{
    key_ = options.key;
    operatorKey_ = options.operatorKey;
    operators_ = options.operators;
    tls_ = options.tls.has_value();
    tlsMetrics_.clear();
    if (options.tls && !options.tls->localCertificate().isNull()) {
        const QDateTime expiry = options.tls->localCertificate().expiryDate();
        tlsMetrics_ = "# HELP parking_tls_certificate_expiry_timestamp_seconds When the status page's certificate "
                      "expires, since the Unix epoch.\n# TYPE parking_tls_certificate_expiry_timestamp_seconds gauge\n"
                      "parking_tls_certificate_expiry_timestamp_seconds " +
                      QByteArray::number(expiry.toSecsSinceEpoch()) + '\n';
    }
    consoleOn_ = actions_ && options.console();
    if (consoleOn_ && !console_)
        console_ = std::make_unique<RemoteConsole>(*actions_);
}

bool StatusHttp::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // A request over the limit was answered already; none is acted on
    // whatever part of it was read.
    if (socket->property(GuardedTcpServer::RefusedProperty).toBool())
        return true;
    QHttpServerResponder responder = makeResponder(request, socket);
    if (request.body().size() > StatusServer::RequestLimit) {
        writeText(responder, "request too large\n", Status::PayloadTooLarge);
        socket->disconnectFromHost();
        return true;
    }
    const QString path = request.url().path();
    const QString from = peer(socket);
    const bool action = path == QLatin1String("/api/open") || path == QLatin1String("/api/spaces");
    const Caller caller = identify(request, from);
    if (caller.refusedFor)
        tooManyFailures(action && consoleOn_, *caller.refusedFor, responder);
    else if (action && consoleOn_)
        act(request, caller, from, responder);
    else if (path != QLatin1String("/") && path != QLatin1String("/api/status") && path != QLatin1String("/metrics"))
        writeText(responder, "not found\n", Status::NotFound);
    else if (request.method() != QHttpServerRequest::Method::Get)
        send(responder, QByteArray("only GET\n"),
             {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "GET"}, {"Cache-Control", "no-store"}},
             Status::MethodNotAllowed);
    else if (caller.access == Access::None)
        askForKey(path, responder);
    else
        serve(path, caller.access, responder);
    if (closeAfter(request)) {
        // After the answer has gone out: the responder writes it as it goes.
        QMetaObject::invokeMethod(socket, [socket] { socket->disconnectFromHost(); }, Qt::QueuedConnection);
    }
    return true;
}

void StatusHttp::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    writeText(responder, "not found\n", Status::NotFound);
}

StatusHttp::Caller StatusHttp::identify(const QHttpServerRequest& request, const QString& from)
{
    Caller caller;
    const auto given = credentials(request);
    if (!given) {
        caller.access = key_.isEmpty() ? Access::Read : Access::None;
        return caller;
    }
    caller.gaveCredentials = true;
    const auto now = std::chrono::steady_clock::now();
    if ((caller.refusedFor = limiter_.refusedFor(from, given->name, now)))
        return caller;
    if (!given->name.isEmpty()) {
        if (const auto who = operators_.check(given->name, given->key)) {
            caller.access = Access::Operate;
            caller.operatorName = *who;
            return caller;
        }
    } else if (!operatorKey_.isEmpty() && sameKey(given->key, operatorKey_)) {
        caller.access = Access::Operate;
        return caller;
    } else if (!key_.isEmpty() && sameKey(given->key, key_)) {
        caller.access = Access::Read;
        return caller;
    }
    // A wrong key is refused even where no key is needed to read: a page
    // holding one learns so and asks again instead of failing every second.
    loginFailed(from, given->name);
    return caller;
}

void StatusHttp::loginFailed(const QString& from, const QString& name)
{
    ++failedLogins_;
    const auto began = limiter_.failed(from, name, std::chrono::steady_clock::now());
    if (!actions_)
        return;
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(LoginLimiter::Window).count();
    if (began.address)
        actions_->note(QStringLiteral("Consola remota: demasiados accesos fallidos desde %1; se rechazan durante %2 minutos")
                           .arg(from)
                           .arg(minutes));
    if (began.name)
        actions_->note(QStringLiteral("Consola remota: demasiados accesos fallidos del operador |%1| (desde %2); se rechazan "
                                      "durante %3 minutos")
                           .arg(shown(name), from)
                           .arg(minutes));
}

// Every answer goes out with these: no type guessing, no address of the
// page sent on, and over TLS a browser told to come back only so.
void StatusHttp::send(QHttpServerResponder& responder, const QByteArray& body, Headers headers, Status status) const
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

void StatusHttp::writeText(QHttpServerResponder& responder, const QByteArray& body, Status status) const
{
    send(responder, body, {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}}, status);
}

void StatusHttp::askForKey(const QString& path, QHttpServerResponder& responder) const
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

void StatusHttp::tooManyFailures(bool action, std::chrono::seconds wait, QHttpServerResponder& responder) const
{
    const QByteArray retry = QByteArray::number(static_cast<qint64>(std::max<std::chrono::seconds::rep>(1, wait.count())));
    if (action) {
        const auto answer = refusal(429, QStringLiteral("too many failed logins; wait and try again"));
        send(responder, answer.body, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}, {"Retry-After", retry}},
             Status::TooManyRequests);
        return;
    }
    send(responder, QByteArray("too many failed logins; wait and try again\n"),
         {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}, {"Retry-After", retry}},
         Status::TooManyRequests);
}

void StatusHttp::act(const QHttpServerRequest& request, const Caller& caller, const QString& from,
                     QHttpServerResponder& responder)
{
    if (request.method() != QHttpServerRequest::Method::Post) {
        send(responder, QByteArray("only POST\n"),
             {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "POST"}, {"Cache-Control", "no-store"}},
             Status::MethodNotAllowed);
        return;
    }
    const QByteArray path = request.url().path().toUtf8();
    ConsoleGuard::Answer answer;
    if (caller.access == Access::Operate) {
        answer = console_->handle({path, header(request, "Content-Type"), request.body(), header(request, "Idempotency-Key"),
                                   from, caller.operatorName},
                                  std::chrono::steady_clock::now());
    } else if (caller.access == Access::Read && caller.gaveCredentials) {
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

void StatusHttp::serve(const QString& path, Access access, QHttpServerResponder& responder) const
{
    if (path == QLatin1String("/")) {
        send(responder, statusPage(),
             {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}, {"Content-Security-Policy", pagePolicy()}});
        return;
    }
    const StatusSnapshot snapshot = board_.snapshot();
    const QDateTime now = board_.clock().now();
    if (path == QLatin1String("/api/status")) {
        // The page learns from this whether to offer the console.
        const char* console = !consoleOn_ ? "none" : access == Access::Operate ? "operator" : "available";
        send(responder, statusJson(snapshot, now),
             {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}, {"X-Console", console}});
        return;
    }
    const QByteArray logins = "# HELP parking_status_failed_logins_total Wrong keys, names or operator keys sent to the "
                              "status page.\n# TYPE parking_status_failed_logins_total counter\n"
                              "parking_status_failed_logins_total " +
                              QByteArray::number(failedLogins_) + '\n';
    send(responder, statusMetrics(snapshot, now) + tlsMetrics_ + logins + (console_ ? console_->metrics() : QByteArray()),
         {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, {"Cache-Control", "no-store"}});
}

} // namespace parking

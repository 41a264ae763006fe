// The remote console against the running program: over TLS with a
// certificate made here, each key's rights, the actions' effects on the
// stations, and connections held open by one client.
#include "HttpSupport.h"
#include "KeyHash.h"
#include "RunningStation.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QDeadlineTimer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace parking::test;

namespace {

const QByteArray ReadKey = "read-key-for-tests";
const QByteArray OperatorKey = "operator-key-0123456789";
// Two named operators; the hashes' cost is the least a file may hold.
const QString Maria = QStringLiteral("María");
const QByteArray MariaKey = "la clave de María";
const QByteArray LuisKey = "la clave de Luis";

QString operatorsSection()
{
    return QStringLiteral("[Operadores]\n%1=%2\nluis=%3\n")
        .arg(Maria, parking::KeyHash::make(MariaKey, 10)->text(), parking::KeyHash::make(LuisKey, 10)->text());
}

QByteArray basic(const QString& name, const QByteArray& key)
{
    return "Basic " + QByteArray(name.toUtf8() + ':' + key).toBase64();
}

// A self-signed certificate for 127.0.0.1 and its private key (0600): EC,
// or RSA (which the suites of RSA key exchange could use).
struct Certificate {
    explicit Certificate(bool rsa = false)
    {
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        QProcess p;
        const QStringList kind = rsa ? QStringList{QStringLiteral("rsa:2048")}
                                    : QStringList{QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                                                  QStringLiteral("ec_paramgen_curve:prime256v1")};
        p.start(openssl, QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey")} + kind +
                             QStringList{QStringLiteral("-nodes"),
                          QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                          QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                          key(), QStringLiteral("-out"), certificate()});
        made = p.waitForFinished(30000) && p.exitCode() == 0;
        ::chmod(QFile::encodeName(key()).constData(), 0600);
    }
    QString certificate() const { return dir.filePath(QStringLiteral("cert.pem")); }
    QString key() const { return dir.filePath(QStringLiteral("key.pem")); }
    QTemporaryDir dir;
    bool made = false;
};

// One request over TLS, trusting only `certificate`.
Reply tlsRequest(quint16 port, const QString& certificate, const QByteArray& raw)
{
    QSslSocket socket;
    QSslConfiguration tls = socket.sslConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(certificate));
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    socket.setSslConfiguration(tls);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForEncrypted(10000))
        return {};
    socket.write(raw);
    return readReply(socket);
}

// `key`: a bearer key, or a whole Authorization value ("Basic ...").
QByteArray authorization(const QByteArray& key)
{
    return key.startsWith("Basic ") ? key : "Bearer " + key;
}

QByteArray post(const QByteArray& path, const QByteArray& key, const QByteArray& body,
                const QByteArray& type = "application/json", const QByteArray& extra = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
           (key.isEmpty() ? QByteArray() : "Authorization: " + authorization(key) + "\r\n") + "Content-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + extra + "\r\n" + body;
}

QByteArray getWith(const QByteArray& path, const QByteArray& key)
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nAuthorization: " + authorization(key) +
           "\r\n\r\n";
}

class ConsoleOverTls : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    // The program with the console over TLS; `script`: reads it plays.
    void start(const QString& script = {})
    {
        ASSERT_TRUE(tls.made) << "openssl could not make a certificate";
        station.reset();
        port = freePort();
        station = std::make_unique<RunningStation>(
            QStringLiteral("\n[Estado]\nPuerto=%1\nClave=%2\nClaveOperador=%3\nCertificado=%4\nClavePrivada=%5\n%6")
                .arg(port)
                .arg(QString::fromUtf8(ReadKey), QString::fromUtf8(OperatorKey), tls.certificate(), tls.key(),
                     operatorsSection()),
            script);
        ASSERT_TRUE(station->waitFor(QStringLiteral("ESTADO: página de estado en https://127.0.0.1:")))
            << station->out().toStdString();
    }
    Reply send(const QByteArray& raw) { return tlsRequest(port, tls.certificate(), raw); }

    Certificate tls;
    quint16 port = 0;
    std::unique_ptr<RunningStation> station;
};

TEST_F(ConsoleOverTls, EachKeyHasItsRightsAndTheActionsReachTheStations)
{
    // Reading: the read key and the operator key; the page says which.
    EXPECT_EQ(send(getWith("/api/status", "wrong")).status, 401);
    const Reply read = send(getWith("/api/status", ReadKey));
    EXPECT_EQ(read.status, 200);
    EXPECT_TRUE(read.head.contains("X-Console: available")) << read.head.toStdString();
    EXPECT_TRUE(send(getWith("/api/status", OperatorKey)).head.contains("X-Console: operator"));
    // Plain HTTP gets nothing from a TLS port.
    EXPECT_EQ(get(port, "/api/status").status, 0);

    // Acting: the operator key only.
    EXPECT_EQ(send(post("/api/open", {}, R"({"station": 1})")).status, 401);
    EXPECT_EQ(send(post("/api/open", "wrong-key-wrong-key", R"({"station": 1})")).status, 401);
    EXPECT_EQ(send(post("/api/open", ReadKey, R"({"station": 1})")).status, 403);
    EXPECT_EQ(send(getWith("/api/open", OperatorKey)).status, 405);
    EXPECT_EQ(send(post("/api/open", OperatorKey, "{station: 1", "application/json")).status, 400);
    EXPECT_EQ(send(post("/api/open", OperatorKey, R"({"station": 1})", "text/plain")).status, 415);
    EXPECT_EQ(send(post("/api/spaces", OperatorKey, "{\"value\": \"" + QByteArray(20000, '1') + "\"}")).status, 413);
    EXPECT_FALSE(station->out().contains(QStringLiteral("> relay"))) << "nothing refused may open";
    EXPECT_FALSE(station->out().contains(QStringLiteral("Actualización remota"))) << "an oversized request was acted on";

    const Reply opened = send(post("/api/open", OperatorKey, R"({"station": 1})"));
    EXPECT_EQ(opened.status, 200) << opened.body.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(opened.body).object()[QStringLiteral("done")].toBool());
    ASSERT_TRUE(station->waitFor(QStringLiteral("> relay 1"))) << station->out().toStdString();
    EXPECT_TRUE(station->out().contains(QStringLiteral("Apertura manual remota: entrada (desde 127.0.0.1)")));

    const Reply set = send(post("/api/spaces", OperatorKey, R"({"value": 30})"));
    EXPECT_EQ(set.status, 200) << set.body.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(set.body).object()[QStringLiteral("freeSpaces")].toInt(), 30);
    ASSERT_TRUE(station->waitFor(QStringLiteral("> plazas 30"))) << station->out().toStdString();
    const Reply refused = send(post("/api/spaces", OperatorKey, R"({"value": 5000})"));
    EXPECT_EQ(refused.status, 400);
    EXPECT_TRUE(refused.body.contains("NO SE PUEDEN ACTUALIZAR LAS PLAZAS"));

    // A retry with the same key gets the first answer; the barrier opens once.
    const QByteArray once = "Idempotency-Key: retry-1\r\n";
    const Reply first = send(post("/api/open", OperatorKey, R"({"station": 2})", "application/json", once));
    const Reply again = send(post("/api/open", OperatorKey, R"({"station": 2})", "application/json", once));
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, first.body);
    ASSERT_TRUE(station->waitFor(QStringLiteral("> relay 2"))) << station->out().toStdString();

    // Four actions so far; six more make ten in the minute, the next waits.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(send(post("/api/spaces", OperatorKey, R"({"value": 31})")).status, 200) << i;
    EXPECT_EQ(send(post("/api/spaces", OperatorKey, R"({"value": 32})")).status, 429);

    const Reply metrics = send(getWith("/metrics", ReadKey));
    EXPECT_TRUE(metrics.body.contains("parking_remote_actions_total{action=\"open\",outcome=\"done\"} 2\n"))
        << metrics.body.toStdString();
    EXPECT_TRUE(metrics.body.contains("parking_remote_actions_total{action=\"open\",outcome=\"repeated\"} 1\n"));
    EXPECT_TRUE(metrics.body.contains("parking_remote_actions_total{action=\"spaces\",outcome=\"rate_limited\"} 1\n"));
    // The certificate's expiry, for the alert on it: two days from now.
    {
        const QByteArray name = "\nparking_tls_certificate_expiry_timestamp_seconds ";
        const qsizetype at = metrics.body.indexOf(name);
        ASSERT_GE(at, 0) << metrics.body.toStdString();
        const qint64 expiry = metrics.body.mid(at + name.size()).split('\n').front().toLongLong();
        const qint64 expected = QSslCertificate::fromPath(tls.certificate()).front().expiryDate().toSecsSinceEpoch();
        EXPECT_EQ(expiry, expected);
        EXPECT_NEAR(static_cast<double>(expiry - QDateTime::currentSecsSinceEpoch()), 2 * 86400.0, 3600.0);
    }
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (!promtool.isEmpty()) {
        QProcess check;
        check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        check.write(metrics.body);
        check.closeWriteChannel();
        ASSERT_TRUE(check.waitForFinished(30000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardError().toStdString();
    }

    // A client that opens a connection and never starts the handshake is
    // closed once the head's time is up.
    QTcpSocket stalled;
    stalled.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(stalled.waitForConnected(5000));
    QDeadlineTimer closed(20000);
    while (stalled.state() == QAbstractSocket::ConnectedState && !closed.hasExpired())
        stalled.waitForDisconnected(200);
    EXPECT_NE(stalled.state(), QAbstractSocket::ConnectedState) << "a stalled handshake holds its connection";

    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
    EXPECT_EQ(station->out().count(QStringLiteral("> relay 2")), 1) << "the retry opened the exit again";
    EXPECT_FALSE(station->out().contains(QString::fromUtf8(OperatorKey))) << "the operator key reached the log";
    EXPECT_FALSE(station->out().contains(QString::fromUtf8(ReadKey))) << "the read key reached the log";
}

TEST_F(ConsoleOverTls, NamedOperatorsActUnderTheirNamesAndFailedLoginsAreHeldBack)
{
    // The hint follows the page's own line; it may not have been read yet.
    EXPECT_TRUE(station->waitFor(QStringLiteral("ESTADO: ClaveOperador está escrita en claro"))) << "no hint to hash it";
    EXPECT_TRUE(station->out().contains(QStringLiteral("(consola con 2 operadores con nombre)")));
    const Reply status = send(getWith("/api/status", basic(QStringLiteral("MARÍA"), MariaKey)));
    EXPECT_EQ(status.status, 200);
    EXPECT_TRUE(status.head.contains("X-Console: operator")) << status.head.toStdString();
    EXPECT_EQ(send(post("/api/open", basic(Maria, MariaKey), R"({"station": 1})")).status, 200);
    ASSERT_TRUE(station->waitFor(QStringLiteral("Apertura manual remota: entrada por María (desde 127.0.0.1)")))
        << station->out().toStdString();
    EXPECT_EQ(send(post("/api/spaces", basic(QStringLiteral("luis"), LuisKey), R"({"value": 20})")).status, 200);
    ASSERT_TRUE(station->waitFor(QStringLiteral("Actualización remota de plazas: |20| por luis (desde 127.0.0.1)")));
    const Reply metrics = send(getWith("/metrics", ReadKey));
    EXPECT_TRUE(metrics.body.contains(
        "parking_remote_actions_total{action=\"open\",outcome=\"done\",operator=\"María\"} 1\n"))
        << metrics.body.toStdString();
    EXPECT_TRUE(metrics.body.contains("parking_remote_actions_total{action=\"spaces\",outcome=\"done\",operator=\"luis\"} 1\n"));

    // Luis's key guessed: the fifth wrong one holds the name back, even
    // with the right key, and the log says so once.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(send(post("/api/open", basic(QStringLiteral("luis"), "guess" + QByteArray::number(i)), R"({"station": 1})")).status,
                  401)
            << i;
    const Reply held = send(post("/api/open", basic(QStringLiteral("luis"), LuisKey), R"({"station": 1})"));
    EXPECT_EQ(held.status, 429) << held.body.toStdString();
    EXPECT_TRUE(held.head.contains("Retry-After: ")) << held.head.toStdString();
    ASSERT_TRUE(station->waitFor(QStringLiteral("Consola remota: demasiados accesos fallidos del operador |luis| (desde "
                                                "127.0.0.1); se rechazan durante 5 minutos")))
        << station->out().right(3000).toStdString();
    EXPECT_EQ(send(getWith("/api/status", basic(Maria, MariaKey))).status, 200) << "another name is not held back";
    // Names nobody has and wrong bearer keys count for the address: ten
    // failures from it and it is held back, whoever it claims to be.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(send(getWith("/api/status", basic(QStringLiteral("nadie%1").arg(i), MariaKey))).status, 401) << i;
    EXPECT_EQ(send(getWith("/api/status", "not-a-key")).status, 401);
    EXPECT_EQ(send(getWith("/api/status", basic(Maria, MariaKey))).status, 429);
    EXPECT_EQ(send(getWith("/api/status", ReadKey)).status, 429);
    ASSERT_TRUE(station->waitFor(QStringLiteral("Consola remota: demasiados accesos fallidos desde 127.0.0.1")));

    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
    EXPECT_EQ(station->out().count(QStringLiteral("> relay 1")), 1) << "a held-back login opened the barrier";
    for (const QByteArray& secret : {MariaKey, LuisKey})
        EXPECT_FALSE(station->out().contains(QString::fromUtf8(secret))) << "a key reached the log";
}

// Debian's chromium driven by puppeteer-core (tests/browser, installed by
// the test script): the read key shows no buttons, a wrong key nothing, the
// operator key opens the entrance once confirmed. PARKING_SCREENSHOTS=DIR
// keeps the page's pictures at desktop and phone width.
// What `openssl s_client` offering only `options` makes of the console.
bool handshakeSucceeds(quint16 port, const QStringList& options)
{
    QProcess client;
    client.start(QStringLiteral("openssl"),
                 QStringList{QStringLiteral("s_client"), QStringLiteral("-connect"), QStringLiteral("127.0.0.1:%1").arg(port)} +
                     options);
    client.closeWriteChannel();
    if (!client.waitForFinished(20000)) {
        client.kill();
        client.waitForFinished();
        return false;
    }
    const QByteArray out = client.readAllStandardOutput();
    return client.exitCode() == 0 && out.contains("Cipher is ") && !out.contains("Cipher is (NONE)");
}

TEST_F(ConsoleOverTls, OnlyForwardSecretAeadSuitesAndTheHardenedHeadersOnEveryAnswer)
{
    struct Offer {
        const char* what;
        QStringList options;
        bool accepted;
    };
    const Offer offers[] = {
        {"TLS 1.2, AES128-SHA only (no forward secrecy, CBC)", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("AES128-SHA")}, false},
        {"TLS 1.2, ECDHE with AES-CBC", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("ECDHE-ECDSA-AES128-SHA")}, false},
        {"TLS 1.1", {QStringLiteral("-tls1_1")}, false},
        {"TLS 1.2, ECDHE with AES-GCM", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("ECDHE-ECDSA-AES128-GCM-SHA256")}, true},
        {"TLS 1.2, ECDHE with ChaCha20-Poly1305", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("ECDHE-ECDSA-CHACHA20-POLY1305")}, true},
        {"TLS 1.3", {QStringLiteral("-tls1_3")}, true},
    };
    for (const Offer& o : offers)
        EXPECT_EQ(handshakeSucceeds(port, o.options), o.accepted) << o.what;
    {
        // With an RSA certificate the suites of RSA key exchange could be
        // agreed: they are not.
        Certificate rsa(true);
        ASSERT_TRUE(rsa.made);
        const quint16 rsaPort = freePort();
        RunningStation withRsa(QStringLiteral("\n[Estado]\nPuerto=%1\nClave=%2\nCertificado=%3\nClavePrivada=%4\n")
                                   .arg(rsaPort)
                                   .arg(QString::fromUtf8(ReadKey), rsa.certificate(), rsa.key()));
        ASSERT_TRUE(withRsa.waitFor(QStringLiteral("ESTADO: página de estado en https://127.0.0.1:"))) << withRsa.out().toStdString();
        const Offer rsaOffers[] = {
            {"RSA certificate, TLS 1.2, AES128-SHA only", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("AES128-SHA")}, false},
            {"RSA certificate, TLS 1.2, AES128-GCM-SHA256 (RSA key exchange)", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("AES128-GCM-SHA256")}, false},
            {"RSA certificate, TLS 1.2, ECDHE-RSA-AES128-GCM-SHA256", {QStringLiteral("-tls1_2"), QStringLiteral("-cipher"), QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256")}, true},
        };
        for (const Offer& o : rsaOffers)
            EXPECT_EQ(handshakeSucceeds(rsaPort, o.options), o.accepted) << o.what;
    }

    const QByteArray requests[] = {
        getWith("/", ReadKey),
        getWith("/api/status", ReadKey),
        getWith("/metrics", ReadKey),
        getWith("/nothing", ReadKey),
        "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", // no key
        post("/", ReadKey, "{}"),
        post("/api/open", ReadKey, R"({"station": 1})"),
    };
    for (const QByteArray& raw : requests) {
        const Reply r = send(raw);
        ASSERT_NE(r.status, 0) << raw.toStdString();
        const QByteArray head = r.head.toLower();
        EXPECT_TRUE(head.contains("\r\nx-content-type-options: nosniff\r\n")) << r.head.toStdString();
        EXPECT_TRUE(head.contains("\r\nreferrer-policy: no-referrer\r\n")) << r.head.toStdString();
        EXPECT_TRUE(head.contains("\r\nstrict-transport-security: max-age=31536000\r\n")) << r.head.toStdString();
    }
    // The page: its own script by hash, nothing inline beside it, no framing.
    const Reply page = send(getWith("/", ReadKey));
    const qsizetype at = page.head.toLower().indexOf("content-security-policy: ");
    ASSERT_GE(at, 0) << page.head.toStdString();
    const QByteArray policy = page.head.mid(at).split('\r').front();
    EXPECT_TRUE(policy.contains("script-src 'sha256-")) << policy.toStdString();
    EXPECT_FALSE(policy.contains("script-src 'unsafe-inline'")) << policy.toStdString();
    EXPECT_TRUE(policy.contains("frame-ancestors 'none'")) << policy.toStdString();
}

TEST_F(ConsoleOverTls, ARealBrowserOpensTheEntranceWithTheOperatorKeyOnly)
{
    const QString browserTests = QStringLiteral(PARKING_SOURCE_DIR "/tests/browser");
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty() ||
        !QFile::exists(browserTests + QStringLiteral("/node_modules/puppeteer-core")))
        GTEST_SKIP() << "needs node, chromium and `npm ci` in tests/browser (scripts/test.sh runs it)";
    // A granted entrance and a refusal, so the grid has rows.
    start(QStringLiteral("0.3 track 1 %B0010000000101?\n0.5 card 1 ;0000000999999?\n"));
    ASSERT_TRUE(station->waitFor(QStringLiteral("> grid"), 2)) << station->out().toStdString();
    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{browserTests + QStringLiteral("/console.mjs"), QStringLiteral("https://127.0.0.1:%1/").arg(port),
                     QString::fromUtf8(ReadKey), QString::fromUtf8(OperatorKey), Maria, QString::fromUtf8(MariaKey)};
    if (qEnvironmentVariableIsSet("PARKING_SCREENSHOTS"))
        args << qEnvironmentVariable("PARKING_SCREENSHOTS");
    browser.start(node, args);
    ASSERT_TRUE(browser.waitForFinished(120000));
    const QString said = QString::fromUtf8(browser.readAll());
    EXPECT_EQ(browser.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("free spaces set to 25"))) << said.toStdString();
    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
    // The granted read opened the entrance once; the console once more.
    EXPECT_EQ(station->out().count(QStringLiteral("> relay 1")), 2) << station->out().toStdString();
    EXPECT_EQ(station->out().count(QStringLiteral("Apertura manual remota: entrada (desde 127.0.0.1)")), 1);
    EXPECT_TRUE(station->out().contains(QStringLiteral("> plazas 25")));
    EXPECT_EQ(station->out().count(QStringLiteral("Apertura manual remota: salida por María (desde 127.0.0.1)")), 1);
}

TEST(Console, WithoutAnOperatorKeyThereIsNoActionToFind)
{
    const quint16 port = freePort();
    RunningStation station(QStringLiteral("\n[Estado]\nPuerto=%1\n").arg(port));
    ASSERT_TRUE(station.waitFor(QStringLiteral("ESTADO: página de estado"))) << station.out().toStdString();
    EXPECT_EQ(request(port, post("/api/open", {}, R"({"station": 1})")).status, 404);
    EXPECT_EQ(station.stop(), 0);
    EXPECT_FALSE(station.out().contains(QStringLiteral("> relay")));
}

// 40 connections from one address that send half a request and wait: they
// get at most their share of the slots, and another client is served at once.
TEST(Console, OneClientHoldingConnectionsDoesNotShutOthersOut)
{
    const quint16 port = freePort();
    RunningStation station(QStringLiteral("\n[Estado]\nPuerto=%1\n").arg(port));
    ASSERT_TRUE(station.waitFor(QStringLiteral("ESTADO: página de estado"))) << station.out().toStdString();
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 40; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        ASSERT_TRUE(socket->bind(QHostAddress(QStringLiteral("127.0.0.2"))));
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        ASSERT_TRUE(socket->waitForConnected(5000));
        socket->write("GET /api/status HTTP/1.1\r\nHost: x\r\n");
        socket->flush();
        idle.push_back(std::move(socket));
    }
    const Reply served = get(port, "/api/status");
    EXPECT_EQ(served.status, 200);
    // The server closes all but its share at once, and the rest once the
    // head has not come in time.
    auto stillOpen = [&] {
        int open = 0;
        for (auto& s : idle) {
            s->waitForReadyRead(0);
            open += s->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        }
        return open;
    };
    QDeadlineTimer settle(5000);
    while (stillOpen() > 8 && !settle.hasExpired())
        QThread::msleep(20);
    EXPECT_LE(stillOpen(), 8);
    QDeadlineTimer dropped(20000);
    while (stillOpen() > 0 && !dropped.hasExpired())
        QThread::msleep(50);
    EXPECT_EQ(stillOpen(), 0) << "half a request holds a connection for good";
    EXPECT_EQ(get(port, "/api/status").status, 200);
    EXPECT_EQ(station.stop(), 0) << station.out().toStdString();
}

} // namespace

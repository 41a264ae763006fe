// The status page against the running program: headless, the embedded demo
// database, scripted reads; every endpoint, the key rule, bad requests, and
// what Prometheus's own checker and a real browser make of it.
#include "HttpSupport.h"
#include "RunningStation.h"
#include "ProcessSupport.h"
#include "DemoSite.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace parking::test;

namespace {

QString section(quint16 port, const QString& more = {})
{
    return QStringLiteral("\n[Estado]\nPuerto=%1\n").arg(port) + more;
}

// A granted entrance (subscriber 101) and a refusal (an unknown card).
const QString TwoReads = QStringLiteral("0.3 track 1 %B0010000000101?\n0.5 card 1 ;0000000999999?\n");

class StatusPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = freePort();
        station = std::make_unique<RunningStation>(section(port), TwoReads);
        ASSERT_TRUE(station->waitFor(QStringLiteral("ESTADO: página de estado en http://127.0.0.1:"))) << station->out().toStdString();
        ASSERT_TRUE(station->waitFor(QStringLiteral("> grid"), 2)) << station->out().toStdString();
        // The trace line comes just before the board takes the row; the page
        // is read from another thread, so wait until it shows both passages.
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            const QJsonObject s = QJsonDocument::fromJson(get(port, "/api/status").body).object();
            const QJsonObject passages = s[QStringLiteral("stations")].toArray()[0].toObject()[QStringLiteral("passages")].toObject();
            if (s[QStringLiteral("grid")].toArray().size() == 2 && passages[QStringLiteral("unknown_subscriber")].toInt() == 1)
                break;
            QThread::msleep(20);
        }
    }
    quint16 port = 0;
    std::unique_ptr<RunningStation> station;
};

TEST_F(StatusPage, StatusJsonShowsTheCountTheStationsAndTheGrid)
{
    const Reply r = get(port, "/api/status");
    ASSERT_EQ(r.status, 200) << r.head.toStdString();
    EXPECT_TRUE(r.head.contains("Content-Type: application/json"));
    const QJsonObject s = QJsonDocument::fromJson(r.body).object();
    EXPECT_EQ(s[QStringLiteral("installation")].toString(), QStringLiteral("POLIDEPORTIVO MUNICIPAL"));
    EXPECT_EQ(s[QStringLiteral("capacity")].toInt(), 120);
    EXPECT_TRUE(s[QStringLiteral("inService")].toBool());
    const QJsonArray stations = s[QStringLiteral("stations")].toArray();
    ASSERT_EQ(stations.size(), 2);
    const QJsonObject entrance = stations[0].toObject();
    EXPECT_TRUE(entrance[QStringLiteral("readerOnline")].toBool());
    EXPECT_EQ(entrance[QStringLiteral("passages")].toObject()[QStringLiteral("granted")].toInt(), 1);
    EXPECT_EQ(entrance[QStringLiteral("passages")].toObject()[QStringLiteral("unknown_subscriber")].toInt(), 1);
    EXPECT_TRUE(entrance[QStringLiteral("display")].toString().startsWith(QStringLiteral("TARJETA NO VALIDA")));
    const QJsonArray grid = s[QStringLiteral("grid")].toArray();
    ASSERT_EQ(grid.size(), 2);
    EXPECT_EQ(grid[0].toObject()[QStringLiteral("colour")].toString(), QStringLiteral("red"));   // newest first
    EXPECT_EQ(grid[1].toObject()[QStringLiteral("colour")].toString(), QStringLiteral("black"));
    EXPECT_EQ(grid[1].toObject()[QStringLiteral("subscriber")].toInt(), 101);
    const QJsonObject database = s[QStringLiteral("database")].toObject();
    EXPECT_TRUE(database[QStringLiteral("connected")].toBool());
    EXPECT_EQ(database[QStringLiteral("journalPending")].toInt(), 0);
    // No subscriber's name anywhere.
    EXPECT_FALSE(r.body.contains("Cuota en vigor")) << r.body.toStdString();
    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
}

TEST_F(StatusPage, MetricsCountPassagesAndPassPrometheusChecker)
{
    const Reply r = get(port, "/metrics");
    ASSERT_EQ(r.status, 200);
    EXPECT_TRUE(r.body.contains("parking_passages_total{station=\"1\",outcome=\"granted\"} 1\n"));
    EXPECT_TRUE(r.body.contains("parking_passages_total{station=\"1\",outcome=\"unknown_subscriber\"} 1\n"));
    EXPECT_TRUE(r.body.contains("parking_rights_decision_seconds_count 2\n"));
    EXPECT_TRUE(r.body.contains("parking_capacity 120\n"));
    EXPECT_TRUE(r.body.contains("parking_build_info{version=\""));
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        GTEST_SKIP() << "promtool is not installed (Debian's prometheus package)";
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(r.body);
    check.closeWriteChannel();
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString()
                                   << check.readAllStandardError().toStdString();
}

TEST_F(StatusPage, BadRequestsAreRefusedAndTheProgramCarriesOn)
{
    struct Case {
        const char* name;
        QByteArray raw;
        int status; // 0: closed without an answer
    };
    const Case cases[] = {
        {"unknown path", "GET /admin HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 404},
        {"POST", "POST /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}", 405},
        {"DELETE", "DELETE /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405},
        {"oversized header", "GET / HTTP/1.1\r\nHost: x\r\nX-Fill: " + QByteArray(40000, 'a') + "\r\n\r\n", 413},
        {"oversized body", "PUT / HTTP/1.1\r\nHost: x\r\nContent-Length: 200000\r\n\r\n" + QByteArray(200000, 'b'), 413},
        {"garbage", QByteArray("\x00\xff\r\n\r\n not http at all\r\n\r\n", 27), 0},
    };
    for (const Case& c : cases) {
        const Reply r = request(port, c.raw);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.head.toStdString();
    }
    EXPECT_EQ(get(port, "/api/status").status, 200);
    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
}

TEST(StatusPageKey, EveryRequestNeedsTheKeyOnceOneIsSet)
{
    const quint16 port = freePort();
    RunningStation station(section(port, QStringLiteral("Clave=s3cr3t-key\n")));
    ASSERT_TRUE(station.waitFor(QStringLiteral("ESTADO: página de estado"))) << station.out().toStdString();
    EXPECT_EQ(get(port, "/api/status").status, 401);
    EXPECT_EQ(get(port, "/metrics", "Authorization: Bearer wrong-key\r\n").status, 401);
    EXPECT_EQ(get(port, "/metrics", "Authorization: Basic czNjcjN0LWtleQ==\r\n").status, 401);
    EXPECT_EQ(get(port, "/api/status", "Authorization: Bearer s3cr3t-key\r\n").status, 200);
    EXPECT_EQ(get(port, "/metrics", "Authorization: Bearer s3cr3t-key\r\n").status, 200);
    // The page without the key is only the form that asks for it.
    const Reply page = get(port, "/");
    EXPECT_EQ(page.status, 401);
    EXPECT_TRUE(page.body.contains("key-form"));
    EXPECT_EQ(station.stop(), 0) << station.out().toStdString();
    EXPECT_FALSE(station.out().contains(QStringLiteral("s3cr3t"))) << "the key reached the log";
}

TEST(StatusPageKey, OffLoopbackWithoutKeyDoesNotStartAndSaysWhy)
{
    const quint16 port = freePort();
    RunningStation station(section(port, QStringLiteral("Direccion=0.0.0.0\n")));
    ASSERT_TRUE(station.waitFor(QStringLiteral("ESTADO: la página de estado no se inicia: [Estado] Direccion=0.0.0.0 no es "
                                               "local y falta [Estado] Clave")))
        << station.out().toStdString();
    EXPECT_EQ(get(port, "/api/status").status, 0);
    EXPECT_EQ(station.stop(), 0) << "the stations run on without the page";
}

// Headless Chromium loads the page, runs its script against /api/status and
// dumps the document it built.
TEST_F(StatusPage, ARealBrowserShowsTheCountBothStationsAndTheGrid)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    const int free = QJsonDocument::fromJson(get(port, "/api/status").body).object()[QStringLiteral("freeSpaces")].toInt();
    QTemporaryDir profile;
    QProcess browser;
    browser.start(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                             QStringLiteral("--disable-sync"), QStringLiteral("--user-data-dir=") + profile.path(),
                             QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--dump-dom"),
                             QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    ASSERT_TRUE(browser.waitForFinished(60000));
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    EXPECT_TRUE(dom.contains(QStringLiteral("<div id=\"free\">%1</div>").arg(free))) << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("POLIDEPORTIVO MUNICIPAL")));
    EXPECT_EQ(dom.count(QStringLiteral("<div class=\"reader ok\">Lector en línea")), 2) << dom.toStdString();
    EXPECT_EQ(dom.count(QStringLiteral("<tr class=\"black\">")), 1);
    EXPECT_EQ(dom.count(QStringLiteral("<tr class=\"red\">")), 1);
    EXPECT_TRUE(dom.contains(QStringLiteral("BIENVENIDO")));
    EXPECT_TRUE(dom.contains(QStringLiteral("TARJETA NO VALIDA")));
}

} // namespace

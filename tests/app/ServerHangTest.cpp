// The program against a PostgreSQL server that stops answering while a
// passage waits on it: every server process stopped (SIGSTOP) before an
// entrance's read or during a passage's write, and a write whose answer the
// proxy holds back after the server committed it. Each time the barrier
// does what the rules say without waiting for the server, the reads and
// clicks queued behind it are served while the server still hangs, the
// program closes while it hangs, and once it answers again every movement
// is in the database once and the count is exact.
#include "FaultProxy.h"
#include "HttpSupport.h"
#include "QtPrinters.h"
#include "ServerSupport.h"
#include "Workstation.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace parking;
using namespace parking::test;

namespace {

class ServerHang : public OnPostgres {
protected:
    void SetUp() override
    {
        OnPostgres::SetUp();
        if (IsSkipped())
            return;
        seedGateWithTwoInside();
        statusPort = freePort();
    }
    QString config(const QString& sid)
    {
        const QString path = configFor(dir.path(), sid);
        QFile ini(path);
        ini.open(QIODevice::Append);
        ini.write(QStringLiteral("[Estado]\nPuerto=%1\n").arg(statusPort).toUtf8());
        return path;
    }
    QString script(const QString& name, const QString& text)
    {
        const QString path = dir.filePath(name);
        writeFile(path, text);
        return path;
    }
    // A short run after the server answers again: start-up writes what waits
    // in the journal.
    QString replayed(const QString& sid)
    {
        Workstation w;
        w.start(config(sid), script(QStringLiteral("quit.txt"), QStringLiteral("0.5 quit\n")));
        EXPECT_EQ(w.finish(30000), 0) << w.seen().toStdString();
        return w.seen();
    }
    QJsonObject database()
    {
        return QJsonDocument::fromJson(get(statusPort, "/api/status").body).object()[QStringLiteral("database")].toObject();
    }
    int stays(int subscriber, bool open)
    {
        return scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo = %1 AND HORASALIDA IS %2NULL")
                          .arg(subscriber)
                          .arg(open ? QString() : QStringLiteral("NOT ")));
    }
    int freeSpaces() { return scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")); }

    quint16 statusPort = 0;
};

TEST_F(ServerHang, StoppedBeforeAnEntrancesReadTheEntranceIsRefusedAndWhatQueuedBehindGoesOn)
{
    Workstation w;
    w.start(config(QStringLiteral("parking_test")),
            script(QStringLiteral("frozen.txt"), QStringLiteral("3.0 track 1 %1\n3.2 track 2 %2\n3.3 open 2\n6.0 quit\n")
                                                     .arg(track(1), track(2))));
    ASSERT_TRUE(w.waitFor(QStringLiteral("> plazas 10"))) << w.seen().toStdString();
    FrozenServer frozen;
    // The exit and the manual opening behind the entrance are served while
    // the server still hangs.
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 2 0 6"), 10000)) << w.seen().toStdString();
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 2 0 100"), 5000)) << w.seen().toStdString();
    // The page answers, and says the database does not.
    const QJsonObject status = database();
    EXPECT_FALSE(status[QStringLiteral("connected")].toBool());
    EXPECT_EQ(status[QStringLiteral("deadlinesExceeded")].toObject()[QStringLiteral("decision")].toInt(), 1);
    EXPECT_TRUE(get(statusPort, "/metrics").body.contains("parking_database_deadline_exceeded_total{call=\"decision\"} 1"));
    // "Salir" while the server still hangs: the program ends.
    EXPECT_EQ(w.finish(10000), 0) << w.seen().toStdString();
    frozen.thaw();

    const QStringList lines = w.lines();
    EXPECT_TRUE(lines.filter(QStringLiteral("> relay 1")).isEmpty()) << "no opening for a decision not answered";
    EXPECT_TRUE(lines.contains(QStringLiteral("ERROR en la lectura del lector 1: The database did not answer within 1000 ms")))
        << w.seen().toStdString();
    EXPECT_FALSE(lines.filter(QStringLiteral("DIARIO: pendiente salida")).isEmpty());

    EXPECT_TRUE(replayed(QStringLiteral("parking_test")).contains(QStringLiteral("escrituras pendientes guardadas")));
    db->reopen();
    EXPECT_EQ(stays(1, true) + stays(1, false), 0);
    EXPECT_EQ(stays(2, false), 1);
    EXPECT_EQ(freeSpaces(), 11);
}

TEST_F(ServerHang, StoppedBeforeAnEntrancesReadTheReplicaDecidesAndThePassageIsWrittenOnce)
{
    const QString ini = config(QStringLiteral("parking_test"));
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("[SinConexion]\nDecidir=1\n");
    }
    Workstation w;
    // The reads late enough for the start-up refresh to be over on a busy machine.
    w.start(ini, script(QStringLiteral("frozen.txt"), QStringLiteral("6.0 track 1 %1\n6.2 track 2 %2\n9.0 quit\n")
                                                          .arg(track(1), track(2))));
    ASSERT_TRUE(w.waitFor(QStringLiteral("> plazas 10"))) << w.seen().toStdString();
    // The replica refreshed at start-up, before the server stops.
    QJsonObject replica;
    for (int i = 0; i < 750 && replica[QStringLiteral("refreshedAt")].isNull(); ++i) {
        replica = QJsonDocument::fromJson(get(statusPort, "/api/status").body).object()[QStringLiteral("replica")].toObject();
        if (replica[QStringLiteral("refreshedAt")].isNull())
            QTest::qWait(20);
    }
    ASSERT_FALSE(replica[QStringLiteral("refreshedAt")].isNull());
    FrozenServer frozen;
    // Decided from the replica once the read's deadline has passed.
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 1 0 6"), 10000)) << w.seen().toStdString();
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 2 0 6"), 5000)) << w.seen().toStdString();
    EXPECT_TRUE(get(statusPort, "/metrics").body.contains("parking_offline_decisions_total{result=\"granted\"} 1"));
    EXPECT_EQ(w.finish(10000), 0) << w.seen().toStdString();
    frozen.thaw();

    const QStringList lines = w.lines();
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^Decisión sin conexión: entra para 1 "))).size(), 1)
        << w.seen().toStdString();
    EXPECT_FALSE(lines.filter(QStringLiteral("DIARIO: pendiente entrada")).isEmpty());
    EXPECT_TRUE(replayed(QStringLiteral("parking_test")).contains(QStringLiteral("escrituras pendientes guardadas")));
    db->reopen();
    EXPECT_EQ(stays(1, true), 1);
    EXPECT_EQ(stays(2, false), 1);
    EXPECT_EQ(freeSpaces(), 10);
}

struct WriteCase {
    const char* name;
    const char* script; // {N}: subscriber N's track
    int entered;        // open stays of subscriber 1 at the end
    int left;           // stays closed of subscribers 2 and 3
    int freeSpaces;
};

class StoppedDuringAWrite : public ServerHang, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(StoppedDuringAWrite, TheBarrierOpensWithinTheDeadlineAndThePassageIsWrittenOnce)
{
    const WriteCase& c = GetParam();
    FaultProxy proxy;
    ASSERT_TRUE(proxy.startForTestServer());
    Workstation w;
    w.start(config(QStringLiteral("parking_test_proxy")),
            script(QStringLiteral("write.txt"), QString::fromLatin1(c.script)
                                                    .replace(QStringLiteral("{1}"), track(1))
                                                    .replace(QStringLiteral("{2}"), track(2))
                                                    .replace(QStringLiteral("{3}"), track(3))));
    ASSERT_TRUE(w.waitFor(QStringLiteral("> plazas 10"))) << w.seen().toStdString();
    // The passage's write reaches a server that has just stopped.
    ASSERT_EQ(proxy.order(QStringLiteral("stall ^WITH u AS")), QStringLiteral("ok"));
    ASSERT_EQ(proxy.line(10000), QStringLiteral("stalled")) << w.seen().toStdString();
    FrozenServer frozen;
    ASSERT_EQ(proxy.order(QStringLiteral("release")), QStringLiteral("ok"));

    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay"), 10000, 3)) << w.seen().toStdString();
    EXPECT_EQ(w.finish(10000), 0) << w.seen().toStdString();
    frozen.thaw();
    const QStringList lines = w.lines();
    EXPECT_EQ(lines.filter(QStringLiteral("> relay")).size(), 3) << w.seen().toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("ERROR al escribir en la base de datos: The database did not answer within 2000 ms")))
        << w.seen().toStdString();

    replayed(QStringLiteral("parking_test"));
    db->reopen();
    EXPECT_EQ(stays(1, true), c.entered);
    EXPECT_EQ(stays(2, false) + stays(3, false), c.left);
    EXPECT_EQ(freeSpaces(), c.freeSpaces);
}

INSTANTIATE_TEST_SUITE_P(Cases, StoppedDuringAWrite, ::testing::Values(
    // The entrance's write stalls; an exit and "Abrir Entrada" wait behind it.
    WriteCase{"Entrance", "3.0 track 1 {1}\n3.2 track 2 {2}\n3.3 open 1\n7.0 quit\n", 1, 1, 10},
    // An exit's write stalls; another exit and "Abrir Entrada" wait behind it.
    WriteCase{"Exit", "3.0 track 2 {2}\n3.2 track 2 {3}\n3.3 open 1\n7.0 quit\n", 0, 2, 12}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerHang, AWriteWhoseAnswerComesLateOpensAtItsDeadlineAndIsWrittenOnce)
{
    FaultProxy proxy;
    ASSERT_TRUE(proxy.startForTestServer());
    Workstation w;
    w.start(config(QStringLiteral("parking_test_proxy")),
            script(QStringLiteral("late.txt"), QStringLiteral("3.0 track 1 %1\n3.2 track 2 %2\n3.3 open 2\n22 quit\n")
                                                   .arg(track(1), track(2))));
    ASSERT_TRUE(w.waitFor(QStringLiteral("> plazas 10"))) << w.seen().toStdString();
    // The server commits the entrance's write at once; its answer reaches the
    // program 15 s later.
    ASSERT_EQ(proxy.order(QStringLiteral("hold 15 ^WITH u AS")), QStringLiteral("ok"));
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 2 0 100"), 10000)) << w.seen().toStdString();
    ASSERT_TRUE(w.waitFor(QStringLiteral("Respuesta tardía de la base de datos"), 25000)) << w.seen().toStdString();
    EXPECT_EQ(w.finish(20000), 0) << w.seen().toStdString();

    const QStringList lines = w.lines();
    EXPECT_EQ(lines.filter(QStringLiteral("> relay 1 0 6")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("> relay 2 0 6")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("Respuesta tardía de la base de datos (escritura del paso)")).size(), 1)
        << w.seen().toStdString();
    // The late answer changes nothing: the count shown is the journal's.
    const qsizetype late = lines.indexOf(lines.filter(QStringLiteral("Respuesta tardía")).front());
    for (qsizetype i = late; i < lines.size(); ++i)
        EXPECT_FALSE(lines[i].startsWith(QLatin1String("> relay")) || lines[i].startsWith(QLatin1String("> plazas")))
            << lines[i].toStdString();
    db->reopen();
    EXPECT_EQ(stays(1, true), 1) << "the write that committed is not written again";
    EXPECT_EQ(stays(2, false), 1);
    EXPECT_EQ(freeSpaces(), 10);
}

} // namespace

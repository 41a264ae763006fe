// The local replica ([SinConexion] Decidir=1) against a real PostgreSQL
// that goes away in the ways a server does: stopped in the middle of
// traffic, its connection black-holed, a refresh cut in the middle, the
// program killed during a refresh, the replica damaged on disk; and two
// workstations on one server, both offline. Each time entrances are
// decided from the last whole copy, and once the server answers every
// movement is in the database once and the count is exact.
#include "FaultProxy.h"
#include "HttpSupport.h"
#include "QtPrinters.h"
#include "ReplicaRecords.h"
#include "SqliteConnection.h"
#include "WaitFor.h"
#include "Workstation.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace parking;
using namespace parking::test;

namespace {

// One workstation's folder: its configuration, journal and replica.
struct Gate {
    QTemporaryDir dir;
    quint16 statusPort = freePort();
    QString replica() const { return dir.filePath(QStringLiteral("parking-replica.db")); }
};

class ReplicaFaults : public OnPostgres {
protected:
    void SetUp() override
    {
        OnPostgres::SetUp();
        if (IsSkipped())
            return;
        seedGateWithTwoInside();
    }
    QString config(const Gate& gate, const QString& sid)
    {
        const QString path = configFor(gate.dir.path(), sid);
        QFile ini(path);
        ini.open(QIODevice::Append);
        ini.write(QStringLiteral("[Estado]\nPuerto=%1\n[SinConexion]\nDecidir=1\n").arg(gate.statusPort).toUtf8());
        return path;
    }
    // {N} in `text`: subscriber N's track.
    QString script(const Gate& gate, const QString& text)
    {
        static int n = 0;
        const QString path = gate.dir.filePath(QStringLiteral("script%1.txt").arg(++n));
        QString lines = text;
        for (int code : {1, 2, 4, 5})
            lines.replace(QStringLiteral("{%1}").arg(code), track(code));
        writeFile(path, lines);
        return path;
    }
    // The replica's last refresh as the status page gives it, once it is
    // not `before` (null until the first refresh).
    QString refreshed(const Gate& gate, const QString& before = QString())
    {
        for (int i = 0; i < 750; ++i) {
            const QJsonObject replica =
                QJsonDocument::fromJson(get(gate.statusPort, "/api/status").body).object()[QStringLiteral("replica")].toObject();
            const QString at = replica[QStringLiteral("refreshedAt")].toString();
            if (!at.isEmpty() && at != before)
                return at;
            QTest::qWait(20);
        }
        return QString();
    }
    // A workstation run until the replica is in place, then ended.
    void buildReplica(const Gate& gate)
    {
        Workstation w;
        w.start(config(gate, QStringLiteral("parking_test")), script(gate, QStringLiteral("30 quit\n")));
        ASSERT_FALSE(refreshed(gate).isEmpty()) << w.seen().toStdString();
        w.kill();
        ASSERT_TRUE(QFileInfo::exists(gate.replica()));
    }
    // A short run after the server answers again: start-up writes what waits
    // in the journal.
    void replay(const Gate& gate)
    {
        Workstation w;
        w.start(config(gate, QStringLiteral("parking_test")), script(gate, QStringLiteral("0.5 quit\n")));
        EXPECT_EQ(w.finish(30000), 0) << w.seen().toStdString();
        EXPECT_TRUE(w.seen().contains(QStringLiteral("escrituras pendientes guardadas"))) << w.seen().toStdString();
    }
    int stays(int subscriber, bool open)
    {
        db->reopen();
        return scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo = %1 AND HORASALIDA IS %2NULL")
                          .arg(subscriber)
                          .arg(open ? QString() : QStringLiteral("NOT ")));
    }
    int freeSpaces()
    {
        db->reopen();
        return scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES"));
    }
    static int offlineEntrances(const Workstation& w, int subscriber)
    {
        return static_cast<int>(
            w.lines().filter(QRegularExpression(QStringLiteral("^Decisión sin conexión: entra para %1 ").arg(subscriber))).size());
    }
    // What the replica on disk says of itself.
    static std::optional<records::ReplicaInfo> infoOf(const QString& path)
    {
        ManualClock clock(QDateTime::currentDateTime());
        SqliteConnection replica(clock, QString());
        ConnectionOptions readOnly;
        readOnly.readOnly = true;
        replica.open(QStringLiteral("Data Source=sqlite:") + path, readOnly);
        return records::readReplicaInfo(replica);
    }
};

TEST_F(ReplicaFaults, ServerStoppedMidTrafficEntrancesGoOnFromTheReplicaAndAreWrittenOnce)
{
    Gate gate;
    Workstation w;
    w.start(config(gate, QStringLiteral("parking_test")),
            script(gate, QStringLiteral("3.0 track 1 {1}\n8.0 track 1 {4}\n8.3 track 2 {2}\n8.6 track 1 {5}\n27.0 quit\n")));
    ASSERT_FALSE(refreshed(gate).isEmpty()) << w.seen().toStdString();
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 1 0 6"))) << w.seen().toStdString();
    serverCommand("stop");
    // Two entrances and an exit while the server is away.
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 1 0 6"), 15000, 3)) << w.seen().toStdString();
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 2 0 6"), 5000)) << w.seen().toStdString();
    const QJsonObject status = QJsonDocument::fromJson(get(gate.statusPort, "/api/status").body).object();
    EXPECT_EQ(status[QStringLiteral("replica")].toObject()[QStringLiteral("offlineDecisionsThisOutage")].toInt(), 2);
    serverCommand("resume");
    ASSERT_TRUE(w.waitForText(QStringLiteral("escrituras pendientes guardadas"), 25000)) << w.seen().toStdString();
    EXPECT_EQ(w.finish(30000), 0) << w.seen().toStdString();

    EXPECT_EQ(offlineEntrances(w, 4), 1) << w.seen().toStdString();
    EXPECT_EQ(offlineEntrances(w, 5), 1);
    for (int code : {1, 4, 5})
        EXPECT_EQ(stays(code, true), 1) << code;
    EXPECT_EQ(stays(2, false), 1);
    EXPECT_EQ(freeSpaces(), 8);
}

TEST_F(ReplicaFaults, ABlackHoledConnectionIsDecidedOfflineOnceTheReadsDeadlinePasses)
{
    Gate gate;
    FaultProxy proxy;
    ASSERT_TRUE(proxy.startForTestServer());
    Workstation w;
    w.start(config(gate, QStringLiteral("parking_test_proxy")),
            script(gate, QStringLiteral("4.0 track 1 {1}\n4.3 track 2 {2}\n20.0 quit\n")));
    ASSERT_FALSE(refreshed(gate).isEmpty()) << w.seen().toStdString();
    // The path dies as the entrance's read goes out: nothing comes back.
    ASSERT_EQ(proxy.order(QStringLiteral("blackhole at UNION ALL")), QStringLiteral("ok"));
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 1 0 6"), 10000)) << w.seen().toStdString();
    ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 2 0 6"), 10000)) << w.seen().toStdString();
    EXPECT_EQ(offlineEntrances(w, 1), 1) << w.seen().toStdString();
    // The path comes back: a new connection replays what waited.
    ASSERT_EQ(proxy.order(QStringLiteral("blackhole off")), QStringLiteral("ok"));
    ASSERT_TRUE(w.waitForText(QStringLiteral("escrituras pendientes guardadas"), 25000)) << w.seen().toStdString();
    EXPECT_EQ(w.finish(30000), 0) << w.seen().toStdString();
    EXPECT_EQ(stays(1, true), 1);
    EXPECT_EQ(stays(2, false), 1);
    EXPECT_EQ(freeSpaces(), 10);
}

TEST_F(ReplicaFaults, ARefreshCutInTheMiddleLeavesThePreviousCopyDeciding)
{
    Gate gate;
    buildReplica(gate);
    const auto before = infoOf(gate.replica());
    ASSERT_TRUE(before.has_value());

    FaultProxy proxy;
    ASSERT_TRUE(proxy.startForTestServer());
    // The refresh at start-up loses its connection half-way through.
    ASSERT_EQ(proxy.order(QStringLiteral("drop during FROM ABONADOS WHERE 1=1")), QStringLiteral("ok"));
    Workstation w;
    w.start(config(gate, QStringLiteral("parking_test_proxy")), script(gate, QStringLiteral("8.0 track 1 {1}\n12.0 quit\n")));
    ASSERT_TRUE(w.waitFor(QStringLiteral("Réplica: no se pudo refrescar"))) << w.seen().toStdString();
    EXPECT_FALSE(QFileInfo::exists(gate.replica() + QStringLiteral(".new")));
    {
        FrozenServer frozen;
        ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 1 0 6"), 15000)) << w.seen().toStdString();
        EXPECT_EQ(w.finish(15000), 0) << w.seen().toStdString();
    }
    EXPECT_EQ(offlineEntrances(w, 1), 1) << w.seen().toStdString();
    EXPECT_EQ(infoOf(gate.replica())->refreshedAt, before->refreshedAt);
    replay(gate);
    EXPECT_EQ(stays(1, true), 1);
    EXPECT_EQ(freeSpaces(), 9);
}

TEST_F(ReplicaFaults, KilledDuringARefreshTheReplicaIsNeverHalfWritten)
{
    Gate gate;
    buildReplica(gate);
    const auto before = infoOf(gate.replica());
    ASSERT_TRUE(before.has_value());

    FaultProxy proxy;
    ASSERT_TRUE(proxy.startForTestServer());
    // Killed while the refresh waits on its last statement: the new copy is
    // half-written beside the old one.
    ASSERT_EQ(proxy.order(QStringLiteral("stall FROM MOVIMIENTOS WHERE HORAENTRADA")), QStringLiteral("ok"));
    Workstation w;
    w.start(config(gate, QStringLiteral("parking_test_proxy")), script(gate, QStringLiteral("30 quit\n")));
    ASSERT_EQ(proxy.line(15000), QStringLiteral("stalled")) << w.seen().toStdString();
    w.kill();
    proxy.order(QStringLiteral("release"));
    const auto after = infoOf(gate.replica());
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->refreshedAt, before->refreshedAt);
    EXPECT_TRUE(after->complete);

    // The next run starts from the whole old copy and replaces it.
    Workstation next;
    next.start(config(gate, QStringLiteral("parking_test")), script(gate, QStringLiteral("30 quit\n")));
    ASSERT_FALSE(refreshed(gate).isEmpty()) << next.seen().toStdString();
    WAIT_FOR(infoOf(gate.replica())->refreshedAt != before->refreshedAt, 10000);
    next.kill();
    EXPECT_FALSE(next.seen().contains(QStringLiteral("no válida"))) << next.seen().toStdString();
    EXPECT_FALSE(QFileInfo::exists(gate.replica() + QStringLiteral(".new")));
}

TEST_F(ReplicaFaults, ADamagedReplicaIsSaidAndBuiltAgainAtTheNextRefresh)
{
    Gate gate;
    buildReplica(gate);
    {
        QFile file(gate.replica());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(0);
        file.write(QByteArray(100, '\x5a'));
    }
    Workstation w;
    w.start(config(gate, QStringLiteral("parking_test")), script(gate, QStringLiteral("8.0 track 1 {1}\n12.0 quit\n")));
    ASSERT_TRUE(w.waitFor(QStringLiteral("Réplica "))) << w.seen().toStdString();
    EXPECT_FALSE(w.lines().filter(QRegularExpression(QStringLiteral("^Réplica .*parking-replica.db no válida"))).isEmpty())
        << w.seen().toStdString();
    ASSERT_FALSE(refreshed(gate).isEmpty()) << w.seen().toStdString();
    {
        FrozenServer frozen;
        ASSERT_TRUE(w.waitFor(QStringLiteral("> relay 1 0 6"), 15000)) << w.seen().toStdString();
        EXPECT_EQ(w.finish(15000), 0) << w.seen().toStdString();
    }
    EXPECT_EQ(offlineEntrances(w, 1), 1) << w.seen().toStdString();
    replay(gate);
    EXPECT_EQ(stays(1, true), 1);
}

TEST_F(ReplicaFaults, TwoWorkstationsBothOfflineEachDecideAndTheCountMovesOncePerPassage)
{
    Gate first;
    Gate second;
    FaultProxy proxy;
    ASSERT_TRUE(proxy.startForTestServer());
    Workstation a;
    Workstation b;
    a.start(config(first, QStringLiteral("parking_test_proxy")),
            script(first, QStringLiteral("8.0 track 1 {1}\n8.3 track 1 {4}\n8.6 track 2 {2}\n14.0 quit\n")));
    b.start(config(second, QStringLiteral("parking_test_proxy")), script(second, QStringLiteral("8.0 track 1 {5}\n14.0 quit\n")));
    ASSERT_FALSE(refreshed(first).isEmpty()) << a.seen().toStdString();
    ASSERT_FALSE(refreshed(second).isEmpty()) << b.seen().toStdString();
    {
        // The path to the server gone for both, right after their refreshes:
        // the refresh's connection, closing then, must not hold anything up.
        ASSERT_EQ(proxy.order(QStringLiteral("blackhole on")), QStringLiteral("ok"));
        ASSERT_TRUE(a.waitFor(QStringLiteral("> relay 2 0 6"), 20000)) << a.seen().toStdString();
        ASSERT_TRUE(b.waitFor(QStringLiteral("> relay 1 0 6"), 20000)) << b.seen().toStdString();
        EXPECT_EQ(a.finish(15000), 0) << a.seen().toStdString();
        EXPECT_EQ(b.finish(15000), 0) << b.seen().toStdString();
    }
    EXPECT_EQ(offlineEntrances(a, 1) + offlineEntrances(a, 4), 2) << a.seen().toStdString();
    EXPECT_EQ(offlineEntrances(b, 5), 1) << b.seen().toStdString();
    replay(first);
    replay(second);
    for (int code : {1, 4, 5})
        EXPECT_EQ(stays(code, true), 1) << code;
    EXPECT_EQ(stays(2, false), 1);
    EXPECT_EQ(freeSpaces(), 8);
}

} // namespace

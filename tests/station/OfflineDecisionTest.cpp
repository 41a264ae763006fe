// Entrances decided from the local replica while the server does not
// answer ([SinConexion] Decidir=1), on the real embedded database: the same
// decision the server would give, the passage journalled and written once
// when the server is back, and no offline decision without a replica that
// is young enough.
#include "QtPrinters.h"
#include "StationFixture.h"
#include "WaitFor.h"

#include <QFile>
#include <QFileInfo>

using namespace parking;
using namespace parking::test;

namespace {

const QString Track1234 = QStringLiteral("ABC07XXXXX01234Z"); // subscriber 1234 of installation 7
const QString Track4321 = QStringLiteral("ABC07XXXXX04321Z"); // not a subscriber

class OfflineDecision : public StationFixture {
protected:
    void SetUp() override
    {
        configPath = writeSiteConfig(db.folder(), db.sid(), 3, QStringLiteral("[SinConexion]\nDecidir=1\nEdadMaxima=2\n"));
        restartController();
        seedInstallation(true, QStringLiteral("2"), true, QStringLiteral("PISCINA CUBIERTA"), 10, 20);
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,1234,2,'FF')"));
        ASSERT_EQ(start(), StationController::StartUp::InService);
        refreshed();
        takeTrace();
    }
    // The refresh started at start-up (or by the timer) carried to its end.
    void refreshed()
    {
        WAIT_FOR(!controller->database().replica().refreshing(), 10000);
        ASSERT_TRUE(controller->database().replica().info().has_value());
    }
    // The connection lost: the next call finds the server away.
    void serverGone() { faults->failEverything = true; }
    int scalar(const QString& sql) const { return db.scalar(sql).toInt(); }
    QString replicaPath() const { return controller->database().replica().settings().file; }
};

TEST_F(OfflineDecision, TheServerAwayAnEntranceIsDecidedFromTheReplicaAndWrittenOnceLater)
{
    serverGone();
    takeTrace();
    controller->reader(1).raiseTrackRead(Track1234);
    QStringList trace = takeTrace();
    EXPECT_FALSE(trace.filter(QStringLiteral("> relay 1 0 6")).isEmpty()) << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(trace.filter(QRegularExpression(QStringLiteral("^Decisión sin conexión: entra para 1234 \\(réplica de hace \\d+ min\\)$"))).size(), 1);
    EXPECT_FALSE(trace.filter(QStringLiteral("> plazas 9")).isEmpty()) << "the last count known, less this entrance";
    EXPECT_TRUE(controller->database().recorder().pending());

    // A card is looked up in the replica too (card FF is subscriber 1234's),
    // at the entrance and at the exit, a few minutes later.
    workstationClock.set(workstationClock.now().addSecs(300));
    controller->reader(1).raiseCardNumberRead(QStringLiteral("0255"));
    trace = takeTrace();
    EXPECT_EQ(trace.filter(QStringLiteral("Tarjeta FF buscada en la réplica")).size(), 1) << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(trace.filter(QStringLiteral("> relay 1 0 6")).isEmpty());
    workstationClock.set(workstationClock.now().addSecs(300));
    controller->reader(2).raiseCardNumberRead(QStringLiteral("0255"));
    EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 2 0 6")).isEmpty());

    // Someone the replica does not know is refused, as the server would.
    controller->reader(1).raiseTrackRead(Track4321);
    trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay 1")).isEmpty());
    EXPECT_EQ(trace.filter(QStringLiteral("Decisión sin conexión: no entra")).size(), 1);

    // An exit offline gives the space back to the gate's own count.
    workstationClock.set(workstationClock.now().addSecs(300));
    controller->reader(2).raiseTrackRead(Track1234);
    EXPECT_FALSE(takeTrace().filter(QStringLiteral("> plazas 10")).isEmpty());

    // The server answers again: each movement written once, the count exact.
    faults->failEverything = false;
    probe();
    EXPECT_FALSE(controller->database().recorder().pending());
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo = 1234")), 2);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE HORASALIDA IS NULL")), 0);
    EXPECT_EQ(scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")), 10);
    probe();
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking")), 2);
}

TEST_F(OfflineDecision, NoOfflineDecisionWithAReplicaTooOldOrDamagedAndAFaultOfTheStatementIsNoOutage)
{
    // A statement that fails while the server answers is a fault, not an
    // outage: refused as today, the replica not asked.
    faults->failSql = [](const QString& sql) { return sql.contains(QLatin1String("UNION ALL")); };
    controller->reader(1).raiseTrackRead(Track1234);
    QStringList trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay 1")).isEmpty());
    EXPECT_TRUE(trace.filter(QStringLiteral("sin conexión")).isEmpty());
    faults->failSql = {};

    // Past EdadMaxima= (2 h here): today's refusal, and the log says why.
    serverGone();
    workstationClock.set(workstationClock.now().addSecs(3 * 3600));
    takeTrace();
    controller->reader(1).raiseTrackRead(Track1234);
    trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay 1")).isEmpty());
    EXPECT_EQ(trace.filter(QStringLiteral("EdadMaxima=2 h")).size(), 1) << trace.join(QLatin1Char('\n')).toStdString();

    // A damaged file: said once at load, then today's refusal.
    workstationClock.set(workstationClock.now().addSecs(-3 * 3600));
    {
        QFile file(replicaPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(4096, 'x'));
    }
    controller->database().replica().load();
    EXPECT_EQ(takeTrace().filter(QStringLiteral("no válida")).size(), 1);
    controller->reader(1).raiseTrackRead(Track1234);
    trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay 1")).isEmpty());
    EXPECT_EQ(trace.filter(QStringLiteral("no hay réplica")).size(), 1);

    // The next refresh, with the server back, builds it anew.
    faults->failEverything = false;
    probe();
    controller->database().replica().refresh();
    refreshed();
    serverGone();
    takeTrace();
    controller->reader(1).raiseTrackRead(Track1234);
    EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 1 0 6")).isEmpty());
}

} // namespace

namespace {

TEST_F(OfflineDecision, RefreshesAreIncrementalBetweenCompleteOnesAndALostCopyIsBuiltAgain)
{
    Replica& replica = controller->database().replica();
    ASSERT_TRUE(replica.info()->complete);
    EXPECT_FALSE(replica.nextIsComplete());

    // A block set on the server reaches the copy at the next refresh, an
    // incremental one.
    db.exec(QStringLiteral("INSERT INTO BLOQUEOS VALUES (7,1234,1,'2026-03-04 09:00:00',NULL,NULL)"));
    workstationClock.set(workstationClock.now().addSecs(300));
    replica.refresh();
    refreshed();
    EXPECT_FALSE(replica.info()->complete);
    EXPECT_EQ(replica.info()->completeAt, QDateTime(QDate(2026, 3, 4), QTime(10, 0)));
    serverGone();
    controller->reader(1).raiseTrackRead(Track1234);
    QStringList trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay 1")).isEmpty());
    EXPECT_EQ(trace.filter(QStringLiteral("Decisión sin conexión: no entra")).size(), 1) << trace.join(QLatin1Char('\n')).toStdString();
    faults->failEverything = false;
    probe();

    // Complete again once the last complete one is an hour old (EdadMaxima=2
    // here: every hour).
    workstationClock.set(QDateTime(QDate(2026, 3, 4), QTime(11, 0)));
    EXPECT_TRUE(replica.nextIsComplete());
    workstationClock.set(QDateTime(QDate(2026, 3, 4), QTime(10, 30)));
    EXPECT_FALSE(replica.nextIsComplete());

    // The copy deleted under the program: the incremental refresh cannot
    // start from it, says so, and the next one builds it whole.
    ASSERT_TRUE(QFile::remove(replicaPath()));
    takeTrace();
    replica.refresh();
    WAIT_FOR(!replica.refreshing(), 10000);
    EXPECT_EQ(takeTrace().filter(QStringLiteral("Réplica: no se pudo refrescar")).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(replicaPath() + QStringLiteral(".new")));
    EXPECT_TRUE(replica.nextIsComplete());
    replica.refresh();
    refreshed();
    EXPECT_TRUE(replica.info()->complete);
    EXPECT_TRUE(QFileInfo::exists(replicaPath()));

    // And when the month turns, however young the copy.
    const QDateTime monthEnd(QDate(2026, 3, 31), QTime(23, 55));
    workstationClock.set(monthEnd);
    db.serverClock().set(monthEnd);
    replica.refresh();
    refreshed();
    workstationClock.set(monthEnd.addSecs(240));
    EXPECT_FALSE(replica.nextIsComplete());
    workstationClock.set(monthEnd.addSecs(360));
    EXPECT_TRUE(replica.nextIsComplete());
}

} // namespace

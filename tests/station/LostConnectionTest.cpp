// A passage's write on PostgreSQL through a proxy that cuts the connection
// at each point a network can: before the statement reaches the server, in
// its middle, and after the server carried it out and answered (the answer
// lost). Whatever the point, the barrier does what the rules say and, once
// the journal is replayed, the movement and the count are written once.
#include "FaultProxy.h"
#include "StationFixture.h"

#include <QElapsedTimer>
#include <QProcess>

using namespace parking;
using namespace parking::test;

namespace {

const QString Track1234 = QStringLiteral("ABC07XXXXX01234Z"); // subscriber 1234 of installation 7

class LostConnection : public StationFixture {
protected:
    void SetUp() override
    {
        if (db.backend() != Backend::PostgreSQL)
            GTEST_SKIP() << "cuts a real server's connection: the PostgreSQL suite runs it";
        ASSERT_GT(dataSourcePort("parking_test_proxy"), 0) << "no [parking_test_proxy] in ODBCINI";
        ASSERT_TRUE(proxy.start(dataSourcePort("parking_test_proxy"), dataSourcePort("parking_test")));
        // The station speaks to the server through the proxy.
        configPath = writeSiteConfig(db.folder(), QStringLiteral("parking_test_proxy"), 3);
        restartController();
        seedInstallation(true, QStringLiteral("2"), true, QStringLiteral("PISCINA CUBIERTA"), 10, 20);
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,1234,2,'FF')"));
        ASSERT_EQ(start(), StationController::StartUp::InService);
        takeTrace();
    }
    int scalar(const QString& sql) const { return db.scalar(sql).toInt(); }
    // Probes until the journal is empty (each probe reconnects if it must).
    bool drained()
    {
        for (int i = 0; i < 20 && controller->database().recorder().pending(); ++i)
            probe();
        return !controller->database().recorder().pending();
    }

    FaultProxy proxy;
};

TEST_F(LostConnection, EachCutPointWritesTheMovementAndTheCountOnce)
{
    QDateTime now(QDate(2026, 3, 4), QTime(9, 0));
    for (const char* when : {"before", "during", "after"}) {
        SCOPED_TRACE(when);
        // Each round an hour later: a replayed entrance is told from an
        // earlier one by its time.
        now = now.addSecs(3600);
        workstationClock.set(now);
        db.serverClock().set(now);
        // An entrance: the barrier opens; one stay, one space taken.
        const int freeBefore = scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES"));
        const int staysBefore = scalar(QStringLiteral("SELECT count(*) FROM MOVIMIENTOS_PARKING"));
        ASSERT_EQ(proxy.order(QStringLiteral("drop %1 ^WITH u AS").arg(QLatin1String(when))), QStringLiteral("ok"));
        controller->reader(1).raiseTrackRead(Track1234);
        EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 1")).isEmpty()) << "a granted entrance opens";
        ASSERT_TRUE(drained());
        EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM MOVIMIENTOS_PARKING")), staysBefore + 1);
        EXPECT_EQ(scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")), freeBefore - 1);

        // The exit: the barrier opens; the stay closed, the space given back.
        ASSERT_EQ(proxy.order(QStringLiteral("drop %1 ^WITH u AS").arg(QLatin1String(when))), QStringLiteral("ok"));
        controller->reader(2).raiseTrackRead(Track1234);
        EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 2")).isEmpty()) << "an exit opens";
        ASSERT_TRUE(drained());
        EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM MOVIMIENTOS_PARKING WHERE HORASALIDA IS NULL")), 0);
        EXPECT_EQ(scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")), freeBefore);
    }
    EXPECT_EQ(proxy.order(QStringLiteral("count")), QStringLiteral("cuts 6")) << "every cut happened";
}

} // namespace

// The replica against the server it was copied from: the same decision for
// every generated subscriber at every clock reading, on the backend the
// tests run on as the server (the embedded database, and PostgreSQL in the
// pg. run). The seed is printed, so a failure can be run again.
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "Population.h"
#include "QtPrinters.h"
#include "ReplicaRecords.h"
#include "SqliteConnection.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;
using namespace parking::test;

namespace {

std::unique_ptr<SqliteConnection> openReplica(const QString& path, const Clock& clock)
{
    auto replica = std::make_unique<SqliteConnection>(clock, QString());
    ConnectionOptions options;
    options.readOnly = true;
    replica->open(QStringLiteral("Data Source=sqlite:") + path, options);
    return replica;
}

std::uint32_t seedFromEnvironment()
{
    bool ok = false;
    const auto given = qEnvironmentVariable("PARKING_REPLICA_SEED").toUInt(&ok);
    return ok ? given : std::random_device{}();
}

// The seed given or a fresh one, printed so that a failure can be run again.
std::uint32_t announcedSeed(const char* what)
{
    const std::uint32_t seed = seedFromEnvironment();
    std::printf("replica %s seed %u (PARKING_REPLICA_SEED=%u to run it again)\n", what, seed, seed);
    return seed;
}

// `count` generated subscribers and installation 7's count, in one
// transaction; `extra` runs inside it too.
void populate(TempDatabase& db, Population& population, int count, const QStringList& extra = {})
{
    db.exec(QStringLiteral("BEGIN"));
    for (const QString& sql : population.rows(count))
        db.exec(sql);
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES (CodInstalacion, Nombre, PLAZAS_PARKING, PLAZAS_LIBRES) VALUES (7, 'X', 50, 20)"));
    for (const QString& sql : extra)
        db.exec(sql);
    db.exec(QStringLiteral("COMMIT"));
}

TEST(Replica, DecidesAsTheServerDoesForTheSameData)
{
    constexpr int Subscribers = 1000;
    const std::uint32_t seed = announcedSeed("differential");
    const QDateTime refreshed(QDate(2026, 3, 4), QTime(10, 0));
    TempDatabase db(refreshed);
    Population population(seed);
    populate(db, population, Subscribers);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("replica.db"));
    // The workstation's clock 90 s behind the server's at the refresh.
    const auto info = records::buildReplica(*db.connection(), path, 7, refreshed.addSecs(-90));
    EXPECT_EQ(info.serverOffsetMs, 90'000);
    EXPECT_GT(info.rows, static_cast<std::size_t>(Subscribers));
    // Only the program's account may read what it holds of subscribers.
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());

    ManualClock replicaClock(refreshed);
    const auto replica = openReplica(path, replicaClock);
    const auto read = records::readReplicaInfo(*replica);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->installation, 7);
    EXPECT_EQ(read->refreshedAt, refreshed.addSecs(-90));
    EXPECT_EQ(read->serverOffsetMs, 90'000);

    int decisions = 0;
    int granted = 0;
    for (int reading = 0; reading < 6; ++reading) {
        // An outage after the refresh, up to four days long.
        const QDateTime server = refreshed.addSecs(population.pick(0, 4 * 86400));
        db.serverClock().set(server);
        replicaClock.set(server);
        const QDateTime workstation = server.addSecs(population.pick(-90, 90));
        for (int s = 1; s <= Subscribers; ++s) {
            const AccessResult expected = decide(records::loadAccessFacts(*db.connection(), s, 7, 7), workstation);
            const AccessResult got = decide(records::loadAccessFacts(*replica, s, 7, 7), workstation);
            ASSERT_EQ(got, expected) << "seed " << seed << ", subscriber " << s << " at "
                                     << workstation.toString(Qt::ISODate).toStdString();
            ++decisions;
            granted += got == AccessResult::Granted;
        }
    }
    EXPECT_GT(granted, decisions / 10);
    EXPECT_LT(granted, decisions * 9 / 10);
}

// Decisions of every subscriber, on the server and on the replica, at a
// few clock readings from `from` on; the first difference fails.
void expectSameDecisions(TempDatabase& db, Connection& replica, ManualClock& replicaClock, Population& population,
                         int subscribers, const QDateTime& from, std::uint32_t seed)
{
    for (int reading = 0; reading < 4; ++reading) {
        // Right at `from` first, where the latest entries still count.
        const QDateTime server = reading == 0 ? from : from.addSecs(population.pick(0, 2 * 86400));
        db.serverClock().set(server);
        replicaClock.set(server);
        for (int s = 1; s <= subscribers; ++s) {
            const AccessResult expected = decide(records::loadAccessFacts(*db.connection(), s, 7, 7), server);
            const AccessResult got = decide(records::loadAccessFacts(replica, s, 7, 7), server);
            ASSERT_EQ(got, expected) << "seed " << seed << ", subscriber " << s << " at "
                                     << server.toString(Qt::ISODate).toStdString();
        }
    }
}

QString at(const QDateTime& t)
{
    return t.toString(QStringLiteral("''yyyy-MM-dd HH:mm:ss''"));
}

TEST(Replica, AnIncrementalRefreshTakesEveryChangeSinceThePreviousOne)
{
    constexpr int Subscribers = 400;
    const std::uint32_t seed = announcedSeed("incremental");
    const QDateTime complete(QDate(2026, 3, 4), QTime(10, 0));
    TempDatabase db(complete);
    Population population(seed);
    // An entry just before the complete refresh, which the incremental one
    // reads again within its overlap: never counted twice.
    populate(db, population, Subscribers,
             {QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (7,1,7,'2026-03-04 00:00:00',%1)").arg(at(complete.addSecs(-120)))});

    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("replica.db"));
    const auto previous = records::buildReplica(*db.connection(), first, 7, complete);
    EXPECT_TRUE(previous.complete);

    // An hour of changes on the server: blocks set and lifted, receipts
    // paid and returned, fees ended and taken, a subscriber added and one
    // removed, entries at the facility's doors.
    const QDateTime later = complete.addSecs(3600);
    db.exec(QStringLiteral("BEGIN"));
    for (int s = 1; s <= Subscribers; ++s) {
        switch (population.pick(0, 7)) {
        case 0:
            db.exec(QStringLiteral("INSERT INTO BLOQUEOS VALUES (7,%1,2,%2,NULL,NULL)").arg(s).arg(at(complete.addSecs(600))));
            break;
        case 1:
            db.exec(QStringLiteral("UPDATE BLOQUEOS SET FECHA_DESBLOQUEO = %1 WHERE Codigo = %2").arg(at(complete.addSecs(900))).arg(s));
            break;
        case 2:
            db.exec(QStringLiteral("UPDATE Recibos SET CodDevolucion = 90 WHERE Codigo = %1").arg(s));
            db.exec(QStringLiteral("INSERT INTO Recibos VALUES (%1,7,%2,10.0,'2026-03-01 00:00:00',0)").arg(10000 + s).arg(s));
            break;
        case 3:
            db.exec(QStringLiteral("UPDATE MOVTOSCUOTAS1 SET FecBaja = '2026-03-04 00:00:00' WHERE Codigo = %1").arg(s));
            db.exec(QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (7,%1,'2026-03-04 00:00:00',NULL,%2)").arg(s).arg(population.any({10, 11, 33})));
            break;
        case 4:
        case 5:
            for (int e = population.pick(1, 3); e > 0; --e)
                db.exec(QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (7,%1,7,'2026-03-04 00:00:00',%2)")
                            .arg(s)
                            .arg(at(complete.addSecs(population.pick(1, 3599)))));
            break;
        default:
            break;
        }
    }
    db.exec(QStringLiteral("DELETE FROM ABONADOS WHERE Codigo = 2"));
    db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,FormaPago,CodigoRelacion) VALUES (7,%1,0,1,NULL)")
                .arg(Subscribers + 1));
    db.exec(QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (7,%1,'2026-03-01 00:00:00',NULL,10)").arg(Subscribers + 1));
    db.exec(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 5"));
    db.exec(QStringLiteral("COMMIT"));

    const QString second = dir.filePath(QStringLiteral("replica.db.new"));
    records::copyReplica(first, second);
    EXPECT_EQ(QFileInfo(second).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    db.serverClock().set(later);
    const auto info = records::updateReplica(*db.connection(), second, previous, later);
    EXPECT_FALSE(info.complete);
    EXPECT_EQ(info.completeAt, complete);
    EXPECT_EQ(info.refreshedAt, later);

    ManualClock replicaClock(later);
    const auto replica = openReplica(second, replicaClock);
    const auto read = records::readReplicaInfo(*replica);
    ASSERT_TRUE(read.has_value());
    EXPECT_FALSE(read->complete);
    EXPECT_EQ(read->completeAt, complete);
    EXPECT_EQ(toInt16(*records::loadAccessFacts(*replica, 1, 7, 7).freeSpaces), 5);
    // Every entry once: those the overlap read again are not doubled.
    const QString entries = QStringLiteral("SELECT COUNT(*) FROM MOVIMIENTOS WHERE CODINSTALACION <> -1 AND FECHA >= '2026-02-01 00:00:00'");
    EXPECT_EQ(toDouble(replica->query(entries, {})->at(0, 0)), toDouble(db.connection()->query(entries, {})->at(0, 0)));
    expectSameDecisions(db, *replica, replicaClock, population, Subscribers + 1, later, seed);
    // The copy it started from is untouched: a refresh cut short leaves it deciding.
    EXPECT_TRUE(records::readReplicaInfo(*openReplica(first, replicaClock))->complete);
}

TEST(Replica, AFileThatIsNotAReplicaSaysSoAndABuildNeverOverwrites)
{
    TempDatabase db(QDateTime(QDate(2026, 3, 4), QTime(10, 0)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("replica.db"));
    // An embedded database of the program's, but no replica.
    ManualClock clock(QDateTime(QDate(2026, 3, 4), QTime(10, 0)));
    SqliteConnection::createDatabase(path, clock);
    // Its info table is missing: a database fault, which the replica's
    // owner turns into "no replica".
    EXPECT_THROW(records::readReplicaInfo(*openReplica(path, clock)), DatabaseError);
    // A build goes to a new file only: the one in place is left alone.
    EXPECT_THROW(records::buildReplica(*db.connection(), path, 7, clock.now()), DatabaseError);
    EXPECT_TRUE(QFileInfo::exists(path));
}

} // namespace

// The replica against the server it was copied from: the same decision for
// every generated subscriber at every clock reading, on the backend the
// tests run on as the server (the embedded database, and PostgreSQL in the
// pg. run). The seed is printed, so a failure can be run again.
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "DatabaseError.h"
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

TEST(Replica, DecidesAsTheServerDoesForTheSameData)
{
    constexpr int Subscribers = 1000;
    const std::uint32_t seed = seedFromEnvironment();
    std::printf("replica differential seed %u (PARKING_REPLICA_SEED=%u to run it again)\n", seed, seed);
    const QDateTime refreshed(QDate(2026, 3, 4), QTime(10, 0));
    TempDatabase db(refreshed);
    Population population(seed);
    db.exec(QStringLiteral("BEGIN"));
    for (const QString& sql : population.rows(Subscribers))
        db.exec(sql);
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES (CodInstalacion, Nombre, PLAZAS_PARKING, PLAZAS_LIBRES) VALUES (7, 'X', 50, 20)"));
    db.exec(QStringLiteral("COMMIT"));

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

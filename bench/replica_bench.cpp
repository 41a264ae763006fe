// The local replica on a database of realistic size: one complete refresh
// (read from the site, written into a new file), the file's size, and
// offline decisions on it against the same decisions on the site.
//
//   build-bench/bin/replica_bench [DATABASE] [DECISIONS] [odbc:DSN]
//
// With odbc:DSN the refresh reads that server (loaded with the same data,
// see scripts/bench.sh); the embedded DATABASE is still what the
// subscribers are drawn from.
#include "BenchSupport.h"
#include "LargeSite.h"
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "Clock.h"
#include "OdbcConnection.h"
#include "ReplicaRecords.h"
#include "SqliteConnection.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <random>

using namespace parking;
using namespace parking::bench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("large-site.db");
    const int decisions = argc > 2 ? std::atoi(argv[2]) : 20000;
    const std::uint32_t seed = 20261208;
    const auto subscribers = makeLargeSite(path, benchSiteSize(), seed);

    ManualClock server(BenchNow);
    const QString odbc = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    std::unique_ptr<Connection> site = openSite(path, odbc, server);
    if (!odbc.isEmpty())
        site->execute(QStringLiteral("SET parking.now = '%1'").arg(BenchNow.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));

    QTemporaryDir dir;
    const QString replicaPath = dir.filePath(QStringLiteral("replica.db"));
    const auto started = std::chrono::steady_clock::now();
    const records::ReplicaInfo info = records::buildReplica(*site, replicaPath, Installation, BenchNow);
    const double refresh = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("replica of %s: %d subscribers, %d entry-history rows\n",
                odbc.isEmpty() ? "the embedded database" : qPrintable(odbc), benchSiteSize().subscribers,
                benchSiteSize().movements);
    std::printf("  complete refresh %.2f s, %zu rows, file %.1f MB\n", refresh, info.rows,
                static_cast<double>(QFileInfo(replicaPath).size()) / 1e6);

    // Five minutes of traffic at the facility's doors, then an incremental
    // refresh on a copy of the file, as the program makes one.
    const QDateTime later = BenchNow.addSecs(300);
    // Written to the server read and, when that is PostgreSQL, to the
    // embedded site the decisions are compared with; taken away at the end.
    SqliteConnection embedded(server, QString());
    embedded.open(QStringLiteral("User ID=vexlor1;Data Source=sqlite:") + path, {});
    const auto traffic = [&](Connection& c) {
        c.begin();
        for (int i = 0; i < 500; ++i)
            c.run(QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (?,?,?,?,?)"),
                  {qlonglong(Installation), qlonglong(subscribers[std::size_t(i) % subscribers.size()].code),
                   qlonglong(Installation), QDateTime(later.date(), QTime(0, 0)), BenchNow.addSecs(i * 300 / 500)});
        c.commit();
    };
    const QString untraffic = QStringLiteral("DELETE FROM MOVIMIENTOS WHERE HORAENTRADA >= ?");
    traffic(*site);
    if (!odbc.isEmpty())
        traffic(embedded);
    server.set(later);
    if (!odbc.isEmpty())
        site->execute(QStringLiteral("SET parking.now = '%1'").arg(later.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    const QString updatedPath = dir.filePath(QStringLiteral("replica.db.new"));
    const auto incrementalStarted = std::chrono::steady_clock::now();
    records::copyReplica(replicaPath, updatedPath);
    const records::ReplicaInfo updated = records::updateReplica(*site, updatedPath, info, later);
    const double incremental =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - incrementalStarted).count();
    std::printf("  incremental refresh %.2f s, %zu rows, file %.1f MB\n", incremental, updated.rows,
                static_cast<double>(QFileInfo(updatedPath).size()) / 1e6);
    // The site's data as of the incremental refresh, for the comparison.
    QFile::remove(replicaPath);
    QFile::rename(updatedPath, replicaPath);

    ManualClock replicaClock(BenchNow);
    SqliteConnection replica(replicaClock, QString());
    ConnectionOptions readOnly;
    readOnly.readOnly = true;
    replica.open(QStringLiteral("Data Source=sqlite:") + replicaPath, readOnly);

    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> any(0, subscribers.size() - 1);
    for (int i = 0; i < 2000; ++i)
        decide(records::loadAccessFacts(replica, subscribers[any(rng)].code, Installation, Installation), BenchNow);
    std::vector<double> all;
    int differ = 0;
    for (int i = 0; i < decisions; ++i) {
        const SubscriberSample& s = subscribers[any(rng)];
        // Within the hours after the refresh, spread so every timetable branch runs.
        const QDateTime now = BenchNow.addSecs(i * 36000LL / decisions);
        replicaClock.set(now);
        server.set(now);
        const auto start = std::chrono::steady_clock::now();
        const AccessResult offline = decide(records::loadAccessFacts(replica, s.code, Installation, Installation), now);
        all.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        differ += offline != decide(records::loadAccessFacts(embedded, s.code, Installation, Installation), now);
    }
    site->run(untraffic, {BenchNow});
    if (!odbc.isEmpty())
        embedded.run(untraffic, {BenchNow});
    const Percentiles p = percentiles(all);
    std::printf("  offline decisions: %d, p50 %.1f us, p99 %.1f us, max %.1f us; differing from the site's: %d\n",
                decisions, p.p50, p.p99, p.max, differ);
    return differ == 0 ? 0 : 1;
}

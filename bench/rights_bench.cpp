// The rights decision on a database of realistic size: latency per decision
// and statements per decision, for random subscribers of every kind, and the
// query plan of every statement.
//
//   build-bench/bin/rights_bench [DATABASE] [DECISIONS] [odbc:DSN]
//
// With odbc:DSN the decisions run on that server (loaded with the same data,
// see scripts/bench.sh); the embedded DATABASE is still what the subscribers
// are drawn from.
#include "BenchSupport.h"
#include "LargeSite.h"
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "Clock.h"
#include "OdbcConnection.h"
#include "OracleDialect.h"
#include "SqliteConnection.h"

#include <QCoreApplication>

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
    std::unique_ptr<Connection> database = openSite(path, odbc, server);
    // The server's clock follows the benchmark's (a session setting the
    // PostgreSQL schema reads), outside the timed part.
    auto setServerClock = [&](const QDateTime& t) {
        server.set(t);
        if (!odbc.isEmpty())
            database->execute(QStringLiteral("SET parking.now = '%1'").arg(t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    };
    setServerClock(BenchNow);
    CountingConnection counting(*database);
    ManualClock workstation(BenchNow);

    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> any(0, subscribers.size() - 1);
    std::vector<double> all;
    std::vector<double> byKind[3];
    long results[8] = {};
    // Warm the cache the way a station does after a few minutes of service.
    for (int i = 0; i < 2000; ++i)
        decide(records::loadAccessFacts(counting, subscribers[any(rng)].code, Installation, Installation), workstation.now());
    counting.statements = 0;
    for (int i = 0; i < decisions; ++i) {
        const SubscriberSample& s = subscribers[any(rng)];
        // Spread the decisions over the day so every timetable branch runs.
        workstation.set(BenchNow.addSecs(-10 * 3600 + (i * 86399LL / decisions)));
        setServerClock(workstation.now());
        const auto start = std::chrono::steady_clock::now();
        const AccessResult r = decide(records::loadAccessFacts(counting, s.code, Installation, Installation), workstation.now());
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        all.push_back(us);
        byKind[s.kind].push_back(us);
        ++results[static_cast<int>(r)];
    }
    const Percentiles p = percentiles(all);
    std::printf("rights decisions on %s: %d on %d subscribers, %d entry-history rows\n",
                odbc.isEmpty() ? "the embedded database" : qPrintable(odbc), decisions, benchSiteSize().subscribers,
                benchSiteSize().movements);
    std::printf("  all          p50 %7.1f us  p99 %7.1f us  max %8.1f us\n", p.p50, p.p99, p.max);
    const char* kinds[] = {"fee holders", "course hold.", "neither"};
    for (int k = 0; k < 3; ++k) {
        if (byKind[k].empty())
            continue;
        const Percentiles q = percentiles(byKind[k]);
        std::printf("  %-12s p50 %7.1f us  p99 %7.1f us  max %8.1f us  (%zu)\n", kinds[k], q.p50, q.p99, q.max, byKind[k].size());
    }
    std::printf("  statements per decision: %.2f\n", static_cast<double>(counting.statements) / decisions);
    std::printf("  results:");
    for (int r = 0; r < 8; ++r)
        std::printf(" %d:%ld", r, results[r]);
    if (!odbc.isEmpty())
        return 0;
    std::printf("\n\nquery plans (SQLite, statements as the embedded database runs them):\n");
    for (const QString& sql : counting.distinct()) {
        std::printf("%s\n", qPrintable(sql));
        auto plan = database->query(QStringLiteral("EXPLAIN QUERY PLAN ") + sql, {});
        for (std::size_t row = 0; row < plan->size(); ++row)
            std::printf("    %s\n", qPrintable(plan->field(QStringLiteral("detail"), row).toString()));
    }
    return 0;
}

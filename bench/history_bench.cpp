// The rights decision of one subscriber whose entry history grows: 100,
// 1,000, 10,000 and 100,000 rows. The day's and the month's counts are
// ranges of an index, so the decision should cost the same at every size.
//
//   build-bench/bin/history_bench [DECISIONS] [odbc:DSN]
//
// With odbc:DSN the subscriber lives on that server (its schema is made
// anew: use a throwaway database, as scripts/bench-postgres.sh does).
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "BenchSupport.h"
#include "Clock.h"
#include "OdbcConnection.h"
#include "SqliteConnection.h"

#include <QFile>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

using namespace parking;
using namespace parking::bench;

namespace {

const QDateTime Now = wallTime(QDate(2026, 3, 4), QTime(18, 10));

// A course holder in class today (the day's count) and a holder of an
// allowance fee outside its hours (the month's count), each with `rows`
// entries, one a day back from today.
void fill(Connection& c, int rows)
{
    c.execute(QStringLiteral(
        "INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,FormaPago) VALUES (7,1,1,1),(7,2,0,1);"
        "INSERT INTO CURSOS (CodInstalacion,CodCurso,FecInicio,FecFin,HoraInicio3,HoraFin3) "
        "VALUES (7,5,'2020-01-01 00:00:00','2030-01-01 00:00:00','18:00:00','19:00:00');"
        "INSERT INTO MovtosCursos (CodInstalacion,Codigo,CodCurso,Cobrado) VALUES (7,1,5,1);"
        "INSERT INTO Cuotas (CodInstalacion,CodCuota,HoraInicio1,HoraFin1,NUMACCESOS_MTO) VALUES (7,33,'08:00:00','09:00:00',100000);"
        "INSERT INTO MOVTOSCUOTAS1 VALUES (7,2,'2020-01-01 00:00:00',NULL,33);"));
    c.begin();
    for (int code : {1, 2}) {
        for (int i = 0; i < rows; ++i) {
            const QDateTime day = Now.addDays(-i);
            const QString stamp = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 17:00:00");
            c.execute(QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (7,%1,7,'%2',%3)")
                          .arg(code)
                          .arg(day.toString(QStringLiteral("yyyy-MM-dd 00:00:00")))
                          .arg(i == 0 ? QStringLiteral("'") + stamp + QLatin1Char('\'') : QStringLiteral("NULL")));
        }
    }
    c.commit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int decisions = argc > 1 ? std::atoi(argv[1]) : 2000;
    const QString odbc = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    ManualClock clock(Now);
    std::vector<double> medians;
    std::printf("history on %s\n", odbc.isEmpty() ? "the embedded database" : qPrintable(odbc));
    for (int rows : {100, 1000, 10000, 100000}) {
        QTemporaryDir dir;
        std::unique_ptr<Connection> connection;
        if (odbc.startsWith(QLatin1String("odbc:"))) {
            auto server = std::make_unique<OdbcConnection>();
            server->open(QStringLiteral("Password=r7Tq2xLm;User ID=vexlor1;Data Source=") + odbc.mid(5), {});
            QFile schema(QStringLiteral(PARKING_SOURCE_DIR "/schema/postgresql/schema.sql"));
            schema.open(QIODevice::ReadOnly);
            server->execute(QStringLiteral("DROP SCHEMA IF EXISTS public CASCADE"));
            server->execute(QStringLiteral("CREATE SCHEMA public"));
            server->execute(QString::fromUtf8(schema.readAll()));
            server->execute(QStringLiteral("SET parking.now = '%1'").arg(Now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
            connection = std::move(server);
        } else {
            const QString path = QDir(dir.path()).filePath(QStringLiteral("h.db"));
            SqliteConnection::createDatabase(path, clock);
            auto local = std::make_unique<SqliteConnection>(clock, dir.path());
            local->open(QStringLiteral("Data Source=sqlite:") + path, {});
            connection = std::move(local);
        }
        Connection& c = *connection;
        fill(c, rows);
        if (!odbc.isEmpty())
            c.execute(QStringLiteral("ANALYZE"));
        std::vector<double> us;
        for (int i = 0; i < decisions; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const AccessResult r = decide(records::loadAccessFacts(c, 1 + i % 2, 7, 7), clock.now());
            us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            if (r != AccessResult::Granted) {
                std::fprintf(stderr, "unexpected refusal %d\n", int(r));
                return 1;
            }
        }
        const Percentiles p = percentiles(us);
        medians.push_back(p.p50);
        std::printf("%7d history rows: decision p50 %7.1f us  p99 %7.1f us\n", rows, p.p50, p.p99);
    }
    const auto [lo, hi] = std::minmax_element(medians.begin(), medians.end());
    std::printf("largest p50 / smallest p50: %.2f\n", *hi / *lo);
    return 0;
}

// From the reader's event to the relay command, on a database of realistic
// size: granted entrances and exits, and the program's resident memory over
// many passages.
//
//   build-bench/bin/passage_bench [DATABASE] [PASSAGES] [odbc:DSN]
//
// With odbc:DSN the station works on that server (loaded with the same
// data), on the server's own clock.
#include "BenchStation.h"
#include "BenchSupport.h"
#include "LargeSite.h"
#include "AccessDecision.h"
#include "OdbcConnection.h"
#include "Replica.h"
#include "SqliteConnection.h"
#include "StationController.h"
#include "Timer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <unistd.h>

using namespace parking;
using namespace parking::bench;

namespace {

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

// Times of writing a few bytes and forcing them to disk in `folder`.
std::vector<double> flushTimes(const QString& folder, int count)
{
    std::vector<double> us;
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(QStringLiteral("flush-probe")));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return {0};
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (::pwrite(fd, "journal line\n", 13, 0) != 13 || ::fdatasync(fd) != 0)
            break;
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    ::close(fd);
    ::unlink(path.constData());
    return us.empty() ? std::vector<double>{0} : us;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString path = QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("large-site.db")).absoluteFilePath();
    const int passages = argc > 2 ? std::atoi(argv[2]) : 100000;
    const std::uint32_t seed = 20261208;
    const auto subscribers = makeLargeSite(path, benchSiteSize(), seed);

    ManualClock server(BenchNow);
    ManualClock workstation(BenchNow);
    const QString odbc = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const QString sid = odbc.startsWith(QLatin1String("odbc:")) ? odbc.mid(5) : QStringLiteral("sqlite:") + path;
    auto makeConnection = [&]() -> std::shared_ptr<Connection> {
        if (odbc.isEmpty())
            return std::make_shared<SqliteConnection>(server, QString());
        return std::make_shared<OdbcConnection>();
    };
    const QString connectionString = QStringLiteral("Password=r7Tq2xLm;User ID=vexlor1;Data Source=") + sid;
    // Several workstations at once (scripts/bench-workstations.sh) share a
    // count set up beforehand: none of them resets it.
    if (!qEnvironmentVariableIsSet("PARKING_BENCH_SHARED")) {
        auto c = makeConnection();
        c->open(connectionString, {});
        c->execute(QStringLiteral("DELETE FROM Movimientos_Parking"));
        c->execute(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 250, PLAZAS_PARKING = 400"));
    }
    // Subscribers the rights check lets in at BenchNow.
    std::vector<std::int32_t> granted;
    {
        auto connection = makeConnection();
        connection->open(connectionString, {});
        granted = grantedSubscribers(*connection, workstation, subscribers);
    }

    QTemporaryDir dir;
    const QString config = writeStationConfig(dir.path(), sid);

    QtTimers timers;
    StationController station(benchConfiguration(config, dir.path()), workstation,
                              [&](const QString&) -> std::shared_ptr<Connection> { return makeConnection(); }, timers);
    std::chrono::steady_clock::time_point relayAt;
    station.setTraceSink([&](const QString& line) {
        if (line.startsWith(QLatin1String("> relay")))
            relayAt = std::chrono::steady_clock::now();
    });
    if (station.start() != StationController::StartUp::InService) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }

    // PARKING_BENCH_REPLICA=1: the local replica is refreshed from the
    // server all the time, a new refresh started as soon as one ends, so
    // every passage runs while one is under way.
    Replica& replica = station.database().replica();
    // The complete refresh of start-up ended first, unless
    // PARKING_BENCH_COMPLETE=1 asks for the passages during it: the later
    // ones are incremental, as they are in service between the hourly
    // complete ones.
    if (qEnvironmentVariableIntValue("PARKING_BENCH_COMPLETE") != 1) {
        while (replica.refreshing())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    int refreshes = 0;
    const auto keepRefreshing = [&] {
        if (!replica.enabled() || replica.refreshing())
            return;
        replica.refresh();
        ++refreshes;
    };

    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> any(0, granted.size() - 1);
    std::vector<double> entrances, exits;
    const long rssStart = residentKb();
    long rssAfterWarmUp = 0;
    for (int i = 0; i < passages; ++i) {
        const std::int32_t code = granted[any(rng)];
        const QString track = QStringLiteral("%B0") + QStringLiteral("%1").arg(bench::Installation, 2, 10, QLatin1Char('0')) +
                              QStringLiteral("00000") + QStringLiteral("%1").arg(code, 5, 10, QLatin1Char('0')) + QStringLiteral("?");
        const bool entering = i % 2 == 0;
        QCoreApplication::processEvents(); // a refresh's end, if one ended
        keepRefreshing();
        relayAt = {};
        const auto start = std::chrono::steady_clock::now();
        station.reader(entering ? 1 : 2).raiseTrackRead(track);
        if (relayAt == std::chrono::steady_clock::time_point{}) {
            std::fprintf(stderr, "passage %d of %d did not open\n", i, code);
            return 1;
        }
        (entering ? entrances : exits).push_back(std::chrono::duration<double, std::micro>(relayAt - start).count());
        // Time moves on so that the spacing rule never refuses.
        workstation.advance(1);
        server.advance(1);
        if (i == 1000)
            rssAfterWarmUp = residentKb();
        if (i % 1000 == 0)
            QCoreApplication::processEvents();
    }
    // PARKING_BENCH_FREEZE="command": the server hung by that command (and
    // PARKING_BENCH_THAW after), then entrances decided from the replica:
    // the first waits for the decision's deadline, the next ones find the
    // database not answering at once.
    std::vector<double> hung;
    if (const QByteArray freeze = qgetenv("PARKING_BENCH_FREEZE"); !freeze.isEmpty() && replica.enabled()) {
        while (replica.refreshing())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (std::system(freeze.constData()) != 0)
            return 1;
        for (int i = 0; i < 20; ++i) {
            const std::int32_t code = granted[any(rng)];
            relayAt = {};
            const auto start = std::chrono::steady_clock::now();
            station.reader(1).raiseTrackRead(QStringLiteral("%B0%1").arg(bench::Installation, 2, 10, QLatin1Char('0')) +
                                             QStringLiteral("00000%1?").arg(code, 5, 10, QLatin1Char('0')));
            if (relayAt != std::chrono::steady_clock::time_point{})
                hung.push_back(std::chrono::duration<double, std::micro>(relayAt - start).count());
            workstation.advance(1);
            QCoreApplication::processEvents();
        }
        const QByteArray thaw = qgetenv("PARKING_BENCH_THAW");
        if (!thaw.isEmpty() && std::system(thaw.constData()) != 0)
            return 1;
    }
    const long rssEnd = residentKb();
    const Percentiles e = percentiles(entrances);
    const Percentiles x = percentiles(exits);
    std::printf("passages on %s: %d (reader event to relay command), %zu subscribers granted at the start\n",
                odbc.isEmpty() ? "the embedded database" : qPrintable(odbc), passages, granted.size());
    std::printf("  granted entrance  p50 %7.1f us  p99 %7.1f us  max %8.1f us\n", e.p50, e.p99, e.max);
    std::printf("  exit              p50 %7.1f us  p99 %7.1f us  max %8.1f us\n", x.p50, x.p99, x.max);
    // The first of each after start-up: statements prepared, nothing cached.
    std::printf("  first entrance %8.1f us, first exit %8.1f us (after start-up)\n", entrances.front(), exits.front());
    if (replica.enabled())
        std::printf("  replica refreshes started during the passages: %d\n", refreshes);
    if (!hung.empty())
        std::printf("  server hung: %zu of 20 entrances opened from the replica; the first %.1f ms, the slowest %.1f ms "
                    "(read deadline %lld ms)\n",
                    hung.size(), hung.front() / 1000, *std::max_element(hung.begin(), hung.end()) / 1000,
                    static_cast<long long>(benchConfiguration(config, dir.path()).database.readWait.count()));
    std::printf("  resident memory: %ld kB at start, %ld kB after 1,000 passages, %ld kB after %d\n", rssStart,
                rssAfterWarmUp, rssEnd, passages);
    if (odbc.isEmpty()) {
        // One flush on the same disk, measured in the same run: a passage
        // commits once, so it should cost about one of these and a decision.
        const Percentiles f = percentiles(flushTimes(QFileInfo(path).absolutePath(), 500));
        std::printf("  one fdatasync     p50 %7.1f us  p99 %7.1f us; entrance p50 / fdatasync p50 = %.2f, exit %.2f\n",
                    f.p50, f.p99, e.p50 / f.p50, x.p50 / f.p50);
    }
    return 0;
}

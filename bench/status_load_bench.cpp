// Whether the status page slows a passage: paced passages on a database of
// realistic size, half of them while nobody asks for the status page and
// half while another thread asks for /api/status and /metrics at a steady
// rate; the passage latency (reader event to relay command) of both. The
// two halves take turns in ten rounds, so that whatever else the disk does
// meanwhile falls on both alike.
//
//   build-bench/bin/status_load_bench [DATABASE] [PASSAGES] [SECONDS] [REQUESTS_PER_SECOND]
//
// Defaults: 1,000 passages over 60 s, 200 requests a second.
#include "BenchStation.h"
#include "BenchSupport.h"
#include "LargeSite.h"
#include "AccessDecision.h"
#include "SqliteConnection.h"
#include "StationController.h"
#include "StatusServer.h"
#include "Timer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

using namespace parking;
using namespace parking::bench;
using Steady = std::chrono::steady_clock;

namespace {

// One GET on its own connection, read to the end; false when it failed.
bool fetch(quint16 port, const char* path)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (ok) {
        char request[128];
        const int n = std::snprintf(request, sizeof request, "GET %s HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n", path);
        ok = ::send(fd, request, static_cast<std::size_t>(n), 0) == n;
        char buffer[8192];
        ssize_t got = 0;
        long total = 0;
        while (ok && (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            total += got;
        ok = ok && total > 0 && std::strncmp(buffer, "HTTP/1.1 200", 12) == 0;
    }
    ::close(fd);
    return ok;
}

// Asks for the status at `rate` a second while active, until stopped;
// owned and joined.
class Load {
public:
    Load(quint16 port, int rate)
        : thread_([this, port, rate] {
              const auto interval = std::chrono::microseconds(1'000'000 / std::max(rate, 1));
              auto next = Steady::now();
              for (long i = 0; !stop_; ++i) {
                  if (active_)
                      (fetch(port, i % 2 == 0 ? "/api/status" : "/metrics") ? done_ : failed_)++;
                  next += interval;
                  std::this_thread::sleep_until(next);
              }
          })
    {
    }
    void setActive(bool active) { active_ = active; }
    ~Load()
    {
        stop_ = true;
        thread_.join();
    }
    long done() const { return done_; }
    long failed() const { return failed_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> active_{false};
    std::atomic<long> done_{0};
    std::atomic<long> failed_{0};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString path = QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("large-site.db")).absoluteFilePath();
    const int passages = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const int rate = argc > 4 ? std::atoi(argv[4]) : 200;
    const std::uint32_t seed = 20261208;
    const auto subscribers = makeLargeSite(path, benchSiteSize(), seed);

    ManualClock server(BenchNow);
    ManualClock workstation(BenchNow);
    const QString connectionString = QStringLiteral("Password=x;User ID=x;Data Source=sqlite:") + path;
    std::vector<std::int32_t> granted;
    {
        SqliteConnection c(server, QString());
        c.open(connectionString, {});
        c.execute(QStringLiteral("DELETE FROM Movimientos_Parking"));
        c.execute(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 250, PLAZAS_PARKING = 400"));
        granted = grantedSubscribers(c, workstation, subscribers);
    }

    QTemporaryDir dir;
    const QString config = writeStationConfig(dir.path(), QStringLiteral("sqlite:") + path);
    QtTimers timers;
    StationController station(
        benchConfiguration(config, dir.path()), workstation,
        [&](const QString&) -> std::shared_ptr<Connection> { return std::make_shared<SqliteConnection>(server, QString()); },
        timers);
    Steady::time_point relayAt;
    station.setTraceSink([&](const QString& line) {
        if (line.startsWith(QLatin1String("> relay")))
            relayAt = Steady::now();
    });
    if (station.start() != StationController::StartUp::InService) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    StatusServer status(station.status(), nullptr);
    StatusServer::Options options;
    options.address = QHostAddress::LocalHost;
    const auto started = status.start(options);
    if (!started) {
        std::fprintf(stderr, "status page: %s\n", qPrintable(started.error()));
        return 1;
    }
    const quint16 port = *started;

    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> any(0, granted.size() - 1);
    // Paced as a busy gate is, entrances and exits in turn.
    constexpr int Rounds = 10;
    auto run = [&](std::vector<double>& us) {
        const auto interval = std::chrono::microseconds(static_cast<long>(seconds) * 1'000'000 / std::max(passages, 1));
        auto next = Steady::now();
        for (int i = 0; i < passages / Rounds; ++i) {
            const std::int32_t code = granted[any(rng)];
            const QString track = QStringLiteral("%B0%1").arg(bench::Installation, 2, 10, QLatin1Char('0')) +
                                  QStringLiteral("00000%1?").arg(code, 5, 10, QLatin1Char('0'));
            relayAt = {};
            const auto start = Steady::now();
            station.reader(i % 2 == 0 ? 1 : 2).raiseTrackRead(track);
            if (relayAt != Steady::time_point{})
                us.push_back(std::chrono::duration<double, std::micro>(relayAt - start).count());
            workstation.advance(1);
            server.advance(1);
            QCoreApplication::processEvents();
            next += interval;
            std::this_thread::sleep_until(next);
        }
    };
    std::vector<double> quietUs;
    std::vector<double> loadedUs;
    long done = 0;
    long failed = 0;
    {
        Load load(port, rate);
        for (int round = 0; round < Rounds; ++round) {
            load.setActive(false);
            run(quietUs);
            load.setActive(true);
            run(loadedUs);
        }
        done = load.done();
        failed = load.failed();
    }
    const Percentiles quiet = percentiles(quietUs);
    const Percentiles loaded = percentiles(loadedUs);
    std::printf("%d passages over %d s with requests, as many over as long without; status page on port %u\n",
                passages, seconds, port);
    std::printf("  without requests              p50 %7.1f us  p99 %7.1f us  max %8.1f us\n", quiet.p50, quiet.p99, quiet.max);
    std::printf("  with %4d requests a second   p50 %7.1f us  p99 %7.1f us  max %8.1f us\n", rate, loaded.p50, loaded.p99,
                loaded.max);
    std::printf("  requests answered %ld, failed %ld; p99 with / without = %.2f\n", done, failed, loaded.p99 / quiet.p99);
    return 0;
}

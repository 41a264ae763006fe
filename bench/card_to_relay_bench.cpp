// Card to relay over the real protocol: an emulated reader presents a card,
// the stations decide on the embedded database, and the osdp_OUT reaches
// the reader. Over a pseudo-terminal, Secure Channel on, two readers on
// one bus, granted passages alternating between the entrance and the exit.
// The emulator holds each reply for as long as the command and the reply
// would take on a wire at the given speed.
//
//   build-bench/bin/card_to_relay_bench [PASSAGES] [BAUD...]
#include "BenchStation.h"
#include "DemoSite.h"
#include "EmulatorHost.h"
#include "ReaderKeyFile.h"
#include "SqliteConnection.h"
#include "StationController.h"
#include "Timer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

using namespace parking;
using namespace parking::osdp;

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void spinUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

std::vector<double> afterDecision(const std::vector<double>& total, const std::vector<double>& toRead,
                                  const std::vector<double>& decision)
{
    std::vector<double> out;
    for (std::size_t i = 0; i < total.size(); ++i)
        out.push_back(total[i] - toRead[i] - decision[i]);
    return out;
}

int runAt(int baud, int passages)
{
    QTemporaryDir dir;
    SettableClock server;
    SettableClock workstation;
    QDateTime now(QDate(2026, 3, 4), QTime(8, 0));
    server.set(now);
    workstation.set(now);
    const DemoSite site = createDemoSite(dir.path(), server);
    // Each reader on a line of its own, as most gates are wired.
    std::array<std::unique_ptr<EmulatorHost>, 2> hosts;
    const Block key{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    const QString keyFile = QDir(dir.path()).filePath(QStringLiteral("claves-lectores"));
    Clock::time_point outAt, decidedFrom, decidedTo;
    int outs = 0;
    for (std::uint8_t address : {1, 2}) {
        auto& host = hosts[address - 1];
        host = std::make_unique<EmulatorHost>();
        if (!host->openPseudoTerminal())
            return 1;
        host->setWireSpeed(baud);
        host->add(address).setKey(key);
        if (!ReaderKeyFile::store(keyFile, host->slavePath(), address, key))
            return 1;
        QObject::connect(host.get(), &EmulatorHost::answered, [&](std::uint8_t, std::uint8_t code) {
            if (code == command::Output) {
                outAt = Clock::now();
                ++outs;
            }
        });
    }
    {
        SqliteConnection c(server, dir.path());
        c.open(QStringLiteral("Data Source=sqlite:") + site.databasePath, {});
        c.execute(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = 'osdp:%1?addr=1&baud=%3', "
                                 "PARKING_SALIDA = 'osdp:%2?addr=2&baud=%3'")
                      .arg(hosts[0]->slavePath(), hosts[1]->slavePath())
                      .arg(baud));
    }
    QtTimers timers;
    StationController controller(
        bench::benchConfiguration(site.configPath, dir.path(), keyFile), workstation,
        [&](const QString&) -> std::shared_ptr<Connection> { return std::make_shared<SqliteConnection>(server, dir.path()); },
        timers);
    controller.setTraceSink([&](const QString& line) {
        if (line.startsWith(QLatin1String("msId")))
            decidedFrom = Clock::now();
        else if (line.startsWith(QLatin1String("> relay")))
            decidedTo = Clock::now();
    });
    if (controller.start() != StationController::StartUp::InService)
        return 1;
    spinUntil([&] { return hosts[0]->reader(1)->secure() && hosts[1]->reader(2)->secure(); }, 10000);

    std::vector<double> total, decision, toRead;
    std::array<QStringList, 2> greetings; // what each reader shows after its first passage
    for (int i = 0; i < passages; ++i) {
        // Ten minutes apart: never too soon after the last entry.
        now = now.addSecs(600);
        server.set(now);
        workstation.set(now);
        const std::uint8_t address = i % 2 == 0 ? 1 : 2;
        const int before = outs;
        const int textsBefore = hosts[address - 1]->reader(address)->commandsSeen(command::Text);
        const auto start = Clock::now();
        hosts[address - 1]->reader(address)->presentCardNumber(0x1E249); // subscriber 110: always let in
        spinUntil([&] { return outs > before; }, 5000);
        if (outs == before) {
            std::fprintf(stderr, "passage %d did not reach the relay\n", i);
            return 1;
        }
        total.push_back(ms(outAt - start));
        toRead.push_back(ms(decidedFrom - start));
        decision.push_back(ms(decidedTo - decidedFrom));
        // Cars come seconds apart: the greeting reaches the display before
        // the next card, so no passage waits behind the last one's texts.
        // Only the rows that changed are sent: a display that still shows
        // the last greeting gets none.
        PeripheralEmulator& shown = *hosts[address - 1]->reader(address);
        auto& greeting = greetings[address - 1];
        if (greeting.isEmpty()) {
            spinUntil([&] { return shown.commandsSeen(command::Text) >= textsBefore + 2; }, 5000);
            greeting = shown.display();
        } else {
            spinUntil([&] { return shown.display() == greeting; }, 5000);
        }
    }
    std::printf("%6d baud, %d passages: card to relay p50 %.1f ms, p99 %.1f ms, max %.1f ms; decision p50 %.2f ms, "
                "p99 %.2f ms\n",
                baud, passages, percentile(total, 0.5), percentile(total, 0.99), percentile(total, 1.0),
                percentile(decision, 0.5), percentile(decision, 0.99));
    std::printf("        card to the station p50 %.1f ms, p99 %.1f ms; relay command after the decision p50 %.1f ms, "
                "p99 %.1f ms\n",
                percentile(toRead, 0.5), percentile(toRead, 0.99), percentile(afterDecision(total, toRead, decision), 0.5),
                percentile(afterDecision(total, toRead, decision), 0.99));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int passages = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::vector<int> bauds;
    for (int i = 2; i < argc; ++i)
        bauds.push_back(std::atoi(argv[i]));
    if (bauds.empty())
        bauds = {115200, 9600};
    for (int baud : bauds) {
        if (const int failed = runAt(baud, passages))
            return failed;
    }
    return 0;
}

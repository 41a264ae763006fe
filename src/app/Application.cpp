#include "Application.h"

#include "Clock.h"
#include "ConnectionFactory.h"
#include "DatabaseError.h"
#include "DemoReaders.h"
#include "DemoSite.h"
#include "KeyCommand.h"
#include "CommandLine.h"
#include "ReaderCheck.h"
#include "Reload.h"
#include "FieldValue.h"
#include "ScriptPlayer.h"
#include "Service.h"
#include "StatusPage.h"
#include "Configuration.h"
#include "SqliteConnection.h"
#include "StationController.h"
#include "Timer.h"

#if PARKING_GUI
#include "OperatorWindow.h"
#include "ReaderSimulatorWindow.h"

#include <QApplication>
#endif
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <functional>
#include <cstdio>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace parking {

namespace {

// A stop signal writes a byte here; the event loop reads it (no timer
// wakes the program to look for a flag).
int stopPipe[2] = {-1, -1};

// 1: stop; 2: reload (SIGHUP).
extern "C" void onStopSignal(int signal)
{
    const char byte = signal == SIGHUP ? 2 : 1;
    if (stopPipe[1] >= 0)
        (void)!::write(stopPipe[1], &byte, 1);
}

// One ordered stream on standard output: event-log lines and "> " trace lines.
void writeLine(const QString& line)
{
    const QByteArray utf8 = line.toUtf8();
    std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printError(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// The operator's actions of a headless run: the handlers, called directly.
class HeadlessActions final : public OperatorActions {
public:
    explicit HeadlessActions(StationController& c) : c_(c) {}
    void openBarrier(int station) override { c_.openBarrierByHand(station); }
    void updateSpaces(const QString& digits) override
    {
        c_.setFreeSpacesByHand(digits);
    }
    void quit() override { c_.close(); }

private:
    StationController& c_;
};


// The installer's check; a bad address or speed ends it with status 2.
int readerCheck(const CommandLine& options, const QString& keyFile, std::chrono::seconds readFor)
{
    auto check = readerCheckOptions({options.readerCheck, keyFile, options.pulse, options.rekey, {}, {}, options.capture,
                                     options.firmware, 1, readFor},
                                    options.setAddress, options.setBaud, options.fileId);
    if (!check) {
        std::printf("%s\n", check.error().toUtf8().constData());
        return 2;
    }
    return runReaderCheck(*check);
}

// The workstation's clock and the embedded database's, set together.
struct Clocks {
    SettableClock workstation;
    SettableClock server;
    void set(const QDateTime& instant)
    {
        workstation.set(instant);
        server.set(instant);
    }
};

// The script's items; nullopt (with the reason printed) when it cannot be
// read or parsed.
std::optional<std::vector<ScriptItem>> loadScript(const QString& path)
{
    if (path.isEmpty())
        return std::vector<ScriptItem>{};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("Cannot read the script %1").arg(file.fileName()));
        return std::nullopt;
    }
    auto parsed = parseScript(QString::fromUtf8(file.readAll()));
    if (!parsed) {
        printError(QStringLiteral("%1: %2").arg(file.fileName(), parsed.error().message));
        return std::nullopt;
    }
    return std::move(*parsed);
}

// SIGTERM or SIGINT (systemd's stop, Ctrl+C) closes the stations as
// "Salir" does, and SIGHUP reloads, from the event loop: the handler only
// writes to a pipe.
std::unique_ptr<QSocketNotifier> watchForStop(StationController& controller, std::function<void()> reload)
{
    if (stopPipe[0] < 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&controller, reload = std::move(reload)] {
        char bytes[16];
        bool stop = false;
        bool reloadAsked = false;
        for (ssize_t n; (n = ::read(stopPipe[0], bytes, sizeof bytes)) > 0;) {
            for (ssize_t i = 0; i < n; ++i)
                (bytes[i] == 2 ? reloadAsked : stop) = true;
        }
        if (stop)
            controller.close();
        else if (reloadAsked)
            reload();
    });
    return notifier;
}

#if PARKING_GUI
// The demo's reader simulator, under the main window: emulated OSDP readers
// when there are some, else the stations' reader controls driven directly.
std::unique_ptr<ReaderSimulatorWindow> showSimulator(StationController& controller, const QWidget& window,
                                                     DemoReaders* demoReaders)
{
    std::array<std::unique_ptr<SimulatedReader>, 2> readers;
    for (int station : {1, 2}) {
        readers[stationIndex(station)] =
            demoReaders ? emulatorReader(*demoReaders, station) : simulatedControl(controller.reader(station), station);
    }
    auto simulator = std::make_unique<ReaderSimulatorWindow>(std::move(readers), demoCards(controller));
    simulator->move(window.geometry().left(), window.frameGeometry().bottom() + 10);
    simulator->show();
    return simulator;
}
#endif

// Runs the stations until they close; the program's exit status.
// `demoReaders`: the demo's emulated readers, if any.
int runStations(const CommandLine& options, Clocks& clocks, const Result<Configuration, ConfigurationFault>& loaded,
                std::vector<ScriptItem> script, DemoReaders* demoReaders)
{
    const Configuration& config = readConfiguration(loaded);
    // A stop asked for during start-up is carried out once the stations run
    // (its byte waits in the pipe).
    // Without a pipe (no descriptor left) the signals keep their default:
    // they end the program.
    if (stopPipe[0] >= 0 || ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        std::signal(SIGINT, onStopSignal);
        std::signal(SIGTERM, onStopSignal);
        std::signal(SIGHUP, onStopSignal);
    }
    // The clocks outlive the controller, and with it the database's worker
    // thread, which reads the server clock.
    QtTimers timers;
    StationController controller(config, clocks.workstation,
                                 makeConnectionFactory(clocks.server, config.database.configFolder), timers);
    if (options.headless || options.trace)
        controller.setTraceSink(writeLine);
#if PARKING_GUI
    std::unique_ptr<OperatorWindow> window;
    if (!options.headless) {
        window = std::make_unique<OperatorWindow>(controller);
        controller.setView(window.get());
    }
#endif
    QObject::connect(&controller, &StationController::closed, QCoreApplication::instance(), &QCoreApplication::quit,
                     Qt::QueuedConnection);

    const StationController::StartUp started = controller.start(loaded ? QString() : loaded.error().reason);
    // A connection attempt that never came back is waited for (within its
    // login timeout) as the controller goes.
    if (started == StationController::StartUp::Fatal || started == StationController::StartUp::WindowClosed)
        return 1;

    auto statusPage = startStatusPage(controller, config.status);
    ConfigurationReload reloader(controller, statusPage);
    ServiceNotifier service;
    service.ready();

    HeadlessActions headlessActions(controller);
    OperatorActions* actions = &headlessActions;
#if PARKING_GUI
    std::unique_ptr<ReaderSimulatorWindow> simulator;
    if (window) {
        window->show();
        if (options.demo)
            simulator = showSimulator(controller, *window, demoReaders);
        window->setAlertsAutoClose(!options.script.isEmpty());
        actions = window.get();
    }
#else
    (void)demoReaders;
#endif
    ScriptPlayer player(
        std::move(script), [&controller](int station) -> ReaderControl& { return controller.reader(station); },
        *actions, [&clocks](const QDateTime& instant) { clocks.set(instant); });
    player.start();

    const auto stopWatch = watchForStop(controller, [&] {
        service.reloading();
        reloader.reload(config.file);
        service.ready();
    });
    const int status = QCoreApplication::exec();
    service.stopping();
    return status;
}

// Without windows, Qt's own event loop: cheaper per pass than GLib's.
std::unique_ptr<QCoreApplication> coreApplication(int& argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv)
{
#if PARKING_GUI
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--headless", "--init-db", "--help", "-h", "--version", "-v", "--reader-check", "--hash-key"}) {
            if (qstrcmp(argv[i], option) == 0)
                return coreApplication(argc, argv);
        }
    }
    return std::make_unique<QApplication>(argc, argv);
#else
    return coreApplication(argc, argv);
#endif
}

} // namespace

int runApplication(int argc, char** argv)
{
    const auto app = makeApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("parking-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PARKING_VERSION));
    CommandLine options = parseCommandLine(*app);
#if !PARKING_GUI
    // Built without windows: every run is headless.
    options.headless = true;
#endif

    if (options.hashKey)
        return runHashKey();
    Clocks clocks;
    if (!options.now.isEmpty()) {
        const QDateTime start = parseIsoInstant(options.now);
        if (!start.isValid()) {
            printError(QStringLiteral("--now needs \"YYYY-MM-DD hh:mm:ss\", not \"%1\"").arg(options.now));
            return 2;
        }
        clocks.set(start);
    }
    if (!options.initDb.isEmpty()) {
        try {
            SqliteConnection::createDatabase(options.initDb, clocks.server);
        } catch (const DatabaseError& e) {
            printError(e.message());
            return 1;
        }
        return 0;
    }
    auto script = loadScript(options.script);
    if (!script)
        return 2;

    const QString programFolder = QCoreApplication::applicationDirPath();
    QString configPath = options.config.isEmpty() ? defaultConfigPath(programFolder) : options.config;
    if (!options.readerCheck.isEmpty()) {
        // The tests shorten the listening time.
        const int seconds = qEnvironmentVariableIsSet("PARKING_READER_CHECK_SECONDS")
                                ? qEnvironmentVariableIntValue("PARKING_READER_CHECK_SECONDS")
                                : 30;
        return readerCheck(options, readConfiguration(loadConfiguration(configPath)).readerKeyFile,
                           std::chrono::seconds(seconds));
    }
    std::unique_ptr<DemoReaders> demoReaders;
    if (options.demo) {
        try {
            const DemoSite site = createDemoSite(defaultDemoFolder(), clocks.server);
            configPath = site.configPath;
            // A scripted demo raises its reads on the stations' readers
            // directly and has no console (a port and key of its own each
            // time), so its output is the same from run to run; otherwise
            // the readers are emulated and spoken to over OSDP.
            if (options.script.isEmpty()) {
                addDemoConsole(configPath);
                demoReaders = startDemoReaders(programFolder, site.databasePath, clocks.server);
            }
        } catch (const DatabaseError& e) {
            printError(e.message());
            return 1;
        }
    }
    return runStations(options, clocks, loadConfiguration(configPath), std::move(*script), demoReaders.get());
}

} // namespace parking

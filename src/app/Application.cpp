#include "Application.h"

#include "Clock.h"
#include "ConnectionFactory.h"
#include "DatabaseError.h"
#include "DemoSite.h"
#include "FieldValue.h"
#include "IniFile.h"
#include "ScriptPlayer.h"
#include "Settings.h"
#include "SqliteConnection.h"
#include "StationController.h"
#include "Timer.h"

#if PARKING_GUI
#include "OperatorWindow.h"
#include "ReaderSimulatorWindow.h"

#include <QApplication>
#endif
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace parking {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int)
{
    stopRequested = 1;
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
        c_.setFreeSpacesText(digits);
        c_.setFreeSpacesByHand();
    }
    void quit() override { c_.close(); }

private:
    StationController& c_;
};

#if PARKING_GUI
QList<SimulatedCard> demoCards(StationController& controller)
{
    QList<SimulatedCard> cards;
    try {
        auto connection = controller.monitor().connection();
        if (!connection)
            return cards;
        auto rs = connection->openRecordset(
            QStringLiteral("SELECT Codigo, CodInstalacion, Nombre, CODTARJETA FROM ABONADOS ORDER BY Codigo"), LockType::ReadOnly);
        for (; !rs->eof(); rs->moveNext()) {
            const QVariant card = rs->field(QStringLiteral("CODTARJETA"));
            cards.append({toInt32(rs->field(QStringLiteral("Codigo"))),
                          toInt32(rs->field(QStringLiteral("CodInstalacion"))),
                          rs->field(QStringLiteral("Nombre")).toString(), card.isNull() ? QString() : toText(card)});
        }
    } catch (const std::exception& e) {
        controller.log().write(QStringLiteral("ERROR en el simulador: ") + QString::fromUtf8(e.what()));
    }
    return cards;
}
#endif

} // namespace

int runApplication(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--headless", "--init-db", "--help", "-h", "--version", "-v"}) {
            if (qstrcmp(argv[i], option) == 0)
                headless = true;
        }
    }
#if PARKING_GUI
    std::unique_ptr<QCoreApplication> app = headless ? std::make_unique<QCoreApplication>(argc, argv)
                                                     : std::make_unique<QApplication>(argc, argv);
#else
    // Built without windows: every run is headless.
    headless = true;
    auto app = std::make_unique<QCoreApplication>(argc, argv);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("parking-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PARKING_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Unattended car-park access controller"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
        QStringLiteral("Configuration file (default: Rivalto.ini in the program's folder)."), QStringLiteral("FILE"));
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
        QStringLiteral("No windows: the event log and the trace go to standard output."));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
        QStringLiteral("With windows, also write the event log and the trace to standard output."));
    const QCommandLineOption nowOption(QStringLiteral("now"),
        QStringLiteral("Start the workstation and embedded-database clocks at this instant."),
        QStringLiteral("YYYY-MM-DD hh:mm:ss"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
        QStringLiteral("Create (or reset) the demo configuration and database and start on them."));
    const QCommandLineOption initDbOption(QStringLiteral("init-db"),
        QStringLiteral("Create an empty embedded database at FILE and exit."), QStringLiteral("FILE"));
    const QCommandLineOption scriptOption(QStringLiteral("script"),
        QStringLiteral("Play timed reader events and operator actions from FILE."), QStringLiteral("FILE"));
    parser.addOptions({configOption, headlessOption, traceOption, nowOption, demoOption, initDbOption, scriptOption});
    parser.process(*app);

    SettableClock workstationClock;
    SettableClock serverClock;
    auto setClocks = [&](const QDateTime& instant) {
        workstationClock.set(instant);
        serverClock.set(instant);
    };
    if (parser.isSet(nowOption)) {
        const QDateTime start = parseIsoInstant(parser.value(nowOption));
        if (!start.isValid()) {
            printError(QStringLiteral("--now needs \"YYYY-MM-DD hh:mm:ss\", not \"%1\"").arg(parser.value(nowOption)));
            return 2;
        }
        setClocks(start);
    }

    if (parser.isSet(initDbOption)) {
        try {
            SqliteConnection::createDatabase(parser.value(initDbOption), serverClock);
        } catch (const DatabaseError& e) {
            printError(e.message());
            return 1;
        }
        return 0;
    }

    std::vector<ScriptItem> script;
    if (parser.isSet(scriptOption)) {
        QFile file(parser.value(scriptOption));
        if (!file.open(QIODevice::ReadOnly)) {
            printError(QStringLiteral("Cannot read the script %1").arg(file.fileName()));
            return 2;
        }
        auto parsed = parseScript(QString::fromUtf8(file.readAll()));
        if (auto* error = std::get_if<ScriptError>(&parsed)) {
            printError(QStringLiteral("%1: %2").arg(file.fileName(), error->message));
            return 2;
        }
        script = std::get<std::vector<ScriptItem>>(std::move(parsed));
    }

    const QString programFolder = QCoreApplication::applicationDirPath();
    QString configPath = parser.isSet(configOption) ? parser.value(configOption) : defaultConfigPath(programFolder);
    if (parser.isSet(demoOption)) {
        try {
            configPath = createDemoSite(defaultDemoFolder(), serverClock).configPath;
        } catch (const DatabaseError& e) {
            printError(e.message());
            return 1;
        }
    }
    configPath = QFileInfo(configPath).absoluteFilePath();
    const QDir configFolder = QFileInfo(configPath).absoluteDir();
    // Where the log files and the journal of pending writes go: [Registro]
    // Carpeta= and Diario= of the configuration, beside it by default.
    const IniFile ini = IniFile::load(configPath);
    QString logFolder = ini.value(QStringLiteral("Registro"), QStringLiteral("Carpeta"));
    logFolder = configFolder.absoluteFilePath(logFolder.isEmpty() ? QStringLiteral("log") : logFolder);
    QString journalFile = ini.value(QStringLiteral("Registro"), QStringLiteral("Diario"));
    journalFile = configFolder.absoluteFilePath(journalFile.isEmpty() ? QStringLiteral("parking.journal") : journalFile);

    // The clocks above outlive the controller, and with it the database's
    // worker thread, which reads the server clock.
    QtTimers timers;
    Settings settings;
    StationController controller(settings, workstationClock,
                                 makeConnectionFactory(serverClock, configFolder.absolutePath()),
                                 {configPath, programFolder, logFolder, journalFile}, timers);
    if (headless || parser.isSet(traceOption))
        controller.setTraceSink(writeLine);

#if PARKING_GUI
    std::unique_ptr<OperatorWindow> window;
    if (!headless) {
        window = std::make_unique<OperatorWindow>(controller);
        controller.setView(window.get());
    }
#endif
    QObject::connect(&controller, &StationController::closed, app.get(), &QCoreApplication::quit,
                     Qt::QueuedConnection);

    switch (controller.start()) {
    case StationController::StartUp::Fatal:
    case StationController::StartUp::WindowClosed:
        // A connection attempt that never came back is waited for (within
        // its login timeout) as the controller goes.
        return 1;
    case StationController::StartUp::InService:
    case StationController::StartUp::NoStations:
        break;
    }

    HeadlessActions headlessActions(controller);
    OperatorActions* actions = &headlessActions;
#if PARKING_GUI
    std::unique_ptr<ReaderSimulatorWindow> simulator;
    if (window) {
        window->show();
        if (parser.isSet(demoOption)) {
            simulator = std::make_unique<ReaderSimulatorWindow>(controller.reader(1), controller.reader(2),
                                                                demoCards(controller));
            simulator->move(window->geometry().left(), window->frameGeometry().bottom() + 10);
            simulator->show();
        }
        window->setAlertsAutoClose(parser.isSet(scriptOption));
        actions = window.get();
    }
#endif
    ScriptPlayer player(
        std::move(script), [&controller](int station) -> ReaderControl& { return controller.reader(station); }, *actions,
        setClocks);
    player.start();

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QTimer stopWatch;
    stopWatch.setInterval(100);
    QObject::connect(&stopWatch, &QTimer::timeout, [&controller] {
        if (stopRequested)
            controller.close();
    });
    stopWatch.start();
    return QCoreApplication::exec();
}

} // namespace parking

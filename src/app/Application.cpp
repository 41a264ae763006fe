#include "Application.h"

#include "Clock.h"
#include "ConnectionFactory.h"
#include "DatabaseError.h"
#include "DemoSite.h"
#include "FieldValue.h"
#include "IniFile.h"
#include "ReaderSimulatorWindow.h"
#include "ScriptPlayer.h"
#include "Settings.h"
#include "SqliteConnection.h"
#include "StationController.h"
#include "frmComunicar.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdlib>
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
    void openBarrier(int station) override
    {
        station == 1 ? c_.cmdAbrirPuerta1_Click() : c_.cmdAbrirPuerta2_Click();
    }
    void updateSpaces(const QString& digits) override
    {
        c_.setText2(digits);
        c_.cmdActualiza_Click();
    }
    void quit() override { c_.cmdCerrar_Click(); }

private:
    StationController& c_;
};

QList<SimulatedCard> demoCards(StationController& controller)
{
    QList<SimulatedCard> cards;
    try {
        auto rs = controller.database().Conexion().openRecordset(
            QStringLiteral("SELECT Codigo, CodInstalacion, Nombre, CODTARJETA FROM ABONADOS ORDER BY Codigo"),
            CursorType::Dynamic, LockType::ReadOnly);
        for (; !rs->eof(); rs->moveNext()) {
            const QVariant card = rs->field(QStringLiteral("CODTARJETA"));
            cards.append({toInt32(rs->field(QStringLiteral("Codigo"))),
                          toInt32(rs->field(QStringLiteral("CodInstalacion"))),
                          rs->field(QStringLiteral("Nombre")).toString(), card.isNull() ? QString() : toText(card)});
        }
    } catch (const std::exception& e) {
        controller.WriteTerminalWin(QStringLiteral("ERROR en el simulador: ") + QString::fromUtf8(e.what()));
    }
    return cards;
}

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
    std::unique_ptr<QCoreApplication> app = headless ? std::make_unique<QCoreApplication>(argc, argv)
                                                     : std::make_unique<QApplication>(argc, argv);
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

    Settings settings;
    StationController controller(settings, workstationClock,
                                 makeConnectionFactory(serverClock, configFolder.absolutePath()),
                                 {configPath, programFolder, logFolder, journalFile});
    if (headless || parser.isSet(traceOption))
        controller.setTraceSink(writeLine);

    std::unique_ptr<frmComunicar> window;
    if (!headless) {
        window = std::make_unique<frmComunicar>(controller);
        controller.setView(window.get());
    }
    QObject::connect(&controller, &StationController::closed, app.get(), &QCoreApplication::quit,
                     Qt::QueuedConnection);

    switch (controller.Form_Load()) {
    case StationController::StartUp::Fatal:
        // The program leaves at once after its message: a connection attempt
        // that never came back may still be running, and nothing is tidied.
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(1);
    case StationController::StartUp::WindowClosed:
        return 1;
    case StationController::StartUp::InService:
    case StationController::StartUp::NoStations:
        break;
    }

    std::unique_ptr<ReaderSimulatorWindow> simulator;
    if (window) {
        window->show();
        if (parser.isSet(demoOption)) {
            simulator = std::make_unique<ReaderSimulatorWindow>(controller.KBIOMAXctl1(), controller.KBIOMAXctl2(),
                                                                demoCards(controller));
            simulator->move(window->geometry().left(), window->frameGeometry().bottom() + 10);
            simulator->show();
        }
    }

    HeadlessActions headlessActions(controller);
    OperatorActions& actions = window ? static_cast<OperatorActions&>(*window) : headlessActions;
    ScriptPlayer player(std::move(script), controller.KBIOMAXctl1(), controller.KBIOMAXctl2(), actions, setClocks);
    if (window)
        window->setAlertsAutoClose(parser.isSet(scriptOption));
    player.start();

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QTimer stopWatch;
    stopWatch.setInterval(100);
    QObject::connect(&stopWatch, &QTimer::timeout, [&controller] {
        if (stopRequested)
            controller.Form_Unload();
    });
    stopWatch.start();
    return QCoreApplication::exec();
}

} // namespace parking

#include "Application.h"

#include "Clock.h"
#include "ConnectionFactory.h"
#include "Database.h"
#include "DatabaseError.h"
#include "DemoSite.h"
#include "Settings.h"
#include "SqliteConnection.h"
#include "WidgetConnectionUi.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMainWindow>
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

class HeadlessConnectionUi final : public ConnectionUi {
public:
    void showFatal(const QString& text, const QString&) override { writeLine(QStringLiteral("> alert |%1|").arg(text)); }
    void showProgress() override { writeLine(QStringLiteral("> progress show")); }
    void hideProgress() override { writeLine(QStringLiteral("> progress hide")); }
    void reportFailure(const QString& what) override { writeLine(what); }
    void pumpEvents(std::chrono::milliseconds wait) override { pumpQtEvents(wait); }
};

void printError(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace

int runApplication(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0 || qstrcmp(argv[i], "--init-db") == 0 ||
            qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0 ||
            qstrcmp(argv[i], "--version") == 0 || qstrcmp(argv[i], "-v") == 0)
            headless = true;
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
    const QCommandLineOption nowOption(QStringLiteral("now"),
        QStringLiteral("Start the workstation and embedded-database clocks at this instant."),
        QStringLiteral("YYYY-MM-DD hh:mm:ss"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
        QStringLiteral("Create (or reset) the demo configuration and database and start on them."));
    const QCommandLineOption initDbOption(QStringLiteral("init-db"),
        QStringLiteral("Create an empty embedded database at FILE and exit."), QStringLiteral("FILE"));
    parser.addOptions({configOption, headlessOption, nowOption, demoOption, initDbOption});
    parser.process(*app);

    SettableClock workstationClock;
    SettableClock serverClock;
    if (parser.isSet(nowOption)) {
        const QDateTime start = parseIsoInstant(parser.value(nowOption));
        if (!start.isValid()) {
            printError(QStringLiteral("--now needs \"YYYY-MM-DD hh:mm:ss\", not \"%1\"").arg(parser.value(nowOption)));
            return 2;
        }
        workstationClock.set(start);
        serverClock.set(start);
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

    QString configPath = parser.isSet(configOption) ? parser.value(configOption)
                                                    : defaultConfigPath(QCoreApplication::applicationDirPath());
    if (parser.isSet(demoOption)) {
        try {
            configPath = createDemoSite(defaultDemoFolder(), serverClock).configPath;
        } catch (const DatabaseError& e) {
            printError(e.message());
            return 1;
        }
    }
    configPath = QFileInfo(configPath).absoluteFilePath();
    const QString configFolder = QFileInfo(configPath).absolutePath();

    std::unique_ptr<ConnectionUi> ui;
    if (headless)
        ui = std::make_unique<HeadlessConnectionUi>();
    else
        ui = std::make_unique<WidgetConnectionUi>([](const QString& what) { printError(what); });

    Settings settings;
    Database database(makeConnectionFactory(serverClock, configFolder), *ui);
    if (!database.ConnectDatabase(settings, configPath, QCoreApplication::applicationDirPath()))
        return 1;

    std::unique_ptr<QMainWindow> window;
    if (!headless) {
        window = std::make_unique<QMainWindow>();
        window->setWindowTitle(ApplicationTitle);
        window->show();
    }

    QTimer probe;
    probe.setInterval(4000);
    QObject::connect(&probe, &QTimer::timeout, [&database] { database.CheckConnection(); });
    probe.start();

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QTimer stopWatch;
    stopWatch.setInterval(100);
    QObject::connect(&stopWatch, &QTimer::timeout, [] {
        if (stopRequested)
            QCoreApplication::quit();
    });
    stopWatch.start();
    return QCoreApplication::exec();
}

} // namespace parking

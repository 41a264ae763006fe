// The program as an operator or a tool runs it: exit status and messages.
#include "SiteConfig.h"
#include "QtPrinters.h"
#include "ProcessSupport.h"
#include "DemoSite.h"
#include "KeyHash.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace parking::test;

namespace {

struct BadStart {
    const char* name;
    const char* ini; // nullptr: no file
    const char* message;
};

const char GoodTail[] = "[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n";

class StartUpFailure : public ::testing::TestWithParam<BadStart> {};

TEST_P(StartUpFailure, EndsWithNonZeroStatusAndTheMessage)
{
    TempDatabase db;
    const QString config = QDir(db.folder()).filePath(QStringLiteral("station.ini"));
    if (GetParam().ini)
        writeFile(config, QString::fromUtf8(GetParam().ini));
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"), config});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.exitCode, -1) << "still running";
    EXPECT_TRUE(r.out.contains(QStringLiteral("> alert |%1").arg(QString::fromUtf8(GetParam().message))))
        << r.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpFailure, ::testing::Values(
    BadStart{"MissingFile", nullptr, "Configuración no válida"},
    BadStart{"EmptyInstalacion", "[Conexion]\nSID=sqlite:test.db\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=\n", "Configuración no válida"},
    BadStart{"InstalacionOutOfRange", "[Conexion]\nSID=sqlite:test.db\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=99999\n", "Configuración no válida"},
    BadStart{"LeftAbc", "[Conexion]\nSID=sqlite:test.db\n[Form]\nLeft=abc\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "Configuración no válida: \"abc\""},
    BadStart{"Left40000", "[Conexion]\nSID=sqlite:test.db\n[Form]\nLeft=40000\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "Configuración no válida: \"40000\""},
    BadStart{"BlankSid", "[Conexion]\nSID=     \n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "Hay que definir SID dentro de [Conexion]|"},
    BadStart{"UnopenableDatabase", "[Conexion]\nSID=sqlite:no/such/folder/x.db\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "No hay Conexión a la Base de Datos|"},
    BadStart{"ServerNameWithoutServerBackend", "[Conexion]\nSID=ORCL\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "No hay Conexión a la Base de Datos|"}),
    [](const auto& info) { return std::string(info.param.name); });

// A configured site: an embedded database with one installation (code 3).
struct Site {
    Site()
    {
        db.exec(QStringLiteral("INSERT INTO Lector VALUES (3, 2, 'sim:in', 'sim:out', 'BIENVENIDO', 'TARJETA NO VALIDA', "
                               "'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')"));
        db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA CUBIERTA', 20, 10)"));
        config = parking::test::writeSiteConfig(db.folder(), QStringLiteral("sqlite:test.db"), 3);
    }
    QString script(const QString& text) const
    {
        const QString path = QDir(db.folder()).filePath(QStringLiteral("script.txt"));
        writeFile(path, text);
        return path;
    }
    TempDatabase db;
    QString config;
};

const QString Idle = QStringLiteral("PISCINA CUBIERTA                        ");

QStringList expectedStationCommandsRun()
{
    return {QStringLiteral("> light 1 green"), QStringLiteral("> light 2 green"),
            QStringLiteral("KBIOMAXctl1.OpenPortRem(sim:in)"), QStringLiteral("> port 1 |sim:in|"), QStringLiteral("OpenPort 1: 0"),
            QStringLiteral("KBIOMAXctl2.OpenPortRem(sim:out)"), QStringLiteral("> port 2 |sim:out|"), QStringLiteral("OpenPort 2: 0"),
            QStringLiteral("> setup 1"), QStringLiteral("SetUpBiomax 1: 0"), QStringLiteral("> setup 2"), QStringLiteral("SetUpBiomax 2: 0"),
            QStringLiteral("> display 1 |") + Idle + QLatin1Char('|'), QStringLiteral("> display 2 |") + Idle + QLatin1Char('|'),
            QStringLiteral("> plazas 10"),
            QStringLiteral("> light 1 red"), QStringLiteral("> light 1 green"), QStringLiteral("/AnsHotReset "),
            QStringLiteral("> relay 1 0 100"), QStringLiteral("CloseRelay: 0"),
            QStringLiteral("> relay 2 0 100"), QStringLiteral("CloseRelay: 0"),
            QStringLiteral("> closeport 1"), QStringLiteral("> closeport 2")};
}

const char StationCommandsScript[] = "# pull station 1 down, reset it, open both barriers by hand, leave\n"
                                     "0.1 down 1\n0.2 hotreset 1\n0.3 open 1\n0.4 open 2\n0.5 quit\n";

// Headless, and in a window with --trace: two views of the same stations,
// one and the same stream.
class StationCommandsRun : public ::testing::TestWithParam<const char*> {};

TEST_P(StationCommandsRun, PrintsTheLogAndTraceInOrder)
{
    Site site;
    const StationRun r = runStation({QString::fromLatin1(GetParam()), QStringLiteral("--config"), site.config,
                                     QStringLiteral("--script"), site.script(QString::fromLatin1(StationCommandsScript))});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expectedStationCommandsRun());
}

INSTANTIATE_TEST_SUITE_P(Views, StationCommandsRun, ::testing::Values("--headless", "--trace"),
                         [](const auto& info) { return std::string(info.param + 2); });

TEST(CommandLine, MalformedScriptDoesNotStart)
{
    Site site;
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"), site.config,
                                     QStringLiteral("--script"), site.script(QStringLiteral("0.1 open 1\n0.2 open 9\n"))});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty());
}

TEST(CommandLine, LogFileKeepsEveryLine)
{
    Site site;
    runStation({QStringLiteral("--headless"), QStringLiteral("--config"), site.config, QStringLiteral("--now"),
                QStringLiteral("2026-03-04 10:00:00"), QStringLiteral("--script"),
                site.script(QStringLiteral("0.1 open 1\n0.2 quit\n"))});
    QFile log(QDir(site.db.folder()).filePath(QStringLiteral("log/parking-2026-03-04.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral(" SetUpBiomax 2: 0\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("2026-03-04 10:00:00 CloseRelay: 0\n")));
}

TEST(CommandLine, ExitJournalledBeforeAKillIsWrittenOnceAfterRestart)
{
    Site site;
    site.db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,2)"));
    site.db.exec(QStringLiteral("INSERT INTO Movimientos_Parking VALUES (3,1234,7,'2026-03-04 09:00:00',NULL)"));
    const QStringList args{QStringLiteral("--headless"), QStringLiteral("--config"), site.config, QStringLiteral("--now"),
                           QStringLiteral("2026-03-04 10:00:00"), QStringLiteral("--script")};

    QProcess p;
    p.start(QStringLiteral(PARKING_STATION_BINARY),
            args + QStringList{site.script(QStringLiteral("1.5 track 2 ABC07XXXXX01234Z\n60 quit\n"))});
    QString seen;
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> plazas 10"))) << seen.toStdString();
    // Another program holds the database: nothing can be written.
    auto holder = site.db.openAnother();
    holder->execute(QStringLiteral("BEGIN EXCLUSIVE"));
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> relay 2 0 6"))) << seen.toStdString();
    p.kill(); // SIGKILL: no chance to tidy up
    p.waitForFinished();
    holder->execute(QStringLiteral("ROLLBACK"));
    EXPECT_TRUE(seen.contains(QStringLiteral("DIARIO: pendiente salida")));
    EXPECT_TRUE(site.db.scalar(QStringLiteral("SELECT HORASALIDA FROM Movimientos_Parking")).isNull());
    EXPECT_EQ(site.db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(), 10);

    for (int run = 0; run < 2; ++run) {
        const StationRun again = runStation(args + QStringList{site.script(QStringLiteral("0.5 quit\n"))});
        EXPECT_EQ(again.exitCode, 0);
        EXPECT_EQ(again.out.contains(QStringLiteral("DIARIO: 2 escrituras pendientes guardadas")), run == 0) << again.out.toStdString();
        EXPECT_EQ(site.db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE HORASALIDA IS NOT NULL")).toInt(), 1);
        EXPECT_EQ(site.db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(), 11);
    }
}

// Each demo subscriber at the entrance on a Wednesday morning.
struct DemoOutcome {
    int subscriber;
    const char* display; // nullptr: a silent refusal
    bool opens;
};

TEST(CommandLine, DemoShowsEveryOutcome)
{
    const DemoOutcome outcomes[] = {
        {101, "BIENVENIDO", true},        {102, nullptr, false},
        {103, "TIENE RECIBOS PENDIENTES", false}, {104, "TIENE RECIBOS PENDIENTES", false},
        {105, "CUOTA NO VIGENTE", false}, {106, nullptr, false},
        {107, "BIENVENIDO", true},        {108, "FUERA DE HORARIO", false},
        {109, nullptr, false},            {110, "BIENVENIDO", true},
        {111, "BIENVENIDO", true},        {112, "FUERA DE HORARIO", false},
    };
    QTemporaryDir home;
    QString script;
    double t = 0.1;
    for (const DemoOutcome& o : outcomes) {
        script += QStringLiteral("%1 track 1 %B00100000%2?\n").arg(t).arg(o.subscriber, 5, 10, QLatin1Char('0'));
        t += 0.05;
    }
    script += QStringLiteral("%1 card 1 ;0000000999999?\n").arg(t);
    script += QStringLiteral("%1 track 2 %B0010000000101?\n").arg(t + 0.05);
    script += QStringLiteral("%1 spaces 0\n%2 track 1 %B0010000000110?\n%3 quit\n").arg(t + 0.1).arg(t + 0.15).arg(t + 0.2);
    const QString scriptPath = QDir(home.path()).filePath(QStringLiteral("demo.txt"));
    writeFile(scriptPath, script);
    const StationRun r = runStation({QStringLiteral("--demo"), QStringLiteral("--headless"), QStringLiteral("--now"),
                                     QStringLiteral("2026-03-04 10:00:00"), QStringLiteral("--script"), scriptPath},
                                    20000, home.path());
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
    // Split the run into one block per read.
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    QList<QStringList> reads;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Track: ")))
            reads.append(QStringList());
        if (!reads.isEmpty())
            reads.last() << line;
    }
    ASSERT_EQ(reads.size(), 15) << r.out.toStdString();
    for (int i = 0; i < 12; ++i) {
        const DemoOutcome& o = outcomes[i];
        const QStringList& read = reads[i];
        EXPECT_EQ(read.filter(QStringLiteral("> relay 1 0 6")).size(), o.opens ? 1 : 0) << o.subscriber;
        const QStringList shown = read.filter(QStringLiteral("> display 1"));
        if (o.display)
            EXPECT_EQ(shown, QStringList{QStringLiteral("> display 1 |%1|").arg(QString::fromLatin1(o.display).leftJustified(32))}) << o.subscriber;
        else
            EXPECT_TRUE(shown.isEmpty()) << o.subscriber;
    }
    EXPECT_FALSE(reads[12].filter(QStringLiteral("> display 1 |TARJETA NO VALIDA")).isEmpty());
    EXPECT_FALSE(reads[13].filter(QStringLiteral("> display 2 |GRACIAS POR SU VISITA")).isEmpty());
    EXPECT_TRUE(reads[14].contains(QStringLiteral("> alert |NO HAY PLAZAS LIBRES|")));
}

TEST(CommandLine, InitDbCreatesAnEmptyDatabaseAndRefusesToOverwrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.db"));
    EXPECT_EQ(runStation({QStringLiteral("--init-db"), path}).exitCode, 0);
    parking::ManualClock clock;
    parking::SqliteConnection c(clock, {});
    c.open(QStringLiteral("Data Source=sqlite:") + path, {});
    auto rs = c.query(QStringLiteral("SELECT count(*) N FROM ABONADOS"), {});
    EXPECT_EQ(rs->field(QStringLiteral("N")).toInt(), 0);
    EXPECT_NE(runStation({QStringLiteral("--init-db"), path}).exitCode, 0);
}

// The configuration examples the project ships start the program as they
// are: the README's (its blocks put together) on the demo database.
TEST(CommandLine, TheReadmeConfigurationExampleStarts)
{
    QFile readme(QStringLiteral(PARKING_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    QString ini;
    bool inBlock = false;
    for (const QString& line : QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```")))
            inBlock = line == QLatin1String("```ini");
        else if (inBlock)
            ini += line + QLatin1Char('\n');
    }
    ASSERT_TRUE(ini.contains(QStringLiteral("SID=")));
    QTemporaryDir dir;
    parking::ManualClock clock(parking::parseIsoInstant(QStringLiteral("2026-03-04 10:00:00")));
    const parking::DemoSite site = parking::createDemoSite(dir.path(), clock);
    writeFile(site.configPath, ini);
    const QString script = QDir(dir.path()).filePath(QStringLiteral("quit.txt"));
    writeFile(script, QStringLiteral("0.2 quit\n"));
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"), site.configPath,
                                     QStringLiteral("--script"), script});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("> alert"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("> plazas 37"))) << r.out.toStdString();
}

TEST(CommandLine, VersionAndHelpAnswer)
{
    EXPECT_EQ(runStation({QStringLiteral("--version")}).exitCode, 0);
    const StationRun help = runStation({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--headless")));
}

// What --hash-key prints for `input` on standard input, and its status;
// no display and no configuration are there.
std::pair<int, QString> hashKey(const QByteArray& input)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QDir::tempPath());
    p.start(QStringLiteral(PARKING_STATION_BINARY), {QStringLiteral("--hash-key")});
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        return {-1, {}};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

TEST(CommandLine, HashKeyPrintsASaltedHashOnItsLastLineThatOnlyItsKeyMatches)
{
    const auto [status, out] = hashKey("una clave de operador\n");
    const auto [again, out2] = hashKey("una clave de operador\r\n");
    ASSERT_EQ(status, 0) << out.toStdString();
    ASSERT_EQ(again, 0) << out2.toStdString();
    const QString last = out.trimmed().split(QLatin1Char('\n')).last();
    const QString last2 = out2.trimmed().split(QLatin1Char('\n')).last();
    EXPECT_NE(last, last2) << "two runs give the same hash";
    for (const QString& text : {last, last2}) {
        const auto hash = parking::KeyHash::parse(text);
        ASSERT_TRUE(hash) << text.toStdString();
        EXPECT_TRUE(hash->matches("una clave de operador"));
        EXPECT_FALSE(hash->matches("una clave de operador\r"));
    }
    EXPECT_FALSE(out.contains(QStringLiteral("una clave"))) << "the key was echoed";
    const auto [shortStatus, shortOut] = hashKey("corta\n");
    EXPECT_EQ(shortStatus, 2);
    EXPECT_TRUE(shortOut.contains(QStringLiteral("de 12 a 1024 caracteres"))) << shortOut.toStdString();
}

} // namespace

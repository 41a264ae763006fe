// The program as an operator or a tool runs it: exit status and messages.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace parking::test;

namespace {

struct StationRun {
    int exitCode = -1;
    QString out;
};

StationRun runStation(const QStringList& args, int waitMs = 20000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PARKING_STATION_BINARY), args);
    EXPECT_TRUE(p.waitForStarted());
    if (!p.waitForFinished(waitMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromUtf8(p.readAllStandardOutput())};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

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
        config = QDir(db.folder()).filePath(QStringLiteral("Rivalto.ini"));
        writeFile(config, QStringLiteral("[Conexion]\nSID=sqlite:test.db\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n"
                                         "[Impresoras]\nInstalacion=3\n"));
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
            QStringLiteral("> closeport 1")};
}

const char StationCommandsScript[] = "# pull station 1 down, reset it, open both barriers by hand, leave\n"
                                     "0.1 down 1\n0.2 hotreset 1\n0.3 open 1\n0.4 open 2\n0.5 quit\n";

TEST(CommandLine, HeadlessScriptPrintsTheLogAndTraceInOrder)
{
    Site site;
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"), site.config,
                                     QStringLiteral("--script"), site.script(QString::fromLatin1(StationCommandsScript))});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expectedStationCommandsRun());
}

TEST(CommandLine, WindowWithTraceRunsTheSameLogic)
{
    Site site;
    const StationRun r = runStation({QStringLiteral("--trace"), QStringLiteral("--config"), site.config,
                                     QStringLiteral("--script"), site.script(QString::fromLatin1(StationCommandsScript))});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expectedStationCommandsRun());
}

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

TEST(CommandLine, InitDbCreatesAnEmptyDatabaseAndRefusesToOverwrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.db"));
    EXPECT_EQ(runStation({QStringLiteral("--init-db"), path}).exitCode, 0);
    parking::ManualClock clock;
    parking::SqliteConnection c(clock, {});
    c.open(QStringLiteral("Data Source=sqlite:") + path, {});
    auto rs = c.openRecordset(QStringLiteral("SELECT count(*) N FROM ABONADOS"), parking::CursorType::Dynamic,
                              parking::LockType::ReadOnly);
    EXPECT_EQ(rs->field(QStringLiteral("N")).toInt(), 0);
    EXPECT_NE(runStation({QStringLiteral("--init-db"), path}).exitCode, 0);
}

TEST(CommandLine, VersionAndHelpAnswer)
{
    EXPECT_EQ(runStation({QStringLiteral("--version")}).exitCode, 0);
    const StationRun help = runStation({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--headless")));
}

} // namespace

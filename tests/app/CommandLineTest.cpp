// The program as an operator or a tool runs it: exit status and messages.
#include "TestSupport.h"

#include <QDir>
#include <QProcess>

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

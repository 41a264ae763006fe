#include "Configuration.h"
#include "QtPrinters.h"
#include "SiteConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;

namespace {

const char CompleteIni[] = "[Conexion]\nBASEDATOS=ORACLE\nSID=  ORCL  \nSVR=x\nBD=%1\nCredenciales=cred\n"
                           "[Form]\nLeft= 40 \nTop=1\nWidth=2\nHeight=3\n"
                           "[Impresoras]\nImpresoraTickets= Ticket \nInstalacion=7\n"
                           "[Registro]\nCarpeta=/var/log/parking\nDiario=sub/j\nDiasClavesDiario=30\n"
                           "[Estado]\nPuerto=8080\nDireccion=0.0.0.0\nClave=k\nClaveOperador=o\nCertificado=c.pem\n"
                           "ClavePrivada=k.pem\n";

class ConfigurationFile : public ::testing::Test {
protected:
    QString write(const QString& text, const QString& name = QStringLiteral("Rivalto.ini"))
    {
        const QString path = QDir(dir.path()).filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(ConfigurationFile, ReadsWhatTheProgramUses)
{
    const QString path = write(QString::fromLatin1(CompleteIni).arg(QString(120, QLatin1Char('b'))));
    const auto loaded = loadConfiguration(path);
    ASSERT_TRUE(loaded) << loaded.error().reason.toStdString();
    const Configuration& c = *loaded;
    EXPECT_EQ(c.file, path);
    EXPECT_EQ(c.installation, 7);
    // The data source keeps the blanks of its fixed field: the connection
    // string is built from it as it always was.
    EXPECT_EQ(c.database.dataSource, QStringLiteral("ORCL").leftJustified(100, QLatin1Char(' ')));
    EXPECT_EQ(c.database.credentialsFile, QStringLiteral("cred"));
    EXPECT_EQ(c.database.configFolder, dir.path());
    EXPECT_EQ(c.logFolder, QStringLiteral("/var/log/parking"));
    EXPECT_EQ(c.journalFile, QDir(dir.path()).filePath(QStringLiteral("sub/j")));
    EXPECT_EQ(c.readerKeyFile, QDir(dir.path()).filePath(QStringLiteral("claves-lectores")));
    EXPECT_EQ(c.unitKeyDays, 30);
    EXPECT_EQ(c.status.port, QStringLiteral("8080"));
    EXPECT_EQ(c.status.address, QStringLiteral("0.0.0.0"));
    EXPECT_EQ(c.status.key, QStringLiteral("k"));
    EXPECT_EQ(c.status.operatorKey, QStringLiteral("o"));
    EXPECT_EQ(c.status.certificate, QStringLiteral("c.pem"));
    EXPECT_EQ(c.status.privateKey, QStringLiteral("k.pem"));
}

TEST_F(ConfigurationFile, FilesGoBesideTheConfigurationUnlessGiven)
{
    const auto loaded = loadConfiguration(test::writeSiteConfig(dir.path(), QStringLiteral("x"), 3));
    ASSERT_TRUE(loaded);
    const Configuration& c = *loaded;
    EXPECT_EQ(c.logFolder, QDir(dir.path()).filePath(QStringLiteral("log")));
    EXPECT_EQ(c.journalFile, QDir(dir.path()).filePath(QStringLiteral("parking.journal")));
    EXPECT_EQ(c.readerKeyFile, QDir(dir.path()).filePath(QStringLiteral("claves-lectores")));
    EXPECT_EQ(c.unitKeyDays, 90);
    EXPECT_EQ(c.status.port, QString()); // no status page
}

TEST_F(ConfigurationFile, DaysOfPassageKeysOutsideTheirRangeAreTheDefault)
{
    const struct {
        const char* text;
        int days;
    } cases[] = {{"1", 1}, {"3650", 3650}, {"0", 90}, {"3651", 90}, {"-5", 90}, {"x", 90}, {"", 90}};
    for (const auto& k : cases) {
        const QString path = test::writeSiteConfig(dir.path(), QStringLiteral("x"), 3,
                                                   QStringLiteral("[Registro]\nDiasClavesDiario=%1\n").arg(QLatin1String(k.text)));
        EXPECT_EQ(loadConfiguration(path)->unitKeyDays, k.days) << k.text;
    }
}

TEST_F(ConfigurationFile, TheDatabaseWaitsAreMillisecondsInTheirRangeElseTheDefault)
{
    const struct {
        const char* text;
        int readMs;  // Espera=
        int writeMs; // EsperaEscritura=
    } cases[] = {{"250", 250, 250},     {"100", 100, 100},   {"30000", 30000, 30000}, {"99", 1000, 2000},
                 {"30001", 1000, 2000}, {"0", 1000, 2000},   {"-500", 1000, 2000},    {"1.5", 1000, 2000},
                 {"1s", 1000, 2000},    {"", 1000, 2000}};
    for (const auto& k : cases) {
        const QString path = write(QStringLiteral("[Conexion]\nSID=x\nEspera=%1\nEsperaEscritura=%1\n"
                                                  "[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=3\n")
                                       .arg(QLatin1String(k.text)));
        const auto loaded = loadConfiguration(path);
        ASSERT_TRUE(loaded) << k.text;
        const Configuration& c = *loaded;
        EXPECT_EQ(c.database.readWait.count(), k.readMs) << k.text;
        EXPECT_EQ(c.database.writeWait.count(), k.writeMs) << k.text;
    }
}

TEST_F(ConfigurationFile, FileInADeepFolderIsReadWhole)
{
    const QString deep = QStringLiteral("a-rather-long-folder-name/another-long-folder-name/and-one-more-level/Rivalto.ini");
    const QString path = write(QString::fromLatin1(CompleteIni).arg(QStringLiteral("x")), deep);
    ASSERT_GT(path.size(), 75);
    const auto loaded = loadConfiguration(path);
    ASSERT_TRUE(loaded);
    const Configuration& c = *loaded;
    EXPECT_EQ(c.installation, 7);
    EXPECT_EQ(c.file, path);
}

struct BadFile {
    const char* name;
    const char* text; // empty: no file at all
    const char* mentions;
};

class BadConfiguration : public ConfigurationFile, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadConfiguration, NamesTheKeyAndTheFileAndStillSaysWhereTheLogGoes)
{
    const BadFile& c = GetParam();
    const QString path = *c.text ? write(QString::fromUtf8(c.text) + QStringLiteral("[Registro]\nCarpeta=registros\n"))
                                 : QDir(dir.path()).filePath(QStringLiteral("missing.ini"));
    const auto loaded = loadConfiguration(path);
    ASSERT_FALSE(loaded);
    const QString& fault = loaded.error().reason;
    EXPECT_TRUE(fault.startsWith(QStringLiteral("Configuración no válida: "))) << fault.toStdString();
    EXPECT_TRUE(fault.contains(QString::fromUtf8(c.mentions))) << fault.toStdString();
    EXPECT_TRUE(fault.contains(path)) << fault.toStdString();
    EXPECT_EQ(readConfiguration(loaded).logFolder, QDir(dir.path()).filePath(*c.text ? QStringLiteral("registros") : QStringLiteral("log")));
}

INSTANTIATE_TEST_SUITE_P(Cases, BadConfiguration, ::testing::Values(
    BadFile{"MissingFile", "", "Left"},
    BadFile{"LeftNotANumber", "[Form]\nLeft=abc\nTop=1\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "Left"},
    BadFile{"LeftEmpty", "[Form]\nLeft=\nTop=1\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "Left"},
    BadFile{"LeftOutOfRange", "[Form]\nLeft=40000\nTop=1\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n", "40000"},
    BadFile{"HeightMissing", "[Form]\nLeft=1\nTop=1\nWidth=1\n[Impresoras]\nInstalacion=1\n", "Height"},
    BadFile{"InstalacionEmpty", "[Form]\nLeft=1\nTop=1\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=\n", "Instalacion"},
    BadFile{"InstalacionOutOfRange", "[Form]\nLeft=1\nTop=1\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=70000\n", "Instalacion"},
    BadFile{"InstalacionInOtherSection", "[Form]\nLeft=1\nTop=1\nWidth=1\nHeight=1\nInstalacion=7\n", "Instalacion"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

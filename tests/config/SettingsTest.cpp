#include "QtPrinters.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;

namespace {

const char CompleteIni[] = "[Conexion]\nBASEDATOS=ORACLE\nSID=  ORCL  \nSVR=x\nBD=%1\n"
                           "[Form]\nLeft= 40 \nTop=1\nWidth=2\nHeight=3\n"
                           "[Impresoras]\nImpresoraTickets= Ticket \nInstalacion=7\n"
                           "[Fotos]\nFotoPath=/f\n";

class SettingsFile : public ::testing::Test {
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
    Settings settings;
};

TEST_F(SettingsFile, LoadsEveryFormOfSetting)
{
    const QString bd(120, QLatin1Char('b'));
    const QString path = write(QString::fromLatin1(CompleteIni).arg(bd));
    ASSERT_FALSE(LoadSettings(settings, path, dir.path()));
    EXPECT_EQ(settings.BaseDatos, QStringLiteral("ORACLE"));
    EXPECT_EQ(settings.SidBD.text(), QStringLiteral("ORCL").leftJustified(100, QLatin1Char(' ')));
    EXPECT_EQ(settings.SidBD.trimmed(), QStringLiteral("ORCL"));
    EXPECT_EQ(settings.NombreBD.text(), QString(75, QLatin1Char('b')));
    EXPECT_EQ(settings.ServidorBD.text().size(), 15);
    EXPECT_EQ(settings.FormLeft, 40);
    EXPECT_EQ(settings.FormHeight, 3);
    EXPECT_EQ(settings.Instalacion, 7);
    EXPECT_EQ(settings.ImpresoraTickets.text(), QStringLiteral("Ticket").leftJustified(50, QLatin1Char(' ')));
    EXPECT_EQ(settings.RutaFotos.trimmed(), QStringLiteral("/f"));
    EXPECT_EQ(settings.RutaASCII.text(), QString(75, QLatin1Char(' '))); // absent: empty, blank-filled
    EXPECT_EQ(settings.FicheroIni, path);
}

TEST_F(SettingsFile, FileInADeepFolderIsReadWhole)
{
    const QString deep = QStringLiteral("a-rather-long-folder-name/another-long-folder-name/and-one-more-level/Rivalto.ini");
    const QString path = write(QString::fromLatin1(CompleteIni).arg(QStringLiteral("x")), deep);
    ASSERT_GT(path.size(), 75);
    ASSERT_FALSE(LoadSettings(settings, path, dir.path()));
    EXPECT_EQ(settings.Instalacion, 7);
    EXPECT_EQ(settings.FicheroIni, path);
}

struct BadFile {
    const char* name;
    const char* text; // empty: no file at all
    const char* mentions;
};

class SettingsFailure : public SettingsFile, public ::testing::WithParamInterface<BadFile> {};

TEST_P(SettingsFailure, EndsNamingTheKeyAndTheFile)
{
    const BadFile& c = GetParam();
    const QString path = *c.text ? write(QString::fromUtf8(c.text))
                                 : QDir(dir.path()).filePath(QStringLiteral("missing.ini"));
    const auto error = LoadSettings(settings, path, dir.path());
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->message.contains(QString::fromUtf8(c.mentions))) << error->message.toStdString();
    EXPECT_TRUE(error->message.contains(path)) << error->message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsFailure, ::testing::Values(
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

// Files the program does not control, damaged: a clear message, never a
// crash, nothing recorded lost.
#include "DemoSite.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking::test;

namespace {

struct Damage {
    const char* name;
    std::function<void(const QString& databasePath)> damage;
};

class DamagedDatabase : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedDatabase, EndsStartUpWithTheMessageNotACrash)
{
    QTemporaryDir dir;
    parking::SettableClock clock;
    const parking::DemoSite site = parking::createDemoSite(dir.path(), clock);
    GetParam().damage(site.databasePath);
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"), site.configPath});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("> alert |No hay Conexión a la Base de Datos|"))) << r.out.toStdString();
}

void truncateTo(const QString& path, qint64 size)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(size));
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedDatabase, ::testing::Values(
    Damage{"TruncatedToItsHeader", [](const QString& p) { truncateTo(p, 100); }},
    Damage{"NotADatabase", [](const QString& p) { writeFile(p, QStringLiteral("these are not the pages you are looking for\n")); }},
    Damage{"HeaderScribbled", [](const QString& p) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(64, '\xA5'));
    }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DamagedFiles, ALogFolderThatCannotBeWrittenIsSaidOnceAndTheStationsRun)
{
    QTemporaryDir dir;
    parking::SettableClock clock;
    const parking::DemoSite site = parking::createDemoSite(dir.path(), clock);
    // A folder inside a plain file: no one, root included, can make it.
    writeFile(dir.filePath(QStringLiteral("plain")), QStringLiteral("x"));
    QFile ini(site.configPath);
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("\n[Registro]\nCarpeta=plain/log\n");
    ini.close();
    const QString script = dir.filePath(QStringLiteral("reads.txt"));
    writeFile(script, QStringLiteral("0.2 track 1 %B0010000000101?\n0.5 quit\n"));
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"), site.configPath,
                                     QStringLiteral("--script"), script});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("ERROR: no se puede escribir el fichero de registro en ")), 1)
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("> relay 1 0 6"))) << "the passage went on";
}

} // namespace

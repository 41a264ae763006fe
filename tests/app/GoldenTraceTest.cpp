// Whole runs of the demo, compared byte for byte with recorded output: the
// event log and the trace are what operators, tools and other tests read,
// so a change in the code's shape must leave them exactly as they were.
// PARKING_UPDATE_GOLDEN=1 rewrites the recordings (then read the diff).
#include "ProcessSupport.h"
#include "QtPrinters.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking::test;

namespace {

const QString GoldenFolder = QStringLiteral(PARKING_SOURCE_DIR "/tests/golden/");

QStringList demoArgs(const QString& name)
{
    return {QStringLiteral("--demo"), QStringLiteral("--headless"), QStringLiteral("--now"),
            QStringLiteral("2026-03-04 10:00:00"), QStringLiteral("--script"), GoldenFolder + name + QStringLiteral(".script")};
}

void compareWithRecording(const QString& name, const QString& out)
{
    const QString path = GoldenFolder + name + QStringLiteral(".trace");
    if (qEnvironmentVariableIsSet("PARKING_UPDATE_GOLDEN")) {
        writeFile(path, out);
        return;
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_EQ(out, QString::fromUtf8(file.readAll())) << name.toStdString();
}

class GoldenTrace : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenTrace, SameOutputAsRecorded)
{
    QTemporaryDir home;
    const QString name = QString::fromLatin1(GetParam());
    const StationRun r = runStation(demoArgs(name), 30000, home.path());
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
    compareWithRecording(name, r.out);
}

INSTANTIATE_TEST_SUITE_P(Demo, GoldenTrace, ::testing::Values("entrance", "exit", "full", "readers", "restore"),
                         [](const auto& info) { return std::string(info.param); });

TEST(GoldenTraceLocked, SameOutputAsRecorded)
{
    QTemporaryDir home;
    QProcess p;
    p.setProcessEnvironment(stationEnvironment(home.path()));
    p.start(QStringLiteral(PARKING_STATION_BINARY), demoArgs(QStringLiteral("locked")));
    QString seen;
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> plazas"))) << seen.toStdString();
    const QString database = QDir(home.path()).filePath(QStringLiteral(".local/share/parking-station/demo/demo.db"));
    parking::ManualClock clock;
    parking::SqliteConnection holder(clock, {});
    holder.open(QStringLiteral("Data Source=sqlite:") + database, {});
    holder.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    // Released once the entrance has been journalled too.
    const bool journalled = waitForLine(p, seen, QStringLiteral("DIARIO: pendiente plaza-ocupada"));
    holder.execute(QStringLiteral("ROLLBACK"));
    ASSERT_TRUE(journalled) << seen.toStdString();
    ASSERT_TRUE(p.waitForFinished(30000));
    seen += QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0);
    compareWithRecording(QStringLiteral("locked"), seen);
}

} // namespace

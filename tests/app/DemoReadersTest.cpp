// The demo's readers: the emulator program as a child of the demo, spoken
// to over OSDP, and what the simulator window learns from its output.
#include "DemoReaders.h"
#include "HttpSupport.h"
#include "ProcessSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace parking;
using namespace parking::test;

namespace {

// The process ids of a process's children.
QStringList childrenOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool stillRunning(const QString& pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    return f.open(QIODevice::ReadOnly) && !QString::fromLatin1(f.readAll()).section(QLatin1Char(')'), 1).trimmed().startsWith(QLatin1Char('Z'));
}

TEST(EmulatorOutput, KeepsEachReadersDisplayLightAndRelay)
{
    EmulatorOutput out;
    for (const char* line : {"display 1 |BIENVENIDO|PLAZA 12|", "led 1 2", "relay 1 0 30", "relay 1 0 5", "led 2 1",
                             "display 2 |TARJETA NO VALIDA|", "ok", "error: no hay lector 9", "relay 3 0 30",
                             "display 1", "led x 2", "beep 2", "display 2 no bars"})
        out.take(QString::fromLatin1(line));
    EXPECT_EQ(out.state(1).display, QStringList({QStringLiteral("BIENVENIDO"), QStringLiteral("PLAZA 12")}));
    EXPECT_EQ(out.state(1).led, 2);
    EXPECT_EQ(out.state(1).relays, 2);
    EXPECT_EQ(out.state(1).lastRelayTenths, 5);
    EXPECT_EQ(out.state(2).display, QStringList({QStringLiteral("TARJETA NO VALIDA")}));
    EXPECT_EQ(out.state(2).led, 1);
    EXPECT_EQ(out.state(2).relays, 0);
    // Any other address reads as a reader that showed nothing.
    EXPECT_TRUE(out.state(3).display.isEmpty());
    EXPECT_EQ(out.state(0).relays, 0);
}

TEST(DemoReaders, TheDemoSpeaksOsdpToTheEmulatorProgramAndEndsItWithItself)
{
    QTemporaryDir home;
    QProcess p;
    p.setProcessEnvironment(stationEnvironment(home.path()));
    p.start(QStringLiteral(PARKING_STATION_BINARY), {QStringLiteral("--demo"), QStringLiteral("--trace")});
    QString seen;
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> port 1 |osdp:/dev/pts/"))) << seen.toStdString();
    // Both readers keyed and online over the emulator's line.
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("KBIOMAXctl2: en línea"), 20000)) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("KBIOMAXctl1: en línea"))) << seen.toStdString();
    const QStringList children = childrenOf(p.processId());
    ASSERT_EQ(children.size(), 1);
    EXPECT_TRUE(stillRunning(children[0]));

    // The console beside it, on the port and with the key it printed.
    static const QRegularExpression console(
        QStringLiteral("Demo: consola remota en http://127.0.0.1:(\\d+)/ con la clave de operador (\\w+)"));
    const QRegularExpressionMatch printed = console.match(seen);
    ASSERT_TRUE(printed.hasMatch()) << seen.toStdString();
    const QByteArray body = R"({"station": 1})";
    const Reply opened = request(printed.captured(1).toUShort(),
                                 "POST /api/open HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Bearer " +
                                     printed.captured(2).toUtf8() + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(opened.status, 200) << opened.body.toStdString();
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("Apertura manual remota: entrada (desde 127.0.0.1)"))) << seen.toStdString();

    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_FALSE(stillRunning(children[0]));
}

TEST(DemoReaders, WithoutTheEmulatorProgramTheDemoDrivesItsReadersDirectly)
{
    // The program alone in a folder, and nothing on the PATH to find.
    QTemporaryDir home;
    const QString lonely = QDir(home.path()).filePath(QStringLiteral("parking-station"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PARKING_STATION_BINARY), lonely));
    QProcessEnvironment env = stationEnvironment(home.path());
    env.insert(QStringLiteral("PATH"), home.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(lonely, {QStringLiteral("--demo"), QStringLiteral("--trace")});
    QString seen;
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> plazas"))) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("> port 1 |sim:entrada|"))) << seen.toStdString();
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("Demo without emulated readers: ")));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
}

} // namespace

// The installer's reader check, as a person runs it, against an emulated
// reader behind a TCP converter on loopback.
#include "EmulatorHost.h"
#include "ProcessSupport.h"
#include "QtPrinters.h"
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace parking::osdp;
using namespace parking::test;

namespace {

struct CheckRun {
    int exitCode = -1;
    QString out;
};

// Runs the check while this thread keeps answering as the reader.
CheckRun runCheck(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PARKING_READER_CHECK_SECONDS"), QStringLiteral("2"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    p.start(QStringLiteral(PARKING_STATION_BINARY), args);
    QTimer::singleShot(40000, &loop, &QEventLoop::quit); // a hung check only
    loop.exec();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromUtf8(p.readAllStandardOutput())};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

TEST(ReaderCheck, InstallsAKeyPrintsTheReaderAndWhatItReadsAndPulses)
{
    QTemporaryDir dir;
    const QString config = QDir(dir.path()).filePath(QStringLiteral("Rivalto.ini"));
    writeFile(config, QStringLiteral("[Lectores]\nClaves=claves\n"));
    EmulatorHost host;
    ASSERT_TRUE(host.listenTcp());
    PeripheralEmulator& reader = host.add(0);
    QObject::connect(&host, &EmulatorHost::answered, [&](std::uint8_t, std::uint8_t code) {
        if (code == 0x60 && reader.commandsSeen(0x60) == 3)
            reader.presentCardNumber(123456);
    });
    const QString port = QStringLiteral("osdp:tcp:127.0.0.1:%1?sc=install").arg(host.tcpPort());
    const CheckRun r = runCheck({QStringLiteral("--reader-check"), port, QStringLiteral("--config"), config,
                                 QStringLiteral("--pulse")});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("en línea: fabricante 0C0B0A"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("tarjeta: |C0000000123456| -> código 1E240"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Pulso en la salida 0: estado 0"))) << r.out.toStdString();
    ASSERT_FALSE(reader.relays().empty());
    EXPECT_TRUE(QFile::exists(QDir(dir.path()).filePath(QStringLiteral("claves"))));
}

TEST(ReaderCheck, SaysWhyWhenTheReaderCannotBeHad)
{
    QTemporaryDir dir;
    const QString config = QDir(dir.path()).filePath(QStringLiteral("Rivalto.ini"));
    writeFile(config, QStringLiteral("[Lectores]\nClaves=claves\n"));
    const CheckRun bad = runCheck({QStringLiteral("--reader-check"), QStringLiteral("osdp:/dev/ttyUSB0?addr=300"),
                                   QStringLiteral("--config"), config});
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_TRUE(bad.out.contains(QStringLiteral("dirección no válida"))) << bad.out.toStdString();
    const CheckRun missing = runCheck({QStringLiteral("--reader-check"), QStringLiteral("osdp:/no/such/device"),
                                       QStringLiteral("--config"), config});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_TRUE(missing.out.contains(QStringLiteral("No se puede abrir la línea"))) << missing.out.toStdString();
}

} // namespace

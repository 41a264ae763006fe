// The installer's reader check, as a person runs it, against an emulated
// reader behind a TCP converter on loopback.
#include "EmulatorHost.h"
#include "ReaderKeyFile.h"
#include "ProcessSupport.h"
#include "QtPrinters.h"
#include "WaitFor.h"
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

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

struct CheckSite {
    QTemporaryDir dir;
    QString config = QDir(dir.path()).filePath(QStringLiteral("Rivalto.ini"));
    QString keys = QDir(dir.path()).filePath(QStringLiteral("claves"));
    CheckSite() { writeFile(config, QStringLiteral("[Lectores]\nClaves=claves\n")); }
};

TEST(ReaderCheck, RekeyGivesAReplacedReaderANewKeyOnPurposeAndPrintsItsState)
{
    CheckSite site;
    EmulatorHost host;
    ASSERT_TRUE(host.listenTcp());
    PeripheralEmulator& reader = host.add(3); // factory fresh: only the install key
    reader.setTamper(true);
    const QString device = QStringLiteral("tcp:127.0.0.1:%1").arg(host.tcpPort());
    const Block old{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(ReaderKeyFile::store(site.keys, device, 3, old).has_value());
    const QString port = QStringLiteral("osdp:%1?addr=3&sc=on").arg(device);

    // Without --rekey: refused, said, nothing changed.
    const CheckRun plain = runCheck({QStringLiteral("--reader-check"), port, QStringLiteral("--config"), site.config});
    EXPECT_EQ(plain.exitCode, 4) << plain.out.toStdString();
    EXPECT_TRUE(plain.out.contains(QStringLiteral("sólo responde a la clave de instalación"))) << plain.out.toStdString();
    EXPECT_FALSE(reader.key());

    const CheckRun rekeyed = runCheck({QStringLiteral("--reader-check"), port, QStringLiteral("--config"), site.config,
                                       QStringLiteral("--rekey")});
    EXPECT_EQ(rekeyed.exitCode, 0) << rekeyed.out.toStdString();
    EXPECT_TRUE(rekeyed.out.contains(QStringLiteral("clave nueva de canal seguro dada al lector y guardada")));
    EXPECT_TRUE(rekeyed.out.contains(QStringLiteral("estado: caja abierta o manipulada (tamper), alimentación correcta")))
        << rekeyed.out.toStdString();
    const auto keys = *ReaderKeyFile::load(site.keys);
    ASSERT_TRUE(reader.key());
    EXPECT_EQ(ReaderKeyFile::find(keys, device, 3), reader.key());
    EXPECT_NE(reader.key(), old);
}

TEST(ReaderCheck, SetAddressAndSpeedReachTheReaderAtTheNewSettingAndTheKeyFollows)
{
    CheckSite site;
    EmulatorHost host;
    ASSERT_TRUE(host.openPseudoTerminal());
    PeripheralEmulator& reader = host.add(1);
    const QString port = QStringLiteral("osdp:%1?addr=1&sc=install").arg(host.slavePath());
    const CheckRun moved = runCheck({QStringLiteral("--reader-check"), port, QStringLiteral("--config"), site.config,
                                     QStringLiteral("--set-address"), QStringLiteral("7"), QStringLiteral("--set-baud"),
                                     QStringLiteral("38400")});
    EXPECT_EQ(moved.exitCode, 0) << moved.out.toStdString();
    EXPECT_EQ(reader.address(), 7);
    EXPECT_EQ(reader.baud(), 38400);
    EXPECT_TRUE(moved.out.contains(QStringLiteral("El lector responde en la dirección 7 a 38400 baudios")))
        << moved.out.toStdString();
    const auto keys = *ReaderKeyFile::load(site.keys);
    EXPECT_EQ(ReaderKeyFile::find(keys, host.slavePath(), 7), reader.key());
    EXPECT_EQ(ReaderKeyFile::find(keys, host.slavePath(), 1), std::nullopt);

    const CheckRun badAddress = runCheck({QStringLiteral("--reader-check"), port, QStringLiteral("--config"), site.config,
                                          QStringLiteral("--set-address"), QStringLiteral("127")});
    EXPECT_EQ(badAddress.exitCode, 2);
    const CheckRun tcpBaud = runCheck({QStringLiteral("--reader-check"), QStringLiteral("osdp:tcp:127.0.0.1:9?addr=1"),
                                       QStringLiteral("--config"), site.config, QStringLiteral("--set-baud"),
                                       QStringLiteral("9600")});
    EXPECT_EQ(tcpBaud.exitCode, 2);
    EXPECT_TRUE(tcpBaud.out.contains(QStringLiteral("convertidor"))) << tcpBaud.out.toStdString();
}

TEST(ReaderCheck, CaptureWritesEveryPacketBothWaysAsOsdpcap)
{
    CheckSite site;
    EmulatorHost host;
    ASSERT_TRUE(host.listenTcp());
    host.add(0);
    const QString capture = QDir(site.dir.path()).filePath(QStringLiteral("lector.osdpcap"));
    const CheckRun r = runCheck({QStringLiteral("--reader-check"),
                                 QStringLiteral("osdp:tcp:127.0.0.1:%1?sc=install").arg(host.tcpPort()),
                                 QStringLiteral("--config"), site.config, QStringLiteral("--capture"), capture});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    QFile f(capture);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    int outputs = 0;
    int inputs = 0;
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 10);
    for (const QString& line : lines) {
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_EQ(o.value(QStringLiteral("osdpTraceVersion")).toString(), QStringLiteral("1"));
        EXPECT_FALSE(o.value(QStringLiteral("timeSec")).toString().isEmpty());
        EXPECT_EQ(o.value(QStringLiteral("timeNano")).toString().size(), 9);
        const QString io = o.value(QStringLiteral("io")).toString();
        const QString data = o.value(QStringLiteral("data")).toString();
        if (io == QStringLiteral("output")) {
            ++outputs;
            EXPECT_TRUE(data.startsWith(QStringLiteral(" ff 53"))) << data.toStdString();
        } else {
            ++inputs;
            EXPECT_EQ(io, QStringLiteral("input"));
        }
    }
    EXPECT_GT(outputs, 5);
    EXPECT_GT(inputs, 5);
}

TEST(ReaderEmulatorProgram, ServesTheCheckAndTakesItsOrdersOnStandardInput)
{
    CheckSite site;
    QProcess emulator;
    emulator.setProcessChannelMode(QProcess::MergedChannels);
    emulator.start(QStringLiteral(PARKING_EMULATOR_BINARY),
                   {QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--reader"), QStringLiteral("4,inputs=2")});
    ASSERT_TRUE(emulator.waitForStarted());
    QString out;
    WAIT_FOR((out += QString::fromUtf8(emulator.readAll())).contains(QStringLiteral("ready")), 10000);
    const QString where = out.section(QLatin1Char('\n'), 0, 0);
    ASSERT_TRUE(where.startsWith(QStringLiteral("tcp 127.0.0.1:"))) << out.toStdString();
    emulator.write("tamper 4 on\npower 4 lost\nnonsense\n");

    QProcess check;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PARKING_READER_CHECK_SECONDS"), QStringLiteral("3"));
    check.setProcessEnvironment(env);
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral(PARKING_STATION_BINARY),
                {QStringLiteral("--reader-check"), QStringLiteral("osdp:%1?addr=4&sc=install").arg(where.mid(4).prepend(QStringLiteral("tcp:"))),
                 QStringLiteral("--config"), site.config, QStringLiteral("--pulse")});
    QString said;
    WAIT_FOR((said += QString::fromUtf8(check.readAll())).contains(QStringLiteral("Pase tarjetas")), 15000);
    emulator.write("card 4 123456\n");
    emulator.waitForBytesWritten(5000);
    ASSERT_TRUE(check.waitForFinished(15000));
    said += QString::fromUtf8(check.readAll());
    EXPECT_EQ(check.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("tarjeta: |C0000000123456| -> código 1E240"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("caja abierta o manipulada (tamper), fallo de alimentación"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("entradas del lector: 0 0"))) << said.toStdString();
    emulator.write("file 4 take delay 5 max 40\nfile 4 sideways\nshow 4\nquit\n");
    ASSERT_TRUE(emulator.waitForFinished(10000));
    out += QString::fromUtf8(emulator.readAll());
    EXPECT_TRUE(out.contains(QStringLiteral("relay 4 0 6"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("error: no hay lector"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("secure yes key yes tamper on power lost file none firmware 1.0.7")))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("error: file ADDR take|abort|rejected|invalid, no sideways"))) << out.toStdString();
    EXPECT_EQ(emulator.exitCode(), 0);
}

// ---- --update-firmware ---------------------------------------------------------

// The command's run against one emulated reader at address 0 that takes
// files as `behaviour` says; `prepare` tells the reader more first.
CheckRun updateRun(const CheckSite& site, const PeripheralEmulator::FileBehaviour& behaviour, const QString& channel,
                   const QStringList& extra, const std::function<void(PeripheralEmulator&)>& check,
                   const std::function<void(PeripheralEmulator&)>& prepare = {})
{
    EmulatorHost host;
    if (!host.listenTcp())
        return {};
    PeripheralEmulator& reader = host.add(0);
    reader.setFileBehaviour(behaviour);
    if (prepare)
        prepare(reader);
    const CheckRun r = runCheck(QStringList{QStringLiteral("--reader-check"),
                                            QStringLiteral("osdp:tcp:127.0.0.1:%1?sc=%2").arg(host.tcpPort()).arg(channel),
                                            QStringLiteral("--config"), site.config} +
                                extra);
    check(reader);
    return r;
}

QString firmwareFile(const QTemporaryDir& dir, qsizetype size, QByteArray* bytes)
{
    QByteArray data(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    const QString path = QDir(dir.path()).filePath(QStringLiteral("firmware.bin"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(data);
    *bytes = data;
    return path;
}

TEST(FirmwareUpdate, TheFileArrivesWholeThroughDelaysShrinkingFragmentsLostAnswersAndFinishing)
{
    struct Case {
        const char* name;
        const char* channel; // the port text's sc=
        QStringList extra;
        int type;
    };
    const Case cases[] = {
        {"in the clear, the default file type", "off", {}, 1},
        {"under the Secure Channel, file type 7", "install", {QStringLiteral("--file-id"), QStringLiteral("7")}, 7},
    };
    for (const Case& c : cases) {
        CheckSite site;
        PeripheralEmulator::FileBehaviour b;
        b.delayMs = 3;
        b.fragmentMax = 50; // smaller than the receive size allows
        b.finishing = 2;
        QByteArray file;
        const QString path = firmwareFile(site.dir, 3000, &file);
        const CheckRun r = updateRun(
            site, b, QLatin1String(c.channel), QStringList{QStringLiteral("--update-firmware"), path} + c.extra,
            [&](PeripheralEmulator& reader) {
                EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(reader.receivedFile().data()),
                                     static_cast<qsizetype>(reader.receivedFile().size())),
                          file)
                    << c.name;
                EXPECT_EQ(reader.receivedFileType(), c.type) << c.name;
                // 3000 bytes in fragments of at most 50, the two finishing
                // answers asked with empty ones, and the repeats that
                // crossed a new channel.
                EXPECT_GE(reader.commandsSeen(0x7C), 3000 / 50 + 2) << c.name;
            },
            // Five answers lost: three repeats of one fragment, the channel
            // started over, and one more repeat after it.
            [](PeripheralEmulator& reader) { reader.loseReplies(5, 0x7C); });
        EXPECT_EQ(r.exitCode, 0) << c.name << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Firmware antes: 1.0.7"))) << c.name << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("100 % (3000 de 3000 bytes)"))) << c.name << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Fichero enviado y procesado por el lector"))) << c.name;
        EXPECT_TRUE(r.out.contains(QStringLiteral("Firmware: antes 1.0.7, después 1.0.8"))) << c.name << r.out.toStdString();
    }
}

TEST(FirmwareUpdate, ARefusalOrAnAbortEndsWithTheReadersReasonAndAFailingStatus)
{
    struct Case {
        const char* name;
        std::int16_t refuse;
        std::optional<std::uint32_t> abortAt;
        QString path; // empty: a good file
        int status;
        const char* said;
    } const cases[] = {
        {"contents not recognised", -2, std::nullopt, {}, 6, "no reconoce el contenido del fichero (rejected)"},
        {"aborted half-way", 0, 1500, {}, 6, "ha abortado la transferencia (abort)"},
        {"no such file", 0, std::nullopt, QStringLiteral("/nonexistent/firmware.bin"), 7, "No se puede leer el fichero"},
    };
    for (const Case& c : cases) {
        CheckSite site;
        PeripheralEmulator::FileBehaviour b;
        b.refuse = c.refuse;
        b.abortAt = c.abortAt;
        QByteArray file;
        const QString path = c.path.isEmpty() ? firmwareFile(site.dir, 3000, &file) : c.path;
        const CheckRun r = updateRun(site, b, QStringLiteral("off"), {QStringLiteral("--update-firmware"), path},
                                     [&](PeripheralEmulator& reader) {
                                         EXPECT_TRUE(reader.receivedFile().empty()) << c.name;
                                         EXPECT_EQ(reader.firmware(), 0x010007u) << c.name;
                                     });
        EXPECT_EQ(r.exitCode, c.status) << c.name << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.said))) << c.name << r.out.toStdString();
    }
}

} // namespace

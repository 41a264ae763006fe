// The stations driving emulated OSDP readers over a real pseudo-terminal
// and over TCP on loopback: the program's own bus thread, line and Secure
// Channel, on the embedded database. These wait for real I/O; they assert
// what happened, never how long it took.
#include "EmulatorHost.h"
#include "ReaderKeyFile.h"
#include "OsdpTransport.h"
#include "QtPrinters.h"
#include "WaitFor.h"
#include "StationFixture.h"

#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace parking;
using namespace parking::osdp;
using namespace parking::test;

namespace {

class OsdpStations : public StationFixture {
protected:
    void SetUp() override
    {
        // The readers' side does not depend on the database server.
        if (testBackend() != Backend::Embedded)
            GTEST_SKIP() << "runs on the embedded database only";
    }
    void seed(const QString& entranceOptions, const QString& exitOptions, bool tcp = false)
    {
        if (tcp)
            ASSERT_TRUE(host.listenTcp());
        else
            ASSERT_TRUE(host.openPseudoTerminal());
        host.add(1);
        host.add(2);
        device = tcp ? QStringLiteral("tcp:127.0.0.1:%1").arg(host.tcpPort()) : host.slavePath();
        seedPorts(QStringLiteral("osdp:%1?addr=1&%2").arg(device, entranceOptions),
                  QStringLiteral("osdp:%1?addr=2&%2").arg(device, exitOptions));
    }
    void seedPorts(const QString& entrance, const QString& exit)
    {
        db.exec(QStringLiteral("INSERT INTO Lector VALUES (3, 2, '%1', '%2', 'BIENVENIDO', "
                               "'TARJETA NO VALIDA', 'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')")
                    .arg(entrance, exit));
        db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA CUBIERTA', 20, 10)"));
        // A subscriber with card 123456 (code 1E240) who may come in.
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,1234,2,'1E240')"));
    }
    QString keyFile() const { return QDir(db.folder()).filePath(QStringLiteral("claves-lectores")); }
    bool traced(const QString& line) const { return traceLines.contains(line); }
    bool bothSecure() { return host.reader(1)->secure() && host.reader(2)->secure(); }
    QByteArray keyFileText() const
    {
        QFile f(keyFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    StationStatus stationStatus(int number) const { return controller->status().snapshot().station(roleOf(number)); }
    bool logged(const QString& part) const { return !traceLines.filter(part).isEmpty(); }

    EmulatorHost host;
    QString device;
};

TEST_F(OsdpStations, InstallGivesKeysThenAGrantedCardOpensAndGreets)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(host.reader(1)->secure() && host.reader(2)->secure(), 10000);
    WAIT_FOR(host.reader(1)->display().join(QString()).startsWith(QStringLiteral("PISCINA CUBIERTA")), 5000);

    // Both keys stored, the file private to the program.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(keyFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    QFile keys(keyFile());
    ASSERT_TRUE(keys.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(keys.readAll()).count(device), 2);

    host.reader(1)->presentCardNumber(123456);
    WAIT_FOR(!host.reader(1)->relays().empty(), 5000);
    EXPECT_EQ(host.reader(1)->relays()[0].output, 0);
    EXPECT_EQ(host.reader(1)->relays()[0].control, 5);
    EXPECT_EQ(host.reader(1)->relays()[0].tenths, 6);
    WAIT_FOR_EQ(host.reader(1)->display().value(0), QStringLiteral("BIENVENIDO          "), 5000);
    EXPECT_TRUE(traced(QStringLiteral("msId1: 1234 Instalacion:7")));
    EXPECT_TRUE(traced(QStringLiteral("CloseRelay: 0")));
    // No key in anything the station wrote.
    QFile again(keyFile());
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    for (const QString& line : QString::fromUtf8(again.readAll()).split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char(' '), 2, 2);
        if (key.size() == 32) {
            EXPECT_TRUE(traceLines.filter(key, Qt::CaseInsensitive).isEmpty());
        }
    }

    // A restart with sc=on finds the stored keys.
    controller.reset();
    db.exec(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = 'osdp:%1?addr=1&sc=on', PARKING_SALIDA = 'osdp:%1?addr=2&sc=on'")
                .arg(device));
    host.reader(1)->restart();
    controller = std::make_unique<StationController>(
        configuration(QDir(db.folder()).filePath(QStringLiteral("j")), false), workstationClock,
        [this](const QString&) -> std::shared_ptr<Connection> { return db.makeConnection(); }, timers);
    traceLines.clear();
    controller->setTraceSink([this](const QString& line) { traceLines << line; });
    ASSERT_EQ(controller->start(), StationController::StartUp::InService);
    host.reader(1)->presentCardNumber(999999); // nobody's card
    WAIT_FOR(logged(QStringLiteral("> display 1 |TARJETA NO VALIDA")), 10000);
    WAIT_FOR_EQ(host.reader(1)->display().value(0), QStringLiteral("TARJETA NO VALIDA   "), 5000);
    EXPECT_EQ(host.reader(1)->relays().size(), 1u); // only the earlier passage
}

TEST_F(OsdpStations, AnUnpluggedReaderTurnsRedAndGreenAgain)
{
    seed(QStringLiteral("sc=off"), QStringLiteral("sc=off"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    EXPECT_TRUE(logged(QStringLiteral("sc=off")));
    WAIT_FOR(controller->reader(2).objectName().size() > 0 && host.reader(2)->commandsSeen(command::Poll) > 0,
                             5000);
    host.reader(2)->setSilent(true);
    WAIT_FOR(traced(QStringLiteral("> light 2 red")), 12000);
    EXPECT_TRUE(controller->station(1).readerOnline());
    host.reader(2)->setSilent(false);
    WAIT_FOR(traced(QStringLiteral("> light 2 green")) && traceLines.lastIndexOf(QStringLiteral("> light 2 green")) >
                                 traceLines.lastIndexOf(QStringLiteral("> light 2 red")),
                             5000);
    EXPECT_EQ(traceLines.count(QStringLiteral("> light 2 red")), 1);
}

TEST_F(OsdpStations, AWrongKeyOrAKeyFileOthersCanReadKeepsReadersOffline)
{
    // The entrance's stored key is not the reader's; the exit has none.
    seed(QStringLiteral("sc=on"), QStringLiteral("sc=on"));
    ASSERT_TRUE(ReaderKeyFile::store(keyFile(), device, 1, Block{9, 9, 9}).has_value());
    host.reader(1)->setKey(Block{1, 2, 3});
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(logged(QStringLiteral("rechaza la clave")), 10000);
    EXPECT_TRUE(logged(QStringLiteral("KBIOMAXctl2: sin clave de canal seguro")));
    WAIT_FOR(traced(QStringLiteral("> light 1 red")), 12000);
    EXPECT_FALSE(host.reader(1)->secure());

    // The same with a file the group can read: not used at all.
    controller.reset();
    ::chmod(QFile::encodeName(keyFile()).constData(), 0640);
    traceLines.clear();
    controller = std::make_unique<StationController>(
        configuration(QDir(db.folder()).filePath(QStringLiteral("j")), false), workstationClock,
        [this](const QString&) -> std::shared_ptr<Connection> { return db.makeConnection(); }, timers);
    controller->setTraceSink([this](const QString& line) { traceLines << line; });
    ASSERT_EQ(controller->start(), StationController::StartUp::InService);
    EXPECT_TRUE(logged(QStringLiteral("lo pueden leer otros")));
}

TEST_F(OsdpStations, OverTcpWithLineNoiseThereIsNoFalseReadAndTheReaderStaysOnline)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"), true);
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(host.reader(1)->secure() && host.reader(2)->secure(), 10000);
    host.setCorruption(0.01, 20261208);
    const int before = host.reader(1)->commandsSeen(command::Poll);
    WAIT_FOR(host.reader(1)->commandsSeen(command::Poll) > before + 50, 15000);
    host.reader(2)->presentFormattedCard(QStringLiteral("%B0070000001234?"));
    WAIT_FOR(traced(QStringLiteral("> relay 2 0 6")), 10000);
    EXPECT_TRUE(traceLines.filter(QStringLiteral("> light")).filter(QStringLiteral("red")).isEmpty());
    EXPECT_EQ(traceLines.filter(QStringLiteral("msId")).size(), 1);
}

// ---- what a reader in the field, or an attacker on the wire, does ----------------------

TEST_F(OsdpStations, SomethingAnsweringEveryCommandWithAPlainNakTurnsTheLightRed)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(bothSecure(), 10000);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl2: en línea")), 5000);
    host.reader(2)->setForgeNak(true); // the reader unplugged, a forger in its place
    WAIT_FOR(traced(QStringLiteral("> light 2 red")), 10000);
    EXPECT_FALSE(stationStatus(2).readerOnline);
    EXPECT_TRUE(controller->station(1).readerOnline());
}

TEST_F(OsdpStations, AFactoryFreshReaderInAKeyedReadersPlaceIsReportedNotReKeyed)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=off"));
    const Block stored{4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
    ASSERT_TRUE(ReaderKeyFile::store(keyFile(), device, 1, stored).has_value());
    const QByteArray before = keyFileText();
    // host.reader(1) holds no key: it answers only the install key.
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl1: ALERTA: el lector sólo responde a la clave de instalación")),
                             10000);
    WAIT_FOR(stationStatus(1).installKeyOnly, 5000);
    host.reader(1)->presentCardNumber(123456);
    // Two more tries at the channel (a second apart) and still nothing opens.
    const int challenges = host.reader(1)->commandsSeen(command::Challenge);
    WAIT_FOR(host.reader(1)->commandsSeen(command::Challenge) >= challenges + 2, 6000);
    EXPECT_TRUE(host.reader(1)->relays().empty());
    EXPECT_FALSE(host.reader(1)->key());
    EXPECT_EQ(host.reader(1)->commandsSeen(command::KeySet), 0);
    EXPECT_EQ(keyFileText(), before);
    EXPECT_EQ(traceLines.filter(QStringLiteral("ALERTA: el lector sólo responde")).size(), 1);
}

TEST_F(OsdpStations, NewKeysAcknowledgedInTheClearOrWithTheirReplyLostAreTaken)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"));
    host.reader(1)->setPlainKeySetAck(true);
    host.reader(2)->loseReplies(1, command::KeySet);
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl1: en línea")) && logged(QStringLiteral("KBIOMAXctl2: en línea")), 10000);
    const auto keys = *ReaderKeyFile::load(keyFile());
    EXPECT_EQ(ReaderKeyFile::find(keys, device, 1), host.reader(1)->key());
    EXPECT_EQ(ReaderKeyFile::find(keys, device, 2), host.reader(2)->key());
    EXPECT_EQ(host.reader(2)->commandsSeen(command::KeySet), 1);
}

TEST_F(OsdpStations, AReaderThatRestartsGetsItsTextBackWithoutGoingRed)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    // Every row of the idle text in (each row is sent once, padded).
    WAIT_FOR(host.reader(1)->commandsSeen(command::Text) >= 2, 10000);
    const QStringList shown = host.reader(1)->display();
    ASSERT_TRUE(shown.value(0).startsWith(QStringLiteral("PISCINA CUBIERTA")));
    // The same text again costs nothing on the line: by the time the light
    // queued after it is in, no row went.
    const int texts = host.reader(1)->commandsSeen(command::Text);
    controller->station(1).showIdleText();
    // Opened by hand: green for 10 s, which the restart must not cut short.
    controller->station(1).openBarrierByHand();
    WAIT_FOR_EQ(host.reader(1)->leds().size(), std::size_t(1), 5000);
    EXPECT_EQ(host.reader(1)->commandsSeen(command::Text), texts);
    host.reader(1)->restart(); // a power blip: blank display, no channel, LED off
    EXPECT_NE(host.reader(1)->display(), shown);
    EXPECT_EQ(host.reader(1)->ledColour(), 0);
    WAIT_FOR_EQ(host.reader(1)->display(), shown, 5000);
    WAIT_FOR_EQ(host.reader(1)->leds().size(), std::size_t(2), 5000);
    EXPECT_EQ(host.reader(1)->leds().back().colour, std::uint8_t(LedColour::Green));
    EXPECT_LE(host.reader(1)->leds().back().tenths, 100);
    EXPECT_TRUE(logged(QStringLiteral("KBIOMAXctl1: el lector se ha reiniciado")));
    EXPECT_FALSE(traced(QStringLiteral("> light 1 red")));
}

TEST_F(OsdpStations, TamperAndPowerReachTheLogAndTheStatusPage)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=off"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(stationStatus(1).tamper.has_value(), 10000);
    EXPECT_EQ(stationStatus(1).tamper, false);
    EXPECT_EQ(stationStatus(1).powerOk, true);
    host.reader(1)->setTamper(true);
    WAIT_FOR(stationStatus(1).tamper == true, 5000);
    EXPECT_TRUE(logged(QStringLiteral("KBIOMAXctl1: ALERTA: lector abierto o manipulado")));
    host.reader(1)->setPowerLost(true);
    WAIT_FOR(stationStatus(1).powerOk == false, 5000);
    EXPECT_TRUE(logged(QStringLiteral("fallo de alimentación")));
    host.reader(2)->setInput(0, true);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl2: entradas del lector: 1")), 5000);
}

TEST_F(OsdpStations, ARefusedCardGetsARedLightAndABeepUnlessTurnedOff)
{
    seed(QStringLiteral("sc=off"), QStringLiteral("sc=off&led=off&buzzer=off"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl1: en línea")) && logged(QStringLiteral("KBIOMAXctl2: en línea")), 10000);
    host.reader(1)->presentCardNumber(999999); // nobody's card
    WAIT_FOR_EQ(host.reader(1)->beeps(), 1, 5000);
    WAIT_FOR(!host.reader(1)->leds().empty(), 5000);
    EXPECT_EQ(host.reader(1)->leds().back().colour, std::uint8_t(LedColour::Red));
    EXPECT_EQ(host.reader(1)->leds().back().tenths, OsdpTransport::RefusalTenths);
    EXPECT_TRUE(traced(QStringLiteral("> refusal 1")));
    EXPECT_TRUE(host.reader(1)->relays().empty());

    // A granted card keeps its green light; the exit, with both turned off, gets no light at all.
    host.reader(1)->presentCardNumber(123456);
    WAIT_FOR(!host.reader(1)->relays().empty(), 5000);
    WAIT_FOR_EQ(host.reader(1)->leds().back().colour, std::uint8_t(LedColour::Green), 5000);
    host.reader(2)->presentCardNumber(123456);
    WAIT_FOR(!host.reader(2)->relays().empty(), 5000);
    EXPECT_TRUE(host.reader(2)->leds().empty());
    EXPECT_EQ(host.reader(2)->beeps(), 0);
}

// 26 bits of H10301, first bit first, with both parity bits right.
Bytes wiegand26(int facility, int number)
{
    std::vector<int> bits(26, 0);
    for (int i = 0; i < 8; ++i)
        bits[1 + i] = (facility >> (7 - i)) & 1;
    for (int i = 0; i < 16; ++i)
        bits[9 + i] = (number >> (15 - i)) & 1;
    bits[0] = std::count(bits.begin() + 1, bits.begin() + 13, 1) % 2;
    bits[25] = 1 - std::count(bits.begin() + 13, bits.begin() + 25, 1) % 2;
    Bytes out(4, 0);
    for (int i = 0; i < 26; ++i)
        out[static_cast<std::size_t>(i / 8)] |= static_cast<std::uint8_t>(bits[static_cast<std::size_t>(i)] << (7 - i % 8));
    return out;
}

TEST_F(OsdpStations, WiegandReadsAreDecodedByTheirFormatAndMisreadsAreNeverLookedUp)
{
    seed(QStringLiteral("sc=off&fmt=wiegand26"), QStringLiteral("sc=off"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl1: en línea")), 10000);
    Bytes broken = wiegand26(1, 23456);
    broken[3] ^= 0x40; // the odd parity bit
    host.reader(1)->presentRawCard(26, broken);
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl1: lectura errónea: falla la paridad (fmt=wiegand26)")), 5000);
    EXPECT_TRUE(traceLines.filter(QStringLiteral("msId1")).isEmpty());
    // Facility 1, card 23456: 123456, the subscriber's card.
    host.reader(1)->presentRawCard(26, wiegand26(1, 23456));
    WAIT_FOR(!host.reader(1)->relays().empty(), 5000);
    EXPECT_TRUE(traced(QStringLiteral("msId1: 1234 Instalacion:7")));
}

TEST_F(OsdpStations, OneAddressTwiceOrTwoSpeedsOnOneDeviceAreRefusedAtStartUp)
{
    ASSERT_TRUE(host.openPseudoTerminal());
    host.add(1);
    device = host.slavePath();
    seedPorts(QStringLiteral("osdp:%1?addr=1&sc=off").arg(device), QStringLiteral("osdp:%1?addr=1&sc=off").arg(device));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    EXPECT_TRUE(logged(QStringLiteral("KBIOMAXctl2: puerto no válido")));
    EXPECT_TRUE(logged(QStringLiteral("ya es la del lector de KBIOMAXctl1")));
    EXPECT_TRUE(traced(QStringLiteral("OpenPort 2: 1")));

    controller.reset();
    db.exec(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = 'osdp:%1?addr=1&sc=off&baud=9600', "
                           "PARKING_SALIDA = 'osdp:%1?addr=2&sc=off&baud=38400'")
                .arg(device));
    traceLines.clear();
    restartController();
    ASSERT_EQ(controller->start(), StationController::StartUp::InService);
    EXPECT_TRUE(logged(QStringLiteral("una sola velocidad")));
    EXPECT_TRUE(traced(QStringLiteral("OpenPort 2: 1")));
}

TEST_F(OsdpStations, ALineThatCannotBeOpenedSaysWhyAndRs485OnAPseudoTerminalIsSaid)
{
    ASSERT_TRUE(host.openPseudoTerminal());
    host.add(2);
    seedPorts(QStringLiteral("osdp:/dev/parking-no-such-device?addr=1"),
              QStringLiteral("osdp:%1?addr=2&sc=off&rs485=on").arg(host.slavePath()));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    const qsizetype open = traceLines.indexOf(QStringLiteral("OpenPort 1: 2"));
    ASSERT_GE(open, 0);
    EXPECT_TRUE(traceLines.value(open + 1).startsWith(QStringLiteral("KBIOMAXctl1: no se puede abrir la línea: no existe")))
        << traceLines.value(open + 1).toStdString();
    EXPECT_TRUE(logged(QStringLiteral("KBIOMAXctl2: rs485=on: el dispositivo no admite el modo RS-485")));
    WAIT_FOR(logged(QStringLiteral("KBIOMAXctl2: en línea")), 10000); // and works on without it
}

} // namespace

// At 115200 the idle gap after a reply is short enough to be slept on the
// line's thread itself rather than through its timer: both readers of the
// line keep being polled in turn, and a card still opens.
TEST_F(OsdpStations, AtHighSpeedBothReadersOfOneLineArePolledInTurnAndACardOpens)
{
    seed(QStringLiteral("sc=install&baud=115200"), QStringLiteral("sc=install&baud=115200"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    WAIT_FOR(bothSecure(), 10000);
    const int polls1 = host.reader(1)->commandsSeen(command::Poll);
    const int polls2 = host.reader(2)->commandsSeen(command::Poll);
    WAIT_FOR(host.reader(1)->commandsSeen(command::Poll) > polls1 + 20 &&
                 host.reader(2)->commandsSeen(command::Poll) > polls2 + 20, 5000);

    host.reader(1)->presentCardNumber(123456);
    WAIT_FOR(!host.reader(1)->relays().empty(), 5000);
    EXPECT_TRUE(traced(QStringLiteral("msId1: 1234 Instalacion:7")));
    EXPECT_TRUE(bothSecure());
    EXPECT_EQ(host.reader(2)->relays().size(), 0u);
}

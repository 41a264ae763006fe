// The stations driving emulated OSDP readers over a real pseudo-terminal
// and over TCP on loopback: the program's own bus thread, line and Secure
// Channel, on the embedded database. These wait for real I/O; they assert
// what happened, never how long it took.
#include "EmulatorHost.h"
#include "ReaderKeyFile.h"
#include "QtPrinters.h"
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
        db.exec(QStringLiteral("INSERT INTO Lector VALUES (3, 2, 'osdp:%1?addr=1&%2', 'osdp:%1?addr=2&%3', 'BIENVENIDO', "
                               "'TARJETA NO VALIDA', 'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')")
                    .arg(device, entranceOptions, exitOptions));
        db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA CUBIERTA', 20, 10)"));
        // A subscriber with card 123456 (code 1E240) who may come in.
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,1234,2,'1E240')"));
    }
    QString keyFile() const { return QDir(db.folder()).filePath(QStringLiteral("claves-lectores")); }
    bool traced(const QString& line) const { return traceLines.contains(line); }
    bool logged(const QString& part) const { return !traceLines.filter(part).isEmpty(); }

    EmulatorHost host;
    QString device;
};

TEST_F(OsdpStations, InstallGivesKeysThenAGrantedCardOpensAndGreets)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    QTRY_VERIFY_WITH_TIMEOUT(host.reader(1)->secure() && host.reader(2)->secure(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(host.reader(1)->display().join(QString()).startsWith(QStringLiteral("PISCINA CUBIERTA")), 5000);

    // Both keys stored, the file private to the program.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(keyFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    QFile keys(keyFile());
    ASSERT_TRUE(keys.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(keys.readAll()).count(device), 2);

    host.reader(1)->presentCardNumber(123456);
    QTRY_VERIFY_WITH_TIMEOUT(!host.reader(1)->relays().empty(), 5000);
    EXPECT_EQ(host.reader(1)->relays()[0].output, 0);
    EXPECT_EQ(host.reader(1)->relays()[0].control, 5);
    EXPECT_EQ(host.reader(1)->relays()[0].tenths, 6);
    QTRY_COMPARE_WITH_TIMEOUT(host.reader(1)->display().value(0), QStringLiteral("BIENVENIDO          "), 5000);
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
        settings, workstationClock, [this](const QString&) -> std::shared_ptr<Connection> { return db.makeConnection(); },
        StationController::Paths{configPath, db.folder(), {}, QDir(db.folder()).filePath(QStringLiteral("j")), keyFile()},
        timers);
    traceLines.clear();
    controller->setTraceSink([this](const QString& line) { traceLines << line; });
    ASSERT_EQ(controller->start(), StationController::StartUp::InService);
    host.reader(1)->presentCardNumber(999999); // nobody's card
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("> display 1 |TARJETA NO VALIDA")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(host.reader(1)->display().value(0), QStringLiteral("TARJETA NO VALIDA   "), 5000);
    EXPECT_EQ(host.reader(1)->relays().size(), 1u); // only the earlier passage
}

TEST_F(OsdpStations, AnUnpluggedReaderTurnsRedAndGreenAgain)
{
    seed(QStringLiteral("sc=off"), QStringLiteral("sc=off"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    EXPECT_TRUE(logged(QStringLiteral("sc=off")));
    QTRY_VERIFY_WITH_TIMEOUT(controller->reader(2).objectName().size() > 0 && host.reader(2)->commandsSeen(command::Poll) > 0,
                             5000);
    host.reader(2)->setSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(traced(QStringLiteral("> light 2 red")), 12000);
    EXPECT_TRUE(controller->station(1).greenVisible());
    host.reader(2)->setSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(traced(QStringLiteral("> light 2 green")) && traceLines.lastIndexOf(QStringLiteral("> light 2 green")) >
                                 traceLines.lastIndexOf(QStringLiteral("> light 2 red")),
                             5000);
    EXPECT_EQ(traceLines.count(QStringLiteral("> light 2 red")), 1);
}

TEST_F(OsdpStations, AWrongKeyOrAKeyFileOthersCanReadKeepsReadersOffline)
{
    // The entrance's stored key is not the reader's; the exit has none.
    seed(QStringLiteral("sc=on"), QStringLiteral("sc=on"));
    ASSERT_FALSE(ReaderKeyFile::store(keyFile(), device, 1, Block{9, 9, 9}).has_value());
    host.reader(1)->setKey(Block{1, 2, 3});
    ASSERT_EQ(start(), StationController::StartUp::InService);
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("rechaza la clave")), 10000);
    EXPECT_TRUE(logged(QStringLiteral("KBIOMAXctl2: sin clave de canal seguro")));
    QTRY_VERIFY_WITH_TIMEOUT(traced(QStringLiteral("> light 1 red")), 12000);
    EXPECT_FALSE(host.reader(1)->secure());

    // The same with a file the group can read: not used at all.
    controller.reset();
    ::chmod(QFile::encodeName(keyFile()).constData(), 0640);
    traceLines.clear();
    controller = std::make_unique<StationController>(
        settings, workstationClock, [this](const QString&) -> std::shared_ptr<Connection> { return db.makeConnection(); },
        StationController::Paths{configPath, db.folder(), {}, QDir(db.folder()).filePath(QStringLiteral("j")), keyFile()},
        timers);
    controller->setTraceSink([this](const QString& line) { traceLines << line; });
    ASSERT_EQ(controller->start(), StationController::StartUp::InService);
    EXPECT_TRUE(logged(QStringLiteral("lo pueden leer otros")));
}

TEST_F(OsdpStations, OverTcpWithLineNoiseThereIsNoFalseReadAndTheReaderStaysOnline)
{
    seed(QStringLiteral("sc=install"), QStringLiteral("sc=install"), true);
    ASSERT_EQ(start(), StationController::StartUp::InService);
    QTRY_VERIFY_WITH_TIMEOUT(host.reader(1)->secure() && host.reader(2)->secure(), 10000);
    host.setCorruption(0.01, 20261208);
    const int before = host.reader(1)->commandsSeen(command::Poll);
    QTRY_VERIFY_WITH_TIMEOUT(host.reader(1)->commandsSeen(command::Poll) > before + 50, 15000);
    host.reader(2)->presentFormattedCard(QStringLiteral("%B0070000001234?"));
    QTRY_VERIFY_WITH_TIMEOUT(traced(QStringLiteral("> relay 2 0 6")), 10000);
    EXPECT_TRUE(traceLines.filter(QStringLiteral("> light")).filter(QStringLiteral("red")).isEmpty());
    EXPECT_EQ(traceLines.filter(QStringLiteral("msId")).size(), 1);
}

} // namespace

#include "QtPrinters.h"
#include "StationFixture.h"

using namespace parking;
using namespace parking::test;

namespace {

const QString Idle = QStringLiteral("PISCINA CUBIERTA                        ");

TEST_F(StationFixture, StartUpBringsBothStationsIntoService)
{
    seedInstallation();
    ASSERT_EQ(start(), StationController::StartUp::InService);
    EXPECT_EQ(takeTrace(), (QStringList{
        QStringLiteral("> light 1 green"), QStringLiteral("> light 2 green"),
        QStringLiteral("KBIOMAXctl1.OpenPortRem(sim:in)"), QStringLiteral("> port 1 |sim:in|"), QStringLiteral("OpenPort 1: 0"),
        QStringLiteral("KBIOMAXctl2.OpenPortRem(sim:out)"), QStringLiteral("> port 2 |sim:out|"), QStringLiteral("OpenPort 2: 0"),
        QStringLiteral("> setup 1"), QStringLiteral("SetUpBiomax 1: 0"), QStringLiteral("> setup 2"), QStringLiteral("SetUpBiomax 2: 0"),
        QStringLiteral("> display 1 |") + Idle + QLatin1Char('|'), QStringLiteral("> display 2 |") + Idle + QLatin1Char('|'),
        QStringLiteral("> plazas 10")}));
    EXPECT_EQ(controller->installation().name(), Idle);
    EXPECT_EQ(controller->installation().freeSpaces(), 10);
    EXPECT_EQ(controller->grid().grid().nextRow(), 0);
    EXPECT_EQ(controller->grid().grid().rowCount(), 500);
    EXPECT_TRUE(controller->station(1).readerOnline());
    EXPECT_TRUE(controller->station(2).readerOnline());
    ASSERT_TRUE(controller->installation().messagesRead());
    EXPECT_TRUE(controller->monitor().probeTimerActive());
    EXPECT_FALSE(controller->station(1).restoreTimerActive()); // switched off at the end of start-up
    EXPECT_TRUE(controller->station(2).restoreTimerActive());  // left running from creation
}

struct NameCase {
    const char* name;
    const char* idle;
};

class InstallationName : public StationFixture, public ::testing::WithParamInterface<NameCase> {};

TEST_P(InstallationName, IdleTextIsFortyCharacters)
{
    seedInstallation(true, QStringLiteral("2"), true, QString::fromUtf8(GetParam().name));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    EXPECT_EQ(controller->installation().name(), QString::fromUtf8(GetParam().idle));
    EXPECT_TRUE(takeTrace().contains(QStringLiteral("> display 1 |%1|").arg(QString::fromUtf8(GetParam().idle))));
}

INSTANTIATE_TEST_SUITE_P(Lengths, InstallationName, ::testing::Values(
    NameCase{"A", "A                                       "},
    NameCase{"0123456789012345678901234567890123456789", "0123456789012345678901234567890123456789"},
    NameCase{"01234567890123456789012345678901234567890", "0123456789012345678901234567890123456789"},
    NameCase{"PISCINA D'OR", "PISCINA D'OR                            "}));

TEST_F(StationFixture, EmptyLectoresStartsTheStations)
{
    seedInstallation(true, QStringLiteral("NULL"));
    EXPECT_EQ(start(), StationController::StartUp::InService);
}

TEST_F(StationFixture, LectoresZeroStopsWithoutAMessage)
{
    seedInstallation(true, QStringLiteral("0"));
    EXPECT_EQ(start(), StationController::StartUp::NoStations);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> light 1 green"), QStringLiteral("> light 2 green")}));
    EXPECT_TRUE(controller->installation().messagesRead());          // the row was read
    EXPECT_TRUE(controller->station(1).restoreTimerActive());        // never switched off
    EXPECT_EQ(controller->installation().name(), QString(40, QChar(0))); // never set
}

struct MissingRow {
    const char* name;
    bool lector;
    bool installation;
};

class StartUpWithoutRow : public StationFixture, public ::testing::WithParamInterface<MissingRow> {};

TEST_P(StartUpWithoutRow, ClosesTheWindow)
{
    seedInstallation(GetParam().lector, QStringLiteral("2"), GetParam().installation);
    bool closed = false;
    QObject::connect(controller.get(), &StationController::closed, [&] { closed = true; });
    EXPECT_EQ(start(), StationController::StartUp::WindowClosed);
    EXPECT_TRUE(closed);
    const QStringList trace = takeTrace();
    EXPECT_EQ(trace.filter(QStringLiteral("> port")).size(), 0);
    EXPECT_EQ(trace.filter(QStringLiteral("> closeport")), (QStringList{QStringLiteral("> closeport 1"), QStringLiteral("> closeport 2")}));
    EXPECT_FALSE(controller->monitor().probeTimerActive());
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpWithoutRow, ::testing::Values(
    MissingRow{"NoLectorRow", false, true}, MissingRow{"NoInstallationRow", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationFixture, StartUpErrorIsLoggedAndTheStationsStayIdle)
{
    seedInstallation(true, QStringLiteral("2"), false);
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, NULL, 20, 10)")); // no name
    EXPECT_EQ(start(), StationController::StartUp::NoStations);
    const QStringList trace = takeTrace();
    EXPECT_FALSE(trace.filter(QStringLiteral("ERROR en el arranque")).isEmpty());
    EXPECT_TRUE(trace.filter(QStringLiteral("> port")).isEmpty());
}

TEST_F(StationFixture, ReadsAfterAFailedStartUpAreRefusedWithoutACrash)
{
    db.exec(QStringLiteral("ALTER TABLE Lector RENAME TO Lector_aparte"));
    EXPECT_EQ(start(), StationController::StartUp::NoStations);
    takeTrace();
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'X', 20, 10)"));
    db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,2)"));
    controller->reader(1).raiseTrackRead(QStringLiteral("ABC07XXXXX01234Z"));
    const QStringList trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay")).isEmpty());
    ASSERT_FALSE(trace.isEmpty());
    EXPECT_TRUE(trace.last().startsWith(QStringLiteral("ERROR en la lectura del lector 1")));
}

TEST_F(StationFixture, MissingConfigurationIsFatal)
{
    QFile::remove(configPath);
    restartController(); // the configuration is read once, as the program starts
    EXPECT_EQ(start(), StationController::StartUp::Fatal);
    const QStringList trace = takeTrace();
    ASSERT_FALSE(trace.isEmpty());
    EXPECT_TRUE(trace.last().startsWith(QStringLiteral("> alert |Configuración no válida")));
}

} // namespace

namespace {

TEST_F(StationFixture, ADamagedJournalLineIsReportedAndNeverReplayed)
{
    seedInstallation();
    db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1,2)"));
    // What a torn sector leaves: a NUL inside the subscriber field.
    writeFile(QDir(db.folder()).filePath(QStringLiteral("parking.journal")),
              QString::fromLatin1(QByteArray("\nW|2|0|1\0|7|2026-03-04 09:00:01\n", 33)));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    const QStringList damaged = takeTrace().filter(QStringLiteral("DIARIO: línea dañada, no se repite: 57 7c 32"));
    EXPECT_EQ(damaged.size(), 1);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking")).toInt(), 0);
}

} // namespace

#include "QtPrinters.h"
#include "StationFixture.h"

#include <QSignalSpy>

using namespace parking;
using namespace parking::test;
using namespace std::chrono_literals;

namespace {

class StationCommands : public StationFixture {
protected:
    void SetUp() override
    {
        seedInstallation();
        ASSERT_EQ(start(), StationController::StartUp::InService);
        takeTrace();
    }
    const QString idle = QStringLiteral("PISCINA CUBIERTA                        ");
};

TEST_F(StationCommands, PassageThenManualOpeningLogBothRelayResults)
{
    controller->station(1).openBarrier();
    controller->openBarrierByHand(1);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> relay 1 0 6"), QStringLiteral("CloseRelay: 0"),
                                        QStringLiteral("> relay 1 0 100"), QStringLiteral("CloseRelay: 0")}));
}

TEST_F(StationCommands, ManualOpeningTouchesNothingElse)
{
    const int rows = controller->grid().grid().nextRow();
    controller->openBarrierByHand(2);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> relay 2 0 100"), QStringLiteral("CloseRelay: 0")}));
    EXPECT_EQ(controller->grid().grid().nextRow(), rows);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking")).toInt(), 0);
}

TEST_F(StationCommands, MessageStaysOneIntervalThenTheIdleTextComesBack)
{
    controller->station(1).showMessage(QStringLiteral("BIENVENIDO").leftJustified(32));
    EXPECT_TRUE(controller->station(1).restoreTimerActive());
    EXPECT_TRUE(controller->station(1).messageActive());
    controller->station(1).restoreIdleText();
    EXPECT_FALSE(controller->station(1).restoreTimerActive());
    EXPECT_FALSE(controller->station(1).messageActive());
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> display 1 |BIENVENIDO                      |"),
                                        QStringLiteral("> display 1 |") + idle + QLatin1Char('|')}));
}

TEST_F(StationCommands, RestoreWithoutAMessageWritesTheIdleTextAndKeepsTheTimer)
{
    // Timer3 runs from start-up with no message shown.
    controller->station(2).restoreIdleText();
    EXPECT_TRUE(controller->station(2).restoreTimerActive());
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> display 2 |") + idle + QLatin1Char('|')});
    controller->station(2).showMessage(QStringLiteral("GRACIAS POR SU VISITA").leftJustified(32));
    controller->station(2).restoreIdleText();
    EXPECT_FALSE(controller->station(2).restoreTimerActive());
}

TEST_F(StationCommands, ExitRestoreTimerFromStartUpCanCutAMessageShort)
{
    // The exit's restore timer has run since start-up: a message shown
    // shortly before its first tick goes at that tick.
    timers.advance(2500ms);
    takeTrace();
    controller->station(2).showMessage(QStringLiteral("GRACIAS POR SU VISITA").leftJustified(32));
    timers.advance(499ms);
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> display 2 |GRACIAS POR SU VISITA           |")});
    timers.advance(1ms);
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> display 2 |") + idle + QLatin1Char('|')});
    EXPECT_FALSE(controller->station(2).restoreTimerActive());
}

TEST_F(StationCommands, EntranceMessageStaysTheFullDelay)
{
    timers.advance(1000ms);
    takeTrace();
    controller->station(1).showMessage(QStringLiteral("BIENVENIDO").leftJustified(32));
    timers.advance(Station::DisplayRestoreDelay - 1ms);
    EXPECT_EQ(takeTrace().filter(QStringLiteral("> display 1")).size(), 1);
    timers.advance(1ms);
    EXPECT_EQ(takeTrace().filter(QStringLiteral("> display 1")),
              QStringList{QStringLiteral("> display 1 |") + idle + QLatin1Char('|')});
    // Stopped until the next message: nothing more however long we wait.
    timers.advance(60s);
    EXPECT_TRUE(takeTrace().filter(QStringLiteral("> display 1")).isEmpty());
}

TEST_F(StationCommands, ShowReaderMessageOnAnyOtherStationUsesTheExit)
{
    controller->station(3).showMessage(QStringLiteral("X"));
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> display 2 |X|")});
    EXPECT_TRUE(controller->station(2).messageActive());
}

TEST_F(StationCommands, LightsFollowTheReaders)
{
    controller->reader(1).raiseReaderDown();
    controller->reader(1).raiseReaderDown();
    EXPECT_FALSE(controller->station(1).readerOnline());
    controller->reader(1).raiseHotReset();
    EXPECT_TRUE(controller->station(1).readerOnline());
    controller->reader(2).raiseHotReset(); // already green: still logs
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> light 1 red"), QStringLiteral("> light 1 red"),
                                        QStringLiteral("> light 1 green"), QStringLiteral("/AnsHotReset "),
                                        QStringLiteral("> light 2 green"), QStringLiteral("/AnsHotReset ")}));
}

TEST_F(StationCommands, GridWrapsAfterTwentyThreeRows)
{
    for (int i = 1; i <= 23; ++i)
        controller->grid().add(StationRole::Entrance, QStringLiteral("M"), i, false);
    EXPECT_EQ(controller->grid().grid().nextRow(), 23);
    EXPECT_EQ(controller->grid().grid().row(22).access.subscriber, 23);
    EXPECT_EQ(controller->grid().grid().rowCount(), 500);
    controller->grid().add(StationRole::Exit, QStringLiteral("RED  "), 24, true);
    EXPECT_EQ(controller->grid().grid().rowCount(), 23);
    EXPECT_EQ(controller->grid().grid().nextRow(), 1);
    EXPECT_EQ(controller->grid().grid().row(0).access.subscriber, 24);
    EXPECT_TRUE(controller->grid().grid().row(0).red);
    EXPECT_FALSE(controller->grid().grid().row(1).written);
    const QStringList trace = takeTrace();
    EXPECT_EQ(trace.at(22), QStringLiteral("> grid 22 1 23 |M| black"));
    EXPECT_EQ(trace.at(23), QStringLiteral("> grid 0 2 24 |RED  | red"));
}

TEST_F(StationCommands, ClosingClosesBothPorts)
{
    QSignalSpy closed(controller.get(), &StationController::closed);
    controller->close();
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> closeport 1"), QStringLiteral("> closeport 2")}));
    EXPECT_EQ(closed.count(), 1);
    controller->close(); // the close box after "Salir": nothing more
    EXPECT_TRUE(takeTrace().isEmpty());
}

TEST_F(StationCommands, ProbeTickOnAHealthyDatabaseShowsNothing)
{
    probe();
    EXPECT_TRUE(takeTrace().isEmpty());
}

struct HexCase {
    double number;
    const char* hex;
};

class LongHexCases : public ::testing::TestWithParam<HexCase> {};

TEST_P(LongHexCases, UpperCaseWithoutLeadingZeros)
{
    EXPECT_EQ(cardCodeText(GetParam().number), QString::fromUtf8(GetParam().hex));
}

INSTANTIATE_TEST_SUITE_P(Values, LongHexCases, ::testing::Values(
    HexCase{0, "0"}, HexCase{255, "FF"}, HexCase{4096, "1000"}, HexCase{15, "F"}, HexCase{16, "10"},
    HexCase{123456, "1E240"}, HexCase{9999999999999.0, "9184E729FFF"}, HexCase{4503599627370495.0, "FFFFFFFFFFFFF"}));

} // namespace

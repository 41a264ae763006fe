#include "QtPrinters.h"
#include "StationFixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace parking;
using namespace parking::test;

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
    station->OpenBarrier1();
    station->cmdAbrirPuerta1_Click();
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> relay 1 0 6"), QStringLiteral("CloseRelay: 0"),
                                        QStringLiteral("> relay 1 0 100"), QStringLiteral("CloseRelay: 0")}));
}

TEST_F(StationCommands, ManualOpeningTouchesNothingElse)
{
    const int rows = station->grid().FilaAccesos();
    station->cmdAbrirPuerta2_Click();
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> relay 2 0 100"), QStringLiteral("CloseRelay: 0")}));
    EXPECT_EQ(station->grid().FilaAccesos(), rows);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking")).toInt(), 0);
}

TEST_F(StationCommands, MessageStaysOneIntervalThenTheIdleTextComesBack)
{
    station->ShowReaderMessage(1, QStringLiteral("BIENVENIDO").leftJustified(32));
    EXPECT_TRUE(station->Timer2().isActive());
    EXPECT_EQ(station->MensajeActivo1, 1);
    station->Timer2_Timer();
    EXPECT_FALSE(station->Timer2().isActive());
    EXPECT_EQ(station->MensajeActivo1, 0);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> display 1 |BIENVENIDO                      |"),
                                        QStringLiteral("> display 1 |") + idle + QLatin1Char('|')}));
}

TEST_F(StationCommands, RestoreWithoutAMessageWritesTheIdleTextAndKeepsTheTimer)
{
    // Timer3 runs from start-up with no message shown.
    station->Timer3_Timer();
    EXPECT_TRUE(station->Timer3().isActive());
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> display 2 |") + idle + QLatin1Char('|')});
    station->ShowReaderMessage(2, QStringLiteral("GRACIAS POR SU VISITA").leftJustified(32));
    station->Timer3_Timer();
    EXPECT_FALSE(station->Timer3().isActive());
}

TEST_F(StationCommands, Timer3FromStartUpCanCutAMessageShort)
{
    // The real timers: a message at station 2 shortly before Timer3's first tick.
    QTest::qWait(2500);
    takeTrace();
    station->ShowReaderMessage(2, QStringLiteral("GRACIAS POR SU VISITA").leftJustified(32));
    QElapsedTimer shown;
    shown.start();
    QSignalSpy restored(&station->Timer3(), &QTimer::timeout);
    ASSERT_TRUE(restored.wait(3500));
    EXPECT_LT(shown.elapsed(), 2900);
    EXPECT_FALSE(station->Timer3().isActive());
}

TEST_F(StationCommands, ShowReaderMessageOnAnyOtherStationUsesTheExit)
{
    station->ShowReaderMessage(3, QStringLiteral("X"));
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> display 2 |X|")});
    EXPECT_EQ(station->MensajeActivo2, 1);
}

TEST_F(StationCommands, LightsFollowTheReaders)
{
    station->KBIOMAXctl1().raiseReaderDown();
    station->KBIOMAXctl1().raiseReaderDown();
    EXPECT_TRUE(station->redVisible(1));
    EXPECT_FALSE(station->greenVisible(1));
    station->KBIOMAXctl1().raiseHotReset();
    EXPECT_TRUE(station->greenVisible(1));
    EXPECT_TRUE(station->redVisible(1)); // still there, covered by the green one
    station->KBIOMAXctl2().raiseHotReset(); // already green: still logs
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> light 1 red"), QStringLiteral("> light 1 red"),
                                        QStringLiteral("> light 1 green"), QStringLiteral("/AnsHotReset "),
                                        QStringLiteral("> light 2 green"), QStringLiteral("/AnsHotReset ")}));
}

TEST_F(StationCommands, EventLogEmptiesOnlyPastFiveThousandCharacters)
{
    // Bring the log to exactly 5000 characters: the next line is appended.
    const int have = static_cast<int>(station->eventLogText().size());
    station->WriteTerminalWin(QString(5000 - have - 2, QLatin1Char('x')));
    ASSERT_EQ(station->eventLogText().size(), 5000);
    station->WriteTerminalWin(QStringLiteral("a"));
    EXPECT_EQ(station->eventLogText().size(), 5003);
    // Past 5000, the next line stands alone.
    station->WriteTerminalWin(QStringLiteral("b"));
    EXPECT_EQ(station->eventLogText(), QStringLiteral("b\r\n"));
}

TEST_F(StationCommands, LogAtExactly5001EmptiesOnTheNextLine)
{
    const int have = static_cast<int>(station->eventLogText().size());
    station->WriteTerminalWin(QString(5001 - have - 2, QLatin1Char('x')));
    ASSERT_EQ(station->eventLogText().size(), 5001);
    station->WriteTerminalWin(QStringLiteral("next"));
    EXPECT_EQ(station->eventLogText(), QStringLiteral("next\r\n"));
}

TEST_F(StationCommands, GridWrapsAfterTwentyThreeRows)
{
    for (int i = 1; i <= 23; ++i)
        station->AddAccessRow(1, QStringLiteral("M"), i);
    EXPECT_EQ(station->grid().FilaAccesos(), 23);
    EXPECT_EQ(station->grid().row(22).access.subscriber, 23);
    EXPECT_EQ(station->grid().rowCount(), 500);
    station->LastAccessResult = 3;
    station->AddAccessRow(2, QStringLiteral("RED  "), 24);
    EXPECT_EQ(station->grid().rowCount(), 23);
    EXPECT_EQ(station->grid().FilaAccesos(), 1);
    EXPECT_EQ(station->grid().row(0).access.subscriber, 24);
    EXPECT_TRUE(station->grid().row(0).red);
    EXPECT_FALSE(station->grid().row(1).written);
    const QStringList trace = takeTrace();
    EXPECT_EQ(trace.at(22), QStringLiteral("> grid 22 1 23 |M| black"));
    EXPECT_EQ(trace.at(23), QStringLiteral("> grid 0 2 24 |RED  | red"));
}

TEST_F(StationCommands, KeyFilterPassesDigitsAndBackspaceOnly)
{
    for (QChar c : QStringLiteral("0123456789"))
        EXPECT_TRUE(station->text2_KeyPress(c));
    EXPECT_TRUE(station->text2_KeyPress(QChar(8)));
    for (QChar c : QStringLiteral("-.,a "))
        EXPECT_FALSE(station->text2_KeyPress(c)) << QString(c).toStdString();
}

TEST_F(StationCommands, ClosingClosesTheEntrancePortOnly)
{
    QSignalSpy closed(station.get(), &StationController::closed);
    station->cmdCerrar_Click();
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> closeport 1")});
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(station->rsLector(), nullptr);
    station->Form_Unload(); // the close box after "Salir": nothing more
    EXPECT_TRUE(takeTrace().isEmpty());
}

TEST_F(StationCommands, ProbeTickOnAHealthyDatabaseShowsNothing)
{
    station->Timer1_Timer();
    EXPECT_TRUE(takeTrace().isEmpty());
}

struct HexCase {
    double number;
    const char* hex;
};

class LongHexCases : public ::testing::TestWithParam<HexCase> {};

TEST_P(LongHexCases, UpperCaseWithoutLeadingZeros)
{
    EXPECT_EQ(StationController::LongHex(GetParam().number), QString::fromUtf8(GetParam().hex));
}

INSTANTIATE_TEST_SUITE_P(Values, LongHexCases, ::testing::Values(
    HexCase{0, "0"}, HexCase{255, "FF"}, HexCase{4096, "1000"}, HexCase{15, "F"}, HexCase{16, "10"},
    HexCase{123456, "1E240"}, HexCase{9999999999999.0, "9184E729FFF"}, HexCase{4503599627370495.0, "FFFFFFFFFFFFF"}));

} // namespace

#include "QtPrinters.h"
#include "WaitFor.h"
#include "ReaderControl.h"
#include "ScriptPlayer.h"
#include "StationEvents.h"

#include <array>

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace parking;

namespace {

TEST(Script, ParsesEveryItemKeepingTextExactly)
{
    const auto parsed = parseScript(QStringLiteral(
        "# comment\n\n0.5 track 1 %B0070000001234?  \n1 card 2 ;0000000000255?\n2 down 1\n2 hotreset 2\n"
        "3 open 2\n4 spaces 15\n4 spaces \n5 clock 2026-03-04 17:40:00\n6 quit\n"));
    ASSERT_TRUE(parsed);
    const auto& items = *parsed;
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[0].atMs, 500);
    EXPECT_EQ(items[0].kind, ScriptItem::Kind::Track);
    EXPECT_EQ(items[0].text, QStringLiteral("%B0070000001234?  ")); // trailing blanks kept
    EXPECT_EQ(items[1].station, 2);
    EXPECT_EQ(items[5].text, QStringLiteral("15"));
    EXPECT_EQ(items[6].text, QString());
    EXPECT_EQ(items[7].instant, QDateTime(QDate(2026, 3, 4), QTime(17, 40)));
    EXPECT_EQ(items[8].kind, ScriptItem::Kind::Quit);
}

TEST(Script, TextMayBeginWithBlanks)
{
    const auto parsed = parseScript(QStringLiteral("0 track 1   12 34\n"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ((*parsed)[0].text, QStringLiteral("  12 34"));
}

TEST(Script, SameSecondKeepsTheWrittenOrder)
{
    const auto parsed = parseScript(QStringLiteral("2 open 2\n1 open 1\n2 quit\n"));
    const auto& items = *parsed;
    EXPECT_EQ(items[0].station, 1);
    EXPECT_EQ(items[1].kind, ScriptItem::Kind::Open);
    EXPECT_EQ(items[2].kind, ScriptItem::Kind::Quit);
}

struct Malformed {
    const char* text;
    const char* line;
};

class MalformedScript : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedScript, ReportsTheLine)
{
    const auto parsed = parseScript(QString::fromUtf8(GetParam().text));
    ASSERT_FALSE(parsed);
    EXPECT_TRUE(parsed.error().message.startsWith(QString::fromUtf8(GetParam().line))) << parsed.error().message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedScript, ::testing::Values(
    Malformed{"x open 1\n", "line 1:"},
    Malformed{"1 open 1\n-1 open 1\n", "line 2:"},
    Malformed{"1 fly 1\n", "line 1:"},
    Malformed{"1 open 3\n", "line 1:"},
    Malformed{"1 open\n", "line 1:"},
    Malformed{"1 open 1 now\n", "line 1:"},
    Malformed{"1 track 1\n", "line 1:"},
    Malformed{"# ok\n1 spaces 1a\n", "line 2:"},
    Malformed{"1 quit now\n", "line 1:"},
    Malformed{"1 clock tomorrow\n", "line 1:"},
    Malformed{"1\n", "line 1:"}));

class RecordingActions : public OperatorActions {
public:
    void openBarrier(int station) override { done << QStringLiteral("open %1").arg(station); }
    void updateSpaces(const QString& digits) override { done << QStringLiteral("spaces |%1|").arg(digits); }
    void quit() override { done << QStringLiteral("quit"); }
    QStringList done;
};

TEST(Script, PlaysItemsAtTheirTimeThroughReadersAndActions)
{
    ReaderControl r1(QStringLiteral("KBIOMAXctl1"));
    ReaderControl r2(QStringLiteral("KBIOMAXctl2"));
    RecordingActions actions;
    QDateTime clockSet;
    QStringList seen;
    QObject::connect(&r1, &ReaderControl::trackRead, [&](const QString& t) { seen << t; });
    QObject::connect(&r2, &ReaderControl::cardNumberRead, [&](const QString& c) { seen << c; });
    QObject::connect(&r1, &ReaderControl::readerDown, [&] { seen << QStringLiteral("down"); });
    auto items = *(parseScript(QStringLiteral(
        "0 track 1 T1\n0.05 card 2 C2\n0.1 down 1\n0.1 clock 2026-01-01 00:00:00\n0.15 open 2\n0.2 spaces 7\n0.25 quit\n")));
    ScriptPlayer player(std::move(items), [&](int s) -> ReaderControl& { return *std::array{&r1, &r2}[stationIndex(s)]; }, actions, [&](const QDateTime& t) { clockSet = t; });
    player.start();
    EXPECT_EQ(seen, QStringList{QStringLiteral("T1")}); // the items at 0 run at once
    WAIT_FOR(player.finished(), 3000);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("T1"), QStringLiteral("C2"), QStringLiteral("down")}));
    EXPECT_EQ(actions.done, (QStringList{QStringLiteral("open 2"), QStringLiteral("spaces |7|"), QStringLiteral("quit")}));
    EXPECT_EQ(clockSet, QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
}

} // namespace

namespace {

QStringList warnings;
void keepWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        warnings << text;
}

TEST(Script, TheLargestTimeIsWaitedForWithoutATimerWarning)
{
    ReaderControl r1(QStringLiteral("KBIOMAXctl1"));
    ReaderControl r2(QStringLiteral("KBIOMAXctl2"));
    struct NoActions final : OperatorActions {
        void openBarrier(int) override {}
        void updateSpaces(const QString&) override {}
        void quit() override {}
    } actions;
    auto items = *parseScript(QStringLiteral("10000000 quit\n"));
    ScriptPlayer player(std::move(items), [&](int s) -> ReaderControl& { return *std::array{&r1, &r2}[stationIndex(s)]; },
                        actions, [](const QDateTime&) {});
    warnings.clear();
    const auto previous = qInstallMessageHandler(keepWarnings);
    player.start();
    QCoreApplication::processEvents();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(player.finished());
}

} // namespace

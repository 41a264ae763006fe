// The status board's bookkeeping and its two renderings.
#include "StatusBoard.h"
#include "StatusText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace parking;

namespace {

QDateTime at(const char* text)
{
    return parseIsoInstant(QString::fromLatin1(text));
}

QJsonObject json(const StatusBoard& board)
{
    return QJsonDocument::fromJson(statusJson(board.snapshot(), board.clock().now())).object();
}

TEST(StatusBoard, OutagesAddUpIncludingTheOneGoingOn)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, QStringLiteral("1.0"));
    board.setDatabaseConnected(true);
    clock.advance(60);
    board.setDatabaseConnected(false);
    clock.advance(30);
    board.setDatabaseConnected(false); // still out: the outage keeps its start
    clock.advance(10);
    board.setDatabaseConnected(true);
    EXPECT_DOUBLE_EQ(board.snapshot().outageSeconds(clock.now()), 40);
    clock.advance(100);
    board.setDatabaseConnected(false);
    clock.advance(5);
    const QJsonObject db = json(board)[QStringLiteral("database")].toObject();
    EXPECT_FALSE(db[QStringLiteral("connected")].toBool());
    EXPECT_EQ(db[QStringLiteral("outageSince")].toString(), QStringLiteral("2026-12-08T10:03:20"));
    EXPECT_DOUBLE_EQ(db[QStringLiteral("outageSeconds")].toDouble(), 45);
}

TEST(StatusBoard, OfflineTransitionsCountOnlyChanges)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, {});
    board.setReaderOnline(StationRole::Exit, true); // the first state is not a transition
    board.setReaderOnline(StationRole::Exit, false);
    board.setReaderOnline(StationRole::Exit, false);
    clock.advance(7);
    board.setReaderOnline(StationRole::Exit, true);
    board.setReaderOnline(StationRole::Exit, false);
    const StatusSnapshot s = board.snapshot();
    EXPECT_EQ(s.stations[1].offlineTransitions, 2u);
    EXPECT_EQ(s.stations[0].offlineTransitions, 0u);
    EXPECT_EQ(s.stations[1].readerSince, at("2026-12-08 10:00:07"));
    EXPECT_FALSE(s.stations[1].readerOnline);
}

TEST(StatusBoard, GridKeepsTheNewestRowsFirst)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, {});
    for (int i = 1; i <= 30; ++i)
        board.addGridRow({QTime(10, 0, i), StationRole::Entrance, i, QStringLiteral("R%1").arg(i), i % 2 == 0});
    const QJsonArray grid = json(board)[QStringLiteral("grid")].toArray();
    ASSERT_EQ(grid.size(), static_cast<qsizetype>(StatusBoard::GridRows));
    EXPECT_EQ(grid.first().toObject()[QStringLiteral("subscriber")].toInt(), 30);
    EXPECT_EQ(grid.first().toObject()[QStringLiteral("colour")].toString(), QStringLiteral("red"));
    EXPECT_EQ(grid.last().toObject()[QStringLiteral("subscriber")].toInt(), 8);
    EXPECT_EQ(grid.last().toObject()[QStringLiteral("time")].toString(), QStringLiteral("10:00:08"));
}

TEST(StatusBoard, CountsUnknownUntilReadAreNull)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, {});
    QJsonObject s = json(board);
    EXPECT_TRUE(s[QStringLiteral("freeSpaces")].isNull());
    EXPECT_TRUE(s[QStringLiteral("capacity")].isNull());
    EXPECT_FALSE(statusMetrics(board.snapshot(), clock.now()).contains("parking_free_spaces"));
    board.setInstallation(QStringLiteral("PISCINA   "), 20);
    board.setFreeSpaces(0);
    s = json(board);
    EXPECT_EQ(s[QStringLiteral("installation")].toString(), QStringLiteral("PISCINA"));
    EXPECT_EQ(s[QStringLiteral("freeSpaces")].toInt(-1), 0);
    EXPECT_TRUE(statusMetrics(board.snapshot(), clock.now()).contains("\nparking_free_spaces 0\n"));
}

TEST(StatusMetrics, HistogramBucketsAreCumulative)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, {});
    for (double seconds : {0.0002, 0.003, 0.003, 0.2, 7.0})
        board.decisionTook(seconds);
    const QByteArray text = statusMetrics(board.snapshot(), clock.now());
    struct Bucket {
        const char* le;
        int count;
    };
    for (const Bucket b : {Bucket{"0.0005", 1}, Bucket{"0.0025", 1}, Bucket{"0.005", 3}, Bucket{"0.25", 4},
                           Bucket{"1", 4}, Bucket{"+Inf", 5}}) {
        const QByteArray line = "parking_rights_decision_seconds_bucket{le=\"" + QByteArray(b.le) + "\"} " +
                                QByteArray::number(b.count) + "\n";
        EXPECT_TRUE(text.contains(line)) << line.toStdString();
    }
    EXPECT_TRUE(text.contains("parking_rights_decision_seconds_count 5\n"));
}

TEST(StatusMetrics, EveryOutcomeHasASeriesFromTheStartAndLabelsAreEscaped)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, QStringLiteral("1.0 \"x\"\\\n"));
    board.countPassage(StationRole::Entrance, Outcome::ReceiptsUnpaid);
    board.countPassage(StationRole::Exit, Outcome::Granted);
    const QByteArray text = statusMetrics(board.snapshot(), clock.now());
    EXPECT_TRUE(text.contains("parking_passages_total{station=\"1\",outcome=\"receipts_unpaid\"} 1\n"));
    EXPECT_TRUE(text.contains("parking_passages_total{station=\"1\",outcome=\"full\"} 0\n"));
    EXPECT_TRUE(text.contains("parking_passages_total{station=\"1\",outcome=\"entry_too_soon\"} 0\n"));
    EXPECT_TRUE(text.contains("parking_passages_total{station=\"2\",outcome=\"granted\"} 1\n"));
    EXPECT_FALSE(text.contains("station=\"2\",outcome=\"full\""));
    EXPECT_TRUE(text.contains("parking_build_info{version=\"1.0 \\\"x\\\"\\\\\\n\"} 1\n")) << text.toStdString();
    // The name restarts are counted by, in seconds since the epoch.
    const QByteArray started = "\nprocess_start_time_seconds " + QByteArray::number(clock.now().toSecsSinceEpoch()) + '\n';
    EXPECT_TRUE(text.contains(started));
}

TEST(StatusMetrics, AReadersStateShowsOnlyOnceSaidAndEveryDeadlineKindFromZero)
{
    ManualClock clock(at("2026-12-08 10:00:00"));
    StatusBoard board(clock, QStringLiteral("1.0"));
    QByteArray text = statusMetrics(board.snapshot(), clock.now());
    EXPECT_FALSE(text.contains("parking_reader_tamper{")) << "unknown until the reader says";
    for (const char* call : {"decision", "card", "passage", "replay", "spaces", "startup", "probe", "connect"})
        EXPECT_TRUE(text.contains(QByteArray(QByteArray("parking_database_deadline_exceeded_total{call=\"") + call + "\"} 0\n")))
            << call;
    board.setReaderCondition(StationRole::Entrance, true, false, false);
    board.deadlineExceeded(DatabaseCall::PassageWrite);
    text = statusMetrics(board.snapshot(), clock.now());
    EXPECT_TRUE(text.contains("parking_reader_tamper{station=\"1\"} 1\n"));
    EXPECT_TRUE(text.contains("parking_reader_power_ok{station=\"1\"} 0\n"));
    EXPECT_FALSE(text.contains("parking_reader_tamper{station=\"2\"}"));
    EXPECT_TRUE(text.contains("parking_database_deadline_exceeded_total{call=\"passage\"} 1\n"));
    EXPECT_EQ(json(board)[QStringLiteral("database")].toObject()[QStringLiteral("deadlinesExceeded")].toObject()[QStringLiteral("passage")].toInt(), 1);
}

} // namespace

namespace {

TEST(StatusMetrics, TheReplicaShowsOnlyWhenOnAndOfflineDecisionsCountPerOutage)
{
    ManualClock clock(QDateTime(QDate(2026, 3, 4), QTime(10, 0)));
    StatusBoard board(clock, {});
    EXPECT_FALSE(statusMetrics(board.snapshot(), clock.now()).contains("parking_offline_decisions_total"));
    board.setReplica({true, clock.now(), 1.5, clock.now().addSecs(-600), 24 * 3600});
    board.setDatabaseConnected(false);
    board.countOfflineDecision(true);
    board.countOfflineDecision(false);
    board.countOfflineDecision(true);
    clock.advance(90);
    const QByteArray text = statusMetrics(board.snapshot(), clock.now());
    EXPECT_TRUE(text.contains("\nparking_replica_age_seconds 90\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nparking_replica_refresh_seconds 1.5\n"));
    // What the alert on EdadMaxima= compares.
    EXPECT_TRUE(text.contains("\nparking_replica_complete_age_seconds 690\n"));
    EXPECT_TRUE(text.contains("\nparking_replica_max_age_seconds 86400\n"));
    EXPECT_TRUE(text.contains("\nparking_offline_decisions_total{result=\"granted\"} 2\n"));
    EXPECT_TRUE(text.contains("\nparking_offline_decisions_total{result=\"refused\"} 1\n"));
    const QJsonObject replica =
        QJsonDocument::fromJson(statusJson(board.snapshot(), clock.now())).object().value(QStringLiteral("replica")).toObject();
    EXPECT_EQ(replica.value(QStringLiteral("ageSeconds")).toInt(), 90);
    EXPECT_EQ(replica.value(QStringLiteral("offlineDecisionsThisOutage")).toInt(), 3);
    // A new outage counts from zero; the totals go on.
    board.setDatabaseConnected(true);
    board.setDatabaseConnected(false);
    EXPECT_EQ(board.snapshot().offlineDecisionsThisOutage, 0u);
    EXPECT_EQ(board.snapshot().offlineDecisions.at(true), 2u);
}

} // namespace

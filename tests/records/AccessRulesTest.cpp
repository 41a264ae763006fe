// The rights decision over facts read from the real database (embedded, or
// PostgreSQL when the tests are pointed at one), with both clocks set.
#include "QtPrinters.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "OracleDialect.h"
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "ReferenceRules.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

#include <ctime>
#include <random>

using namespace parking;
using namespace parking::test;

namespace {

// 2026-03-04 is a Wednesday.
QDateTime at(const char* text)
{
    return parseIsoInstant(QString::fromLatin1(text));
}

// Rows for subscriber 1234 of installation 7.
QString subscriber(const char* cursillista, const char* related = "NULL")
{
    return QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,FormaPago,CodigoRelacion) VALUES (7,1234,%1,1,%2)")
        .arg(QLatin1String(cursillista), QLatin1String(related));
}
QString feeRow(const char* from, const char* to, const char* code)
{
    return QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (7,1234,%1,%2,%3)").arg(QLatin1String(from), QLatin1String(to), QLatin1String(code));
}
// Windows: Monday-Thursday, Saturday, Sunday, Friday (columns 1, 2, 3, 4).
QString fee(const char* code, const char* start, const char* end, const char* allowance = "NULL",
            const char* friStart = "'08:00:00'", const char* friEnd = "'14:00:00'")
{
    return QStringLiteral("INSERT INTO Cuotas (CodInstalacion,CodCuota,HoraInicio1,HoraFin1,HoraInicio2,HoraFin2,HoraInicio3,HoraFin3,"
                          "HoraInicio4,HoraFin4,NUMACCESOS_MTO) VALUES (7,%1,%2,%3,%2,%3,%2,%3,%5,%6,%4)")
        .arg(QLatin1String(code), QLatin1String(start), QLatin1String(end), QLatin1String(allowance),
             QLatin1String(friStart), QLatin1String(friEnd));
}
QString block(const char* date, const char* lifted)
{
    return QStringLiteral("INSERT INTO BLOQUEOS VALUES (7,1234,1,%1,%2,NULL)").arg(QLatin1String(date), QLatin1String(lifted));
}
QString receipt(int number, int code, const char* date, int returnCode)
{
    return QStringLiteral("INSERT INTO Recibos VALUES (%1,7,%2,10.0,%3,%4)").arg(number).arg(code).arg(QLatin1String(date)).arg(returnCode);
}
// An entry in the facility's history: installation of the movement, of the subscriber.
QString entry(const char* when, int movementInstallation = 7, int subscriberInstallation = 7)
{
    const QString stamp = QLatin1String(when);
    const QString day = QLatin1Char('\'') + stamp.mid(1, 10) + QStringLiteral(" 00:00:00'");
    return QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (%1,1234,%2,%3,%4)")
        .arg(movementInstallation).arg(subscriberInstallation).arg(day, stamp);
}
// Course 5 with class hours for every day from `start` to `end`; Wednesday (3) may differ.
QString course(int code, const char* start, const char* end, const char* from = "'2026-01-01 00:00:00'",
               const char* to = "'2026-06-30 00:00:00'")
{
    QStringList starts, ends;
    for (int d = 1; d <= 7; ++d) {
        starts << QLatin1String(start);
        ends << QLatin1String(end);
    }
    return QStringLiteral("INSERT INTO CURSOS (CodInstalacion,CodCurso,FecInicio,FecFin,FormaPago,HoraInicio1,HoraInicio2,HoraInicio3,"
                          "HoraInicio4,HoraInicio5,HoraInicio6,HoraInicio7,HoraFin1,HoraFin2,HoraFin3,HoraFin4,HoraFin5,HoraFin6,HoraFin7) "
                          "VALUES (7,%1,%2,%3,1,%4,%5)")
        .arg(code).arg(QLatin1String(from), QLatin1String(to), starts.join(QLatin1Char(',')), ends.join(QLatin1Char(',')));
}
QString enrol(const char* code)
{
    return QStringLiteral("INSERT INTO MovtosCursos VALUES (7,1234,%1,1)").arg(QLatin1String(code));
}

const QString FeeHolder = subscriber("0");
const QString CourseHolder = subscriber("1");
const QString CurrentFee10 = feeRow("'2026-01-01 00:00:00'", "NULL", "10");
const QString Fee10NineToTwo = fee("10", "'09:00:00'", "'14:00:00'");

struct Situation {
    const char* name;
    QStringList rows;
    const char* now;
    AccessResult expected;
};

class RightsDecision : public ::testing::TestWithParam<Situation> {};

TEST_P(RightsDecision, GivesTheExpectedCode)
{
    const Situation& s = GetParam();
    TempDatabase db(at(s.now));
    for (const QString& sql : s.rows)
        db.exec(sql);
    RecordingConnection recording(db.connection());
    EXPECT_EQ(decide(records::loadAccessFacts(recording, 1234, 7, 7), at(s.now)), s.expected);
    // One round trip, whatever the path.
    EXPECT_EQ(recording.calls.size(), 1u) << recording.statements().join(QLatin1Char('\n')).toStdString();
    // The statements it replaced agree.
    ManualClock workstation(at(s.now));
    EXPECT_EQ(ReferenceRules(*db.connection(), workstation).check(1234, 7), s.expected);
}

INSTANTIATE_TEST_SUITE_P(Precedence, RightsDecision, ::testing::Values(
    Situation{"NoSubscriberRow", {}, "2026-03-04 10:00:00", AccessResult::SubscriberUnknown},
    Situation{"SubscriberOfAnotherInstallation", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (8,1234,0)")}, "2026-03-04 10:00:00", AccessResult::SubscriberUnknown},
    Situation{"NeitherKind", {subscriber("2")}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"NullKind", {subscriber("NULL")}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"BlockBeatsReceipts", {FeeHolder, block("'2026-03-01 00:00:00'", "NULL"), receipt(1, 1234, "'2026-02-01 00:00:00'", 0)}, "2026-03-04 10:00:00", AccessResult::SubscriberBlocked},
    Situation{"BlockInTheFuture", {subscriber("2"), block("'2026-03-04 10:00:01'", "NULL")}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"BlockFromThisSecond", {subscriber("2"), block("'2026-03-04 10:00:00'", "NULL")}, "2026-03-04 10:00:00", AccessResult::SubscriberBlocked},
    Situation{"BlockLifted", {subscriber("2"), block("'2026-03-01 00:00:00'", "'2026-03-02 00:00:00'")}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"SpacingBeatsReceipts", {FeeHolder, entry("'2026-03-04 09:57:00'"), receipt(1, 1234, "'2026-02-01 00:00:00'", 0)}, "2026-03-04 10:00:00", AccessResult::EntryTooSoon},
    Situation{"UnpaidReceipt", {FeeHolder, CurrentFee10, receipt(1, 1234, "'2026-03-04 00:00:00'", 89)}, "2026-03-04 10:00:00", AccessResult::ReceiptsUnpaid},
    Situation{"ReceiptReturnedCode90", {subscriber("2"), receipt(1, 1234, "'2026-03-01 00:00:00'", 90)}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"ReceiptDatedTomorrow", {subscriber("2"), receipt(1, 1234, "'2026-03-05 00:00:00'", 0)}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"ReceiptOfTheRelatedCode", {subscriber("2", "555"), receipt(1, 555, "'2026-03-01 00:00:00'", 0)}, "2026-03-04 10:00:00", AccessResult::ReceiptsUnpaid},
    Situation{"NullRelatedCodeCountsOwnReceipts", {subscriber("2", "NULL"), receipt(1, 1234, "'2026-03-01 00:00:00'", 0)}, "2026-03-04 10:00:00", AccessResult::ReceiptsUnpaid},
    Situation{"NullRelatedCodeOtherReceiptsIgnored", {subscriber("2", "NULL"), receipt(1, 555, "'2026-03-01 00:00:00'", 0)}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"ReceiptOfAnotherInstallation", {subscriber("2"), QStringLiteral("INSERT INTO Recibos VALUES (1,8,1234,1,'2026-03-01 00:00:00',0)")}, "2026-03-04 10:00:00", AccessResult::Granted}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(FeePath, RightsDecision, ::testing::Values(
    Situation{"NoCurrentFee", {FeeHolder}, "2026-03-04 10:00:00", AccessResult::FeeNotCurrent},
    Situation{"FeeEndedYesterday", {FeeHolder, feeRow("'2026-01-01 00:00:00'", "'2026-03-03 00:00:00'", "10"), Fee10NineToTwo}, "2026-03-04 10:00:00", AccessResult::FeeNotCurrent},
    Situation{"FeeEndsToday", {FeeHolder, feeRow("'2026-01-01 00:00:00'", "'2026-03-04 00:00:00'", "10"), Fee10NineToTwo}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"FeeStartsToday", {FeeHolder, feeRow("'2026-03-04 00:00:00'", "NULL", "10"), Fee10NineToTwo}, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"FeeStartsTomorrow", {FeeHolder, feeRow("'2026-03-05 00:00:00'", "NULL", "10"), Fee10NineToTwo}, "2026-03-04 10:00:00", AccessResult::FeeNotCurrent},
    Situation{"TenMinutesEarlyIsInside", {FeeHolder, CurrentFee10, Fee10NineToTwo}, "2026-03-02 08:50:00", AccessResult::Granted},
    Situation{"ElevenMinutesEarlyIsOutside", {FeeHolder, CurrentFee10, Fee10NineToTwo}, "2026-03-02 08:49:59", AccessResult::OutsideFeeHours},
    Situation{"AtTheEndIsInside", {FeeHolder, CurrentFee10, Fee10NineToTwo}, "2026-03-04 14:00:00", AccessResult::Granted},
    Situation{"OneSecondAfterTheEnd", {FeeHolder, CurrentFee10, Fee10NineToTwo}, "2026-03-04 14:00:01", AccessResult::OutsideFeeHours},
    Situation{"FridayUsesItsOwnColumns", {FeeHolder, CurrentFee10, fee("10", "'09:00:00'", "'14:00:00'", "NULL", "'16:00:00'", "'20:00:00'")}, "2026-03-06 10:00:00", AccessResult::OutsideFeeHours},
    Situation{"FridayInsideItsWindow", {FeeHolder, CurrentFee10, fee("10", "'09:00:00'", "'14:00:00'", "NULL", "'16:00:00'", "'20:00:00'")}, "2026-03-06 17:00:00", AccessResult::Granted},
    Situation{"SaturdayOutsideGivesTwo", {FeeHolder, CurrentFee10, Fee10NineToTwo}, "2026-03-07 15:00:00", AccessResult::OutsideTimetable},
    Situation{"SundayOutsideGivesTwo", {FeeHolder, CurrentFee10, Fee10NineToTwo}, "2026-03-08 08:00:00", AccessResult::OutsideTimetable},
    Situation{"FeeWithoutDefinition", {FeeHolder, CurrentFee10}, "2026-03-04 03:00:00", AccessResult::Granted},
    Situation{"NullFeeCodeHasNoTimetable", {FeeHolder, feeRow("'2026-01-01 00:00:00'", "NULL", "NULL")}, "2026-03-04 03:00:00", AccessResult::Granted},
    Situation{"NullStartNoLowerLimit", {FeeHolder, CurrentFee10, fee("10", "NULL", "'14:00:00'")}, "2026-03-04 00:00:00", AccessResult::Granted},
    Situation{"NullEndNoUpperLimit", {FeeHolder, CurrentFee10, fee("10", "'09:00:00'", "NULL")}, "2026-03-04 23:59:59", AccessResult::Granted},
    Situation{"WindowAcrossMidnightIsAlwaysOutside", {FeeHolder, CurrentFee10, fee("10", "'22:00:00'", "'02:00:00'")}, "2026-03-04 23:00:00", AccessResult::OutsideFeeHours},
    Situation{"EarlyStartDoesNotWrapBeforeMidnight", {FeeHolder, CurrentFee10, fee("10", "'00:05:00'", "'08:00:00'")}, "2026-03-04 00:00:00", AccessResult::Granted},
    Situation{"DateTimeBoundsCountByTheirTime", {FeeHolder, CurrentFee10, fee("10", "'1899-12-30 09:00:00'", "'1899-12-30 14:00:00'")}, "2026-03-04 14:00:01", AccessResult::OutsideFeeHours},
    Situation{"FirstOfTwoCurrentFeesDecides", {FeeHolder, CurrentFee10, feeRow("'2026-01-01 00:00:00'", "NULL", "11"), Fee10NineToTwo, fee("11", "'00:00:00'", "'23:59:59'")}, "2026-03-04 20:00:00", AccessResult::OutsideFeeHours}),
    [](const auto& info) { return std::string(info.param.name); });

QStringList entriesThisMonth(int count, const char* day = "2026-03-01")
{
    QStringList rows;
    for (int i = 0; i < count; ++i)
        rows << entry(QStringLiteral("'%1 08:%2:00'").arg(QLatin1String(day)).arg(i, 2, 10, QLatin1Char('0')).toLatin1().constData());
    return rows;
}

QStringList with(QStringList base, const QStringList& more)
{
    base << more;
    return base;
}

const QStringList Allowance8 = {FeeHolder, feeRow("'2026-01-01 00:00:00'", "NULL", "34"), fee("34", "'09:00:00'", "'14:00:00'", "8")};

INSTANTIATE_TEST_SUITE_P(MonthlyAllowance, RightsDecision, ::testing::Values(
    Situation{"SevenOfEightLeftOne", with(Allowance8, entriesThisMonth(7)), "2026-03-04 20:00:00", AccessResult::Granted},
    Situation{"EightOfEightWeekday", with(Allowance8, entriesThisMonth(8)), "2026-03-04 20:00:00", AccessResult::OutsideFeeHours},
    Situation{"EightOfEightWeekend", with(Allowance8, entriesThisMonth(8)), "2026-03-07 20:00:00", AccessResult::OutsideTimetable},
    Situation{"LastMonthDoesNotCount", with(Allowance8, entriesThisMonth(8, "2026-02-28")), "2026-03-04 20:00:00", AccessResult::Granted},
    Situation{"InsideTheWindowNoCount", Allowance8, "2026-03-04 10:00:00", AccessResult::Granted},
    Situation{"NullAllowanceIsNone", {FeeHolder, feeRow("'2026-01-01 00:00:00'", "NULL", "35"), fee("35", "'09:00:00'", "'14:00:00'", "NULL")}, "2026-03-04 20:00:00", AccessResult::OutsideFeeHours},
    Situation{"AllowanceZero", {FeeHolder, feeRow("'2026-01-01 00:00:00'", "NULL", "33"), fee("33", "'09:00:00'", "'14:00:00'", "0")}, "2026-03-04 20:00:00", AccessResult::OutsideFeeHours},
    Situation{"OtherCodesHaveNoAllowance", {FeeHolder, feeRow("'2026-01-01 00:00:00'", "NULL", "36"), fee("36", "'09:00:00'", "'14:00:00'", "8")}, "2026-03-04 20:00:00", AccessResult::OutsideFeeHours}),
    [](const auto& info) { return std::string(info.param.name); });

const QStringList WednesdayClassAt18 = {CourseHolder, enrol("5"), course(5, "'18:00:00'", "'19:00:00'")};

INSTANTIATE_TEST_SUITE_P(CoursePath, RightsDecision, ::testing::Values(
    Situation{"NoEnrolment", {CourseHolder}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"CourseHolderWithoutFeeIsNotRefusedForIt", WednesdayClassAt18, "2026-03-04 18:00:00", AccessResult::Granted},
    Situation{"TwentyMinutesEarly", WednesdayClassAt18, "2026-03-04 17:40:00", AccessResult::Granted},
    Situation{"FiveMinutesLate", WednesdayClassAt18, "2026-03-04 18:05:00", AccessResult::Granted},
    Situation{"TooEarly", WednesdayClassAt18, "2026-03-04 17:39:59", AccessResult::OutsideTimetable},
    Situation{"TooLate", WednesdayClassAt18, "2026-03-04 18:05:01", AccessResult::OutsideTimetable},
    Situation{"LaterEntryUntilTwentyAfterTheEnd", with(WednesdayClassAt18, {entry("'2026-03-04 07:00:00'")}), "2026-03-04 19:20:00", AccessResult::Granted},
    Situation{"LaterEntryOneSecondTooLate", with(WednesdayClassAt18, {entry("'2026-03-04 07:00:00'")}), "2026-03-04 19:20:01", AccessResult::OutsideTimetable},
    Situation{"LaterEntryHasNoLowerLimit", with(WednesdayClassAt18, {entry("'2026-03-04 07:00:00'")}), "2026-03-04 08:00:00", AccessResult::Granted},
    Situation{"EntryOfAnotherInstallationIsNotToday", with(WednesdayClassAt18, {entry("'2026-03-04 07:00:00'", 8, 7)}), "2026-03-04 08:00:00", AccessResult::OutsideTimetable},
    Situation{"NoClassToday", {CourseHolder, enrol("5"), course(5, "NULL", "NULL")}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"NoEndTodayForALaterEntry", {CourseHolder, enrol("5"), course(5, "'18:00:00'", "NULL"), entry("'2026-03-04 07:00:00'")}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"FirstEnrolmentDecidesEvenWithoutClass", {CourseHolder, enrol("5"), enrol("6"), course(5, "NULL", "NULL"), course(6, "'18:00:00'", "'19:00:00'")}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"EnrolmentWithoutCourseRowIsNotCurrent", {CourseHolder, enrol("9")}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"CourseEndedIsNotCurrent", {CourseHolder, enrol("5"), course(5, "'18:00:00'", "'19:00:00'", "'2026-01-01 00:00:00'", "'2026-03-04 00:00:00'")}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"CourseStartingToday", {CourseHolder, enrol("5"), course(5, "'18:00:00'", "'19:00:00'", "'2026-03-04 00:00:00'")}, "2026-03-04 18:00:00", AccessResult::Granted},
    Situation{"NullCourseCodeIsSkipped", {CourseHolder, enrol("NULL"), course(5, "'18:00:00'", "'19:00:00'")}, "2026-03-04 18:00:00", AccessResult::OutsideTimetable},
    Situation{"SundayUsesIndexSeven", {CourseHolder, enrol("5"), course(5, "'18:00:00'", "'19:00:00'"),
                                      QStringLiteral("UPDATE CURSOS SET HoraInicio7 = '10:00:00'")}, "2026-03-08 10:00:00", AccessResult::Granted},
    Situation{"EarlyClassDoesNotWrap", {CourseHolder, enrol("5"), course(5, "'00:10:00'", "'01:00:00'")}, "2026-03-04 00:00:00", AccessResult::Granted},
    Situation{"LateClassEndsAtMidnight", {CourseHolder, enrol("5"), course(5, "'22:00:00'", "'23:50:00'"), entry("'2026-03-04 22:00:00'")}, "2026-03-04 23:59:59", AccessResult::Granted}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the entry-history queries on their own ---------------------------------

// The counts are read for a subscriber who can need them: one enrolled on
// a course and holding a fee with a monthly allowance.
class EntryHistory : public ::testing::Test {
protected:
    void SetUp() override { add({enrol("5"), feeRow("'2026-01-01 00:00:00'", "NULL", "34")}); }
    void add(const QStringList& rows)
    {
        for (const QString& sql : rows)
            db.exec(sql);
    }
    AccessFacts facts(std::int32_t installation = 7) { return records::loadAccessFacts(*db.connection(), 1234, installation, 7); }
    bool tooRecent(std::int32_t installation = 7) { return entryTooRecent(facts(installation).lastEntry, now); }
    int today() { return toInt16(facts().entriesToday); }
    bool allowanceLeft(int allowance) { return toDouble(facts().entriesThisMonth) < allowance; }

    TempDatabase db{at("2026-03-04 10:00:00")};
    QDateTime now = at("2026-03-04 10:00:00");
};

TEST(EntryCounts, AreNotReadForSomeoneWhoCannotNeedThem)
{
    TempDatabase db(at("2026-03-04 10:00:00"));
    db.exec(FeeHolder);
    db.exec(CurrentFee10);
    db.exec(entry("'2026-03-04 08:00:00'"));
    const AccessFacts facts = records::loadAccessFacts(*db.connection(), 1234, 7, 7);
    EXPECT_TRUE(facts.entriesToday.isNull());
    EXPECT_TRUE(facts.entriesThisMonth.isNull());
    EXPECT_FALSE(facts.lastEntry.isNull()); // the spacing rule needs it from everyone
}

TEST_F(EntryHistory, NoEntriesAtAll)
{
    EXPECT_EQ(tooRecent(), false);
    EXPECT_EQ(today(), 0);
    EXPECT_TRUE(allowanceLeft(1));
    EXPECT_FALSE(allowanceLeft(0));
}

TEST_F(EntryHistory, SpacingAtTheFiveMinuteMark)
{
    add({entry("'2026-03-04 10:00:00'")});
    now = (at("2026-03-04 10:04:59"));
    EXPECT_EQ(tooRecent(), true);
    now = (at("2026-03-04 10:05:00"));
    EXPECT_EQ(tooRecent(), false);
}

TEST_F(EntryHistory, SpacingLooksAtTheSameDayOnly)
{
    add({entry("'2026-03-03 23:58:00'")});
    now = (at("2026-03-04 00:01:00"));
    EXPECT_EQ(tooRecent(), false);
}

TEST_F(EntryHistory, SpacingFiltersOnTheSubscribersInstallation)
{
    add({entry("'2026-03-04 09:59:00'", 7, 8)});
    EXPECT_EQ(tooRecent(), false);
    EXPECT_EQ(tooRecent(8), true);
}

TEST_F(EntryHistory, EntryAheadOfTheWorkstationClock)
{
    add({entry("'2026-03-04 10:03:00'")});
    EXPECT_EQ(tooRecent(), true); // three minutes apart, whichever way
    add({entry("'2026-03-04 13:00:00'")});
    EXPECT_EQ(tooRecent(), false); // hours apart: not a recent entry
}

TEST_F(EntryHistory, CountAndMonthFilterOnTheMovementsInstallation)
{
    add({entry("'2026-03-04 08:00:00'", 7, 9), entry("'2026-03-04 09:00:00'", 8, 7), entry("'2026-03-01 09:00:00'", 7, 7)});
    EXPECT_EQ(today(), 1);
    EXPECT_FALSE(allowanceLeft(2));
    EXPECT_TRUE(allowanceLeft(3));
}

TEST_F(EntryHistory, TodayIsTheServersDay)
{
    add({entry("'2026-03-04 08:00:00'")});
    db.serverClock().set(at("2026-03-05 00:00:01"));
    EXPECT_EQ(today(), 0);
}

// ---- exact statements -------------------------------------------------------

TEST(RightsStatements, OneStatementWithEveryValueBound)
{
    TempDatabase db(at("2026-03-04 18:00:00"));
    for (const QString& sql : {CourseHolder, QStringLiteral("UPDATE ABONADOS SET CodigoRelacion = 77"), enrol("5"), course(5, "'18:00:00'", "'19:00:00'")})
        db.exec(sql);
    RecordingConnection recording(db.connection());
    EXPECT_EQ(decide(records::loadAccessFacts(recording, 1234, 7, 3), at("2026-03-04 18:00:00")), AccessResult::Granted);
    ASSERT_EQ(recording.calls.size(), 1u);
    const QString sent = recording.calls[0].sql;
    // The subscriber, the installations and nothing else, all as values.
    EXPECT_EQ(sent.count(QStringLiteral("= 1234")), 12) << sent.toStdString();
    EXPECT_EQ(sent.count(QStringLiteral("= 7")), 13) << sent.toStdString();
    EXPECT_TRUE(sent.endsWith(QStringLiteral("FROM INSTALACIONES WHERE CodInstalacion = 3"))) << sent.toStdString();
    EXPECT_FALSE(records::accessFactsStatement().contains(QStringLiteral("1234")));
}

TEST(RightsStatements, DatabaseErrorReachesTheCaller)
{
    TempDatabase db(at("2026-03-04 10:00:00"));
    db.exec(subscriber("0"));
    db.exec(QStringLiteral("DROP TABLE Recibos"));
    EXPECT_THROW(records::loadAccessFacts(*db.connection(), 1234, 7, 7), DatabaseError);
}

TEST(RightsStatements, GarbageTimeIsAnErrorNotAMissingBound)
{
    TempDatabase db(at("2026-03-04 10:00:00"));
    if (db.backend() == Backend::PostgreSQL)
        GTEST_SKIP() << "a time column of the server cannot hold anything but a time";
    for (const QString& sql : {FeeHolder, CurrentFee10, fee("10", "'nine'", "'14:00:00'")})
        db.exec(sql);
    const AccessFacts facts = records::loadAccessFacts(*db.connection(), 1234, 7, 7);
    EXPECT_THROW(decide(facts, at("2026-03-04 03:00:00")), DatabaseError);
}

TEST(ShiftedTime, StaysWithinTheDay)
{
    EXPECT_EQ(shiftedTime(QTime(9, 0), -600), QTime(8, 50));
    EXPECT_EQ(shiftedTime(QTime(0, 5), -600), QTime(0, 0));
    EXPECT_EQ(shiftedTime(QTime(23, 50), 1200), QTime(23, 59, 59));
    EXPECT_EQ(shiftedTime(QTime(23, 39, 59), 1200), QTime(23, 59, 59));
    EXPECT_EQ(shiftedTime(QTime(23, 39, 58), 1200), QTime(23, 59, 58));
}

} // namespace

namespace {

// Stored dates are wall-clock text: in a zone with daylight saving, the
// spring gap's 02:30 and the autumn's repeated 02:30 are readings like any
// other, on both backends.
class InMadrid : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = qgetenv("TZ");
        qputenv("TZ", "Europe/Madrid");
        ::tzset();
    }
    void TearDown() override
    {
        if (previous_.isEmpty())
            qunsetenv("TZ");
        else
            qputenv("TZ", previous_);
        ::tzset();
    }

private:
    QByteArray previous_;
};

struct DaylightCase {
    const char* name;
    const char* entry; // the last entry, stored
    const char* now;
    std::int16_t tooRecent;
};

class DaylightSaving : public InMadrid, public ::testing::WithParamInterface<DaylightCase> {};

TEST_P(DaylightSaving, EntriesAtUnusualHoursAreReadAsWritten)
{
    const DaylightCase& c = GetParam();
    TempDatabase db(at(c.now));
    db.exec(subscriber("2"));
    db.exec(enrol("5"));
    db.exec(entry(c.entry));
    const AccessFacts facts = records::loadAccessFacts(*db.connection(), 1234, 7, 7);
    EXPECT_EQ(entryTooRecent(facts.lastEntry, at(c.now)), c.tooRecent == 1);
    EXPECT_EQ(toInt16(facts.entriesToday), 1);
    EXPECT_TRUE(parseDateText(QString::fromLatin1(c.entry).mid(1, 19)).isValid());
    // The database's own reading of the stored text agrees.
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT TO_CHAR(HORAENTRADA,'DD/MM/YYYY') FROM MOVIMIENTOS")).toString(),
              QString::fromLatin1(c.now).mid(8, 2) + QLatin1Char('/') + QString::fromLatin1(c.now).mid(5, 2) +
                  QLatin1Char('/') + QString::fromLatin1(c.now).left(4));
}

INSTANTIATE_TEST_SUITE_P(Madrid, DaylightSaving, ::testing::Values(
    DaylightCase{"SpringGap", "'2024-03-31 02:30:00'", "2024-03-31 02:32:00", 1},
    DaylightCase{"SpringGapLongAgo", "'2024-03-31 02:30:00'", "2024-03-31 10:00:00", 0},
    DaylightCase{"AutumnRepeatedHour", "'2024-10-27 02:30:00'", "2024-10-27 02:33:00", 1},
    DaylightCase{"AutumnAfterTheRepeat", "'2024-10-27 02:30:00'", "2024-10-27 03:30:00", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InMadrid, ToDateAndTruncKeepAGapTime)
{
    TempDatabase db(at("2024-03-31 12:00:00"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT TO_CHAR(TO_DATE('2024-03-31 02:30:00','YYYY-MM-DD HH24:MI:SS'),'DD/MM/YYYY') FROM DUAL"))
                  .toString(),
              QStringLiteral("31/03/2024"));
    const QDateTime gap = parseDateText(QStringLiteral("2024-03-31 02:30:00"));
    ASSERT_TRUE(gap.isValid());
    EXPECT_EQ(gap.time(), QTime(2, 30));
    EXPECT_EQ(toDateTime(QVariant(QStringLiteral("2024-03-31 02:30:00"))).time(), QTime(2, 30));
}

} // namespace

namespace {

// The day's and the month's counts, in the form the program once used and
// the range form it uses now, over randomised histories: the same counts,
// whatever the history and the server's clock.
TEST(CountForms, RangesCountExactlyWhatTheOldFormsCounted)
{
    const char* const instants[] = {
        "2025-12-31 00:00:00", "2025-12-31 23:59:59", "2026-01-01 00:00:00", "2026-01-01 00:00:01",
        "2026-01-31 23:59:59", "2026-02-01 00:00:00", "2026-02-28 23:59:59", "2026-03-01 00:00:00",
        "2026-03-04 00:00:00", "2026-03-04 10:00:00", "2026-03-04 23:59:59", "2026-03-05 00:00:00",
        "2026-03-31 23:59:59", "2026-04-01 00:00:00", "2025-03-04 10:00:00", "2026-12-31 23:59:59"};
    const int n = static_cast<int>(std::size(instants));
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> pick(0, n); // n: a Null FECHA
    std::uniform_int_distribution<int> rowsPerHistory(0, 25);
    const QString day =
        QStringLiteral("SELECT count(*) N FROM MOVIMIENTOS WHERE CODIGO=1234 AND CODINSTALACION=7 AND %1");
    const QString oldDay = day.arg(QStringLiteral("TRUNC(FECHA) = TRUNC(SYSDATE)"));
    const QString newDay = day.arg(QStringLiteral("FECHA >= TRUNC(SYSDATE) AND FECHA < TRUNC(SYSDATE) + 1"));
    const QString oldMonth = day.arg(QStringLiteral("TO_CHAR(FECHA,'MMYYYY')=TO_CHAR(SYSDATE,'MMYYYY')"));
    const QString newMonth =
        day.arg(QStringLiteral("FECHA >= TRUNC(SYSDATE,'MM') AND FECHA < ADD_MONTHS(TRUNC(SYSDATE,'MM'),1)"));
    TempDatabase db(at("2026-03-04 10:00:00"));
    for (int history = 0; history < 12; ++history) {
        db.exec(QStringLiteral("DELETE FROM MOVIMIENTOS"));
        const int rows = rowsPerHistory(random);
        for (int r = 0; r < rows; ++r) {
            const int i = pick(random);
            const QString fecha = i == n ? QStringLiteral("NULL") : QStringLiteral("'%1'").arg(QLatin1String(instants[i]));
            db.exec(QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (7,1234,7,%1,'2026-03-04 10:00:00')").arg(fecha));
        }
        for (const char* now : instants) {
            db.serverClock().set(at(now));
            EXPECT_EQ(db.scalar(newDay).toInt(), db.scalar(oldDay).toInt()) << history << " " << now;
            EXPECT_EQ(db.scalar(newMonth).toInt(), db.scalar(oldMonth).toInt()) << history << " " << now;
        }
    }
}

} // namespace

namespace {

// The counts read only the rows of the day or the month, through the index.
TEST(CountForms, EveryCountIsARangeOfTheIndex)
{
    if (testBackend() != Backend::Embedded)
        GTEST_SKIP() << "the embedded database's plans";
    TempDatabase db(at("2026-03-04 10:00:00"));
    for (const char* range : {"FECHA >= TRUNC(SYSDATE) AND FECHA < TRUNC(SYSDATE) + 1",
                              "FECHA >= TRUNC(SYSDATE,'MM') AND FECHA < ADD_MONTHS(TRUNC(SYSDATE,'MM'),1)"}) {
        auto plan = db.connection()->query(
            QStringLiteral("EXPLAIN QUERY PLAN SELECT count(*) N FROM MOVIMIENTOS WHERE CODIGO=1234 AND CODINSTALACION=7 AND ") +
                QLatin1String(range),
            {});
        QStringList details;
        for (std::size_t row = 0; row < plan->size(); ++row)
            details << plan->field(QStringLiteral("detail"), row).toString();
        EXPECT_EQ(details, QStringList{QStringLiteral(
                               "SEARCH MOVIMIENTOS USING COVERING INDEX MOVIMIENTOS_DIA (CODIGO=? AND CODINSTALACION=? AND FECHA>? AND FECHA<?)")})
            << range;
    }
}

} // namespace

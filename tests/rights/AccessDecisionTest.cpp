// The decision alone, over facts written here: no database, no clock.
#include "AccessDecision.h"
#include "DatabaseError.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace parking;

namespace {

// 2026-03-04 is a Wednesday.
const QDateTime Wednesday10(QDate(2026, 3, 4), QTime(10, 0));

AccessFacts subscriber(int kind)
{
    AccessFacts f;
    f.subscriberFound = true;
    f.courseHolder = kind;
    f.entriesToday = 0;
    f.entriesThisMonth = 0;
    return f;
}

AccessFacts feeHolder(const QVariant& start, const QVariant& end, int code = 10, const QVariant& allowance = {})
{
    AccessFacts f = subscriber(0);
    f.currentFeeCodes = {code};
    FeeDefinition fee;
    fee.code = code;
    fee.allowance = allowance;
    fee.start.fill(start);
    fee.end.fill(end);
    f.fees = {fee};
    return f;
}

AccessFacts courseHolder(const QVariant& start, const QVariant& end, int entriesToday = 0)
{
    AccessFacts f = subscriber(1);
    CourseFacts c;
    c.from = QDateTime(QDate(2026, 1, 1), QTime(0, 0));
    c.to = QDateTime(QDate(2026, 6, 30), QTime(0, 0));
    c.start.fill(start);
    c.end.fill(end);
    f.courses = {c};
    f.entriesToday = entriesToday;
    return f;
}

struct Case {
    const char* name;
    AccessFacts facts;
    QDateTime now;
    AccessResult expected;
};

AccessFacts with(AccessFacts f, const std::function<void(AccessFacts&)>& change)
{
    change(f);
    return f;
}

class Decide : public ::testing::TestWithParam<Case> {};

TEST_P(Decide, GivesTheExpectedResult)
{
    EXPECT_EQ(decide(GetParam().facts, GetParam().now), GetParam().expected);
}

const QTime Nine(9, 0), Two(14, 0);

INSTANTIATE_TEST_SUITE_P(Facts, Decide, ::testing::Values(
    Case{"Unknown", AccessFacts{}, Wednesday10, AccessResult::SubscriberUnknown},
    Case{"BlockedBeatsEverything", with(feeHolder(Nine, Two), [](AccessFacts& f) { f.blocked = true; f.receiptsUnpaid = true; }), Wednesday10, AccessResult::SubscriberBlocked},
    Case{"SpacingBeatsReceipts", with(subscriber(2), [](AccessFacts& f) { f.lastEntry = QDateTime(QDate(2026, 3, 4), QTime(9, 56)); f.receiptsUnpaid = true; }), Wednesday10, AccessResult::EntryTooSoon},
    Case{"SpacingEitherWay", with(subscriber(2), [](AccessFacts& f) { f.lastEntry = QDateTime(QDate(2026, 3, 4), QTime(10, 4, 59)); }), Wednesday10, AccessResult::EntryTooSoon},
    Case{"SpacingOnlySameDay", with(subscriber(2), [](AccessFacts& f) { f.lastEntry = QDateTime(QDate(2026, 3, 3), QTime(10, 0)); }), Wednesday10, AccessResult::Granted},
    Case{"Receipts", with(subscriber(2), [](AccessFacts& f) { f.receiptsUnpaid = true; }), Wednesday10, AccessResult::ReceiptsUnpaid},
    Case{"NeitherKindIsLetIn", subscriber(2), Wednesday10, AccessResult::Granted},
    Case{"NullKindIsLetIn", with(subscriber(0), [](AccessFacts& f) { f.courseHolder = QVariant(); }), Wednesday10, AccessResult::Granted},
    Case{"NoCurrentFee", subscriber(0), Wednesday10, AccessResult::FeeNotCurrent},
    Case{"InsideFeeHours", feeHolder(Nine, Two), Wednesday10, AccessResult::Granted},
    Case{"TenMinutesEarly", feeHolder(Nine, Two), QDateTime(QDate(2026, 3, 4), QTime(8, 50)), AccessResult::Granted},
    Case{"ElevenMinutesEarlyWeekday", feeHolder(Nine, Two), QDateTime(QDate(2026, 3, 4), QTime(8, 49, 59)), AccessResult::OutsideFeeHours},
    Case{"AtTheEndToTheSecond", feeHolder(Nine, Two), QDateTime(QDate(2026, 3, 4), QTime(14, 0, 0, 999)), AccessResult::Granted},
    Case{"OneSecondLateSaturday", feeHolder(Nine, Two), QDateTime(QDate(2026, 3, 7), QTime(14, 0, 1)), AccessResult::OutsideTimetable},
    Case{"NullBoundsNoLimit", feeHolder(QVariant(), QVariant()), QDateTime(QDate(2026, 3, 4), QTime(23, 59, 59)), AccessResult::Granted},
    Case{"FeeWithoutDefinition", with(subscriber(0), [](AccessFacts& f) { f.currentFeeCodes = {11}; }), Wednesday10, AccessResult::Granted},
    Case{"NullFeeCode", with(subscriber(0), [](AccessFacts& f) { f.currentFeeCodes = {QVariant()}; }), Wednesday10, AccessResult::Granted},
    Case{"FirstFeeRowDecides", with(feeHolder(Nine, Two), [](AccessFacts& f) { f.currentFeeCodes = {10, 11}; }), QDateTime(QDate(2026, 3, 4), QTime(20, 0)), AccessResult::OutsideFeeHours},
    Case{"AllowanceLeft", with(feeHolder(Nine, Two, 34, 8), [](AccessFacts& f) { f.entriesThisMonth = 7; }), QDateTime(QDate(2026, 3, 4), QTime(20, 0)), AccessResult::Granted},
    Case{"AllowanceUsedUp", with(feeHolder(Nine, Two, 34, 8), [](AccessFacts& f) { f.entriesThisMonth = 8; }), QDateTime(QDate(2026, 3, 4), QTime(20, 0)), AccessResult::OutsideFeeHours},
    Case{"NoAllowanceForOtherCodes", with(feeHolder(Nine, Two, 36, 8), [](AccessFacts& f) { f.entriesThisMonth = 0; }), QDateTime(QDate(2026, 3, 4), QTime(20, 0)), AccessResult::OutsideFeeHours},
    Case{"NoEnrolment", subscriber(1), Wednesday10, AccessResult::OutsideTimetable},
    Case{"ClassStartsInTwentyMinutes", courseHolder(QTime(10, 20), QTime(11, 0)), Wednesday10, AccessResult::Granted},
    Case{"ClassStartedSixMinutesAgo", courseHolder(QTime(9, 54), QTime(11, 0)), Wednesday10, AccessResult::OutsideTimetable},
    Case{"SecondEntryUntilTwentyAfterTheEnd", courseHolder(QTime(8, 0), QTime(9, 40), 1), Wednesday10, AccessResult::Granted},
    Case{"SecondEntryTooLate", courseHolder(QTime(8, 0), QTime(9, 39, 59), 1), Wednesday10, AccessResult::OutsideTimetable},
    Case{"NoClassToday", courseHolder(QVariant(), QVariant()), Wednesday10, AccessResult::OutsideTimetable},
    Case{"CourseNotStartedYet", with(courseHolder(QTime(10, 0), QTime(11, 0)), [](AccessFacts& f) { f.courses[0].from = QDateTime(QDate(2026, 3, 5), QTime(0, 0)); }), Wednesday10, AccessResult::OutsideTimetable}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decide, AValueThatIsNoTimeIsAnErrorWhereItMatters)
{
    const AccessFacts f = feeHolder(QStringLiteral("nine"), Two);
    EXPECT_THROW(decide(f, Wednesday10), DatabaseError);
    // A refusal decided before the bad value is reached is still given.
    EXPECT_EQ(decide(with(f, [](AccessFacts& g) { g.blocked = true; }), Wednesday10), AccessResult::SubscriberBlocked);
}

TEST(Decide, ShiftedTimesStayWithinTheDay)
{
    EXPECT_EQ(shiftedTime(QTime(0, 5), -600), QTime(0, 0));
    EXPECT_EQ(shiftedTime(QTime(23, 50), 1200), QTime(23, 59, 59));
}

} // namespace

#include "AccessDecision.h"

#include "Clock.h"
#include "DatabaseError.h"
#include "FieldValue.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>

namespace parking {

namespace {

// Timetables count whole seconds.
QTime seconds(const QTime& t)
{
    return QTime(t.hour(), t.minute(), t.second());
}

// The time of day of a timetable bound; nullopt for Null, which sets no
// bound. A value that is no time at all is an error, not a missing bound.
std::optional<QTime> bound(const QVariant& value)
{
    if (value.isNull())
        return std::nullopt;
    const QDateTime t = toDateTime(value);
    if (!t.isValid())
        throw DatabaseError(QStringLiteral("Type mismatch: \"%1\" is not a time of day").arg(value.toString()));
    return seconds(t.time());
}

bool hasMonthlyAllowance(double feeCode)
{
    return std::find(std::begin(rights::AllowanceFeeCodes), std::end(rights::AllowanceFeeCodes), feeCode) !=
           std::end(rights::AllowanceFeeCodes);
}

AccessResult feeTimetable(const AccessFacts& facts, const QVariant& feeCode, const QDateTime& now)
{
    // A current fee row without a fee code has no definition to judge by,
    // like a code that has no Cuotas row.
    if (feeCode.isNull())
        return AccessResult::Granted;
    const FeeDefinition* fee = facts.fee(toInt32(feeCode));
    if (!fee)
        return AccessResult::Granted;

    // Columns 1 (Monday to Thursday), 4 (Friday), 2 (Saturday), 3 (Sunday).
    static constexpr int window[8] = {0, 0, 0, 0, 0, 3, 1, 2};
    const int day = now.date().dayOfWeek();
    const AccessResult refusal = day <= 5 ? AccessResult::OutsideFeeHours : AccessResult::OutsideTimetable;
    // Ten minutes early is inside; no grace after the end. A Null bound
    // sets no limit on its side.
    const auto start = bound(fee->start[static_cast<std::size_t>(window[day])]);
    const auto end = bound(fee->end[static_cast<std::size_t>(window[day])]);
    const QTime time = seconds(now.time());
    const bool outside = (start && time < shiftedTime(*start, -rights::FeeEarlySeconds)) || (end && time > *end);
    if (!outside)
        return AccessResult::Granted;

    if (hasMonthlyAllowance(toDouble(fee->code))) {
        // Without an allowance there is nothing left of it.
        const std::int32_t monthly = fee->allowance.isNull() ? 0 : toInt32(fee->allowance);
        const QVariant& used = facts.entriesThisMonth;
        if (!used.isNull() && toDouble(used) < monthly)
            return AccessResult::Granted;
    }
    return refusal;
}

AccessResult courseTimetable(const AccessFacts& facts, const QDateTime& now)
{
    if (facts.courses.empty())
        return AccessResult::OutsideTimetable;
    const QDateTime today = wallTime(now.date(), QTime(0, 0));
    const QTime time = seconds(now.time());
    const auto day = static_cast<std::size_t>(now.date().dayOfWeek() - 1);
    for (const CourseFacts& course : facts.courses) {
        const QDateTime from = toDateTime(course.from);
        const QDateTime to = toDateTime(course.to);
        if ((from.isValid() && from > today) || (to.isValid() && to < today))
            continue;
        // The first current course decides.
        if (toInt16(facts.entriesToday) > 0) {
            const auto end = bound(course.end[day]);
            if (!end)
                return AccessResult::OutsideTimetable;
            return time > shiftedTime(*end, rights::CourseAfterEndSeconds) ? AccessResult::OutsideTimetable
                                                                          : AccessResult::Granted;
        }
        const auto start = bound(course.start[day]);
        if (!start)
            return AccessResult::OutsideTimetable;
        const bool inside = time >= shiftedTime(*start, -rights::CourseEarlySeconds) &&
                            time <= shiftedTime(*start, rights::CourseLateSeconds);
        return inside ? AccessResult::Granted : AccessResult::OutsideTimetable;
    }
    return AccessResult::OutsideTimetable;
}

} // namespace

QTime shiftedTime(const QTime& time, int shift)
{
    const int s = time.msecsSinceStartOfDay() / 1000 + shift;
    return QTime(0, 0).addSecs(std::clamp(s, 0, 86399));
}

bool entryTooRecent(const QVariant& lastEntry, const QDateTime& now)
{
    if (lastEntry.isNull())
        return false;
    const QDateTime entry = toDateTime(lastEntry);
    if (!entry.isValid() || entry.date() != now.date())
        return false;
    const int apart = std::abs(entry.time().secsTo(now.time()));
    return apart < rights::EntrySpacingSeconds;
}

AccessResult decide(const AccessFacts& facts, const QDateTime& now)
{
    if (!facts.subscriberFound)
        return AccessResult::SubscriberUnknown;
    if (facts.blocked)
        return AccessResult::SubscriberBlocked;
    if (entryTooRecent(facts.lastEntry, now))
        return AccessResult::EntryTooSoon;
    if (facts.receiptsUnpaid)
        return AccessResult::ReceiptsUnpaid;
    const double kind = facts.courseHolder.isNull() ? -1 : toDouble(facts.courseHolder);
    if (kind == rights::FeeHolder) {
        if (facts.currentFeeCodes.empty())
            return AccessResult::FeeNotCurrent;
        return feeTimetable(facts, facts.currentFeeCodes.front(), now);
    }
    if (kind == rights::CourseHolder)
        return courseTimetable(facts, now);
    return AccessResult::Granted;
}

} // namespace parking

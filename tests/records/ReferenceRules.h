#pragma once
// The rights check as it once was, a statement per fact, kept as the
// reference the one-statement facts and the pure decision are compared
// with. Whether a subscriber may enter the car park now, and if not, why: blocks,
// spacing after the last entry, unpaid receipts, then the fee timetable or
// the course timetable. Reads the management database through the
// statements below and writes nothing. Timetables are judged on the
// workstation's clock, the SQL filters on the database server's date.
//
// The day's and the month's entries are counted as ranges of the indexed
// FECHA column (the server's day, the server's month), so a decision costs
// the same for a subscriber with ten years of history as for a new one.
//
// A database error ends the check and reaches the caller unchanged; no
// result is produced for that call, so no barrier opens on it.
#include "AccessDecision.h"
#include "Clock.h"
#include "Connection.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <initializer_list>

namespace parking::test {

class ReferenceRules {
public:
    // The fee timetable admits this early; there is no grace after its end.
    static constexpr int FeeEarlySeconds = 600;
    // A course admits a first entry from this long before its start to this
    // long after it, and people already in today until this long after its end.
    static constexpr int CourseEarlySeconds = 1200;
    static constexpr int CourseLateSeconds = 300;
    static constexpr int CourseAfterEndSeconds = 1200;
    // A second entry within this many seconds of the last one is refused.
    static constexpr int EntrySpacingSeconds = 300;
    // Fees with a monthly allowance of entries outside their timetable.
    static constexpr int AllowanceFeeCodes[] = {33, 34, 35};

    ReferenceRules(Connection& connection, const Clock& workstationClock)
        : connection_(connection), clock_(workstationClock) {}

    AccessResult check(std::int32_t subscriberCode, std::int32_t installationCode);
    // `feeCode`: CodCuota of the subscriber's first current fee row, as read.
    AccessResult checkFeeTimetable(std::int32_t subscriberCode, std::int32_t installationCode, const QVariant& feeCode);
    AccessResult checkCourseTimetable(std::int32_t subscriberCode, std::int32_t installationCode);
    // 1 when the last entry today was less than five minutes ago, 0 when
    // not, -1 when the query gave no row.
    std::int16_t lastEntryTooRecent(std::int32_t subscriberCode, std::int32_t installationCode);
    std::int16_t countEntriesToday(std::int32_t subscriberCode, std::int32_t installationCode);
    bool monthlyAllowanceLeft(std::int32_t subscriberCode, std::uint8_t installationCode, std::int32_t allowance);

private:
    // A read-only, prepared statement with its whole-number values bound.
    std::unique_ptr<Recordset> read(const QString& sql, std::initializer_list<qlonglong> values);

    Connection& connection_;
    const Clock& clock_;
};

// "hh:mm:ss" of a time of day moved by `seconds`, kept within the same day:
// a bound that would fall before midnight is 00:00:00, one that would fall
// after it is 23:59:59.
QString shiftedTimeText(const QTime& time, int seconds);

} // namespace parking::test

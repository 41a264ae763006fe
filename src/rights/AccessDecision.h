#pragma once
// Whether a subscriber may enter the car park now, and if not, why: blocks,
// spacing after the last entry, unpaid receipts, then the fee timetable or
// the course timetable. A pure function of the facts read beforehand and
// the workstation's clock reading: no database, no clock of its own.
//
// A value that cannot be what its column says (a time that is no time, a
// code that is no number) throws DatabaseError when the decision reaches
// it, so no result is produced and no barrier opens on it.
#include "AccessFacts.h"
#include "AccessResult.h"

#include <QDateTime>
#include <QTime>

namespace parking {

namespace rights {
// The fee timetable admits this early; there is no grace after its end.
constexpr int FeeEarlySeconds = 600;
// A course admits a first entry from this long before its start to this
// long after it, and people already in today until this long after its end.
constexpr int CourseEarlySeconds = 1200;
constexpr int CourseLateSeconds = 300;
constexpr int CourseAfterEndSeconds = 1200;
// A second entry within this many seconds of the last one is refused.
constexpr int EntrySpacingSeconds = 300;
// ABONADOS.Cursillista: a fee holder, a course holder; any other value is
// neither (let in once past blocks, spacing and receipts).
constexpr int FeeHolder = 0;
constexpr int CourseHolder = 1;
// Fees with a monthly allowance of entries outside their timetable.
constexpr int AllowanceFeeCodes[] = {33, 34, 35};
} // namespace rights

AccessResult decide(const AccessFacts& facts, const QDateTime& now);

// Whether the last entry was today and less than five minutes from `now`,
// either way (the workstation and server clocks may disagree).
bool entryTooRecent(const QVariant& lastEntry, const QDateTime& now);

// A time of day moved by `seconds`, kept within the same day: a bound that
// would fall before midnight is 00:00:00, one that would fall after it is
// 23:59:59.
QTime shiftedTime(const QTime& time, int seconds);

} // namespace parking


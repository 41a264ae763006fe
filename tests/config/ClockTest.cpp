// The clocks read wall-clock time: what a person reads on the wall, set or
// not, in any zone.
#include "Clock.h"

#include <gtest/gtest.h>

using namespace parking;

namespace {

TEST(SettableClock, ReadsTheLocalWallClockAndRunsOnFromASetInstant)
{
    SettableClock clock;
    const QDateTime local = QDateTime::currentDateTime();
    const QDateTime read = clock.now();
    EXPECT_EQ(read.timeSpec(), Qt::UTC);
    // The same reading as the system's local clock, give or take the call.
    EXPECT_LE(std::abs(wallTime(local).msecsTo(read)), 2000);

    const QDateTime spring = parseIsoInstant(QStringLiteral("2024-03-31 02:30:00"));
    clock.set(spring);
    const qint64 drift = spring.msecsTo(clock.now());
    EXPECT_GE(drift, 0);
    EXPECT_LT(drift, 2000);
    clock.reset();
    EXPECT_LE(std::abs(wallTime(QDateTime::currentDateTime()).msecsTo(clock.now())), 2000);
}

TEST(ParseIsoInstant, TakesExactlyTheStoredForm)
{
    EXPECT_EQ(parseIsoInstant(QStringLiteral("2026-03-04 10:00:05")), wallTime(QDate(2026, 3, 4), QTime(10, 0, 5)));
    for (const char* bad : {"2026-03-04 10:00", "2026-03-04T10:00:05", "2026-3-04 10:00:05", "2026-02-30 10:00:05",
                            "2026-03-04 24:00:00", " 2026-03-04 10:00:05", "0000-01-01 00:00:00", "2026-03-04 10:00:0x"})
        EXPECT_FALSE(parseIsoInstant(QString::fromLatin1(bad)).isValid()) << bad;
}

} // namespace

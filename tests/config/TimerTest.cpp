// Simulated timers fire in time order, as often as their interval says, and
// only when the test moves time on.
#include "Timer.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace parking;
using namespace std::chrono_literals;

namespace {

TEST(ManualTimers, FireInTimeOrderAndRepeat)
{
    ManualTimers timers;
    QStringList fired;
    auto a = timers.make(3000ms, [&] { fired << QStringLiteral("a%1").arg(timers.elapsed().count()); });
    auto b = timers.make(4000ms, [&] { fired << QStringLiteral("b%1").arg(timers.elapsed().count()); });
    a->start();
    b->start();
    timers.advance(2999ms);
    EXPECT_TRUE(fired.isEmpty());
    timers.advance(9001ms);
    EXPECT_EQ(fired, (QStringList{QStringLiteral("a3000"), QStringLiteral("b4000"), QStringLiteral("a6000"),
                                  QStringLiteral("b8000"), QStringLiteral("a9000"), QStringLiteral("a12000"),
                                  QStringLiteral("b12000")}));
}

TEST(ManualTimers, StopRestartAndDestroyFromTheirOwnTimeout)
{
    ManualTimers timers;
    int ticks = 0;
    std::unique_ptr<Timer> once;
    once = timers.make(1000ms, [&] {
        ++ticks;
        once->stop();
    });
    once->start();
    timers.advance(5000ms);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(once->isActive());

    // A restart gives a full interval from now.
    once->start();
    timers.advance(999ms);
    EXPECT_EQ(ticks, 1);
    timers.advance(1ms);
    EXPECT_EQ(ticks, 2);

    std::unique_ptr<Timer> selfDestroying;
    selfDestroying = timers.make(100ms, [&] { selfDestroying.reset(); });
    selfDestroying->start();
    timers.advance(1000ms);
    EXPECT_EQ(selfDestroying, nullptr);
}

TEST(ManualTimers, ATimerMayOutliveItsSource)
{
    std::unique_ptr<Timer> t;
    {
        ManualTimers timers;
        t = timers.make(10ms, [] {});
        t->start();
    }
    t->stop();
    EXPECT_FALSE(t->isActive());
}

} // namespace

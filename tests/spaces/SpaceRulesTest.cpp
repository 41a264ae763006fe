#include "QtPrinters.h"
#include "SpaceRules.h"

#include <gtest/gtest.h>

using namespace parking;

namespace {

TEST(SpaceRules, AnEntranceTakesOneAndAnExitGivesOneBackWithinTheBounds)
{
    const struct {
        int free, capacity, afterEntrance, afterExit;
    } cases[] = {{10, 20, 9, 11}, {1, 20, 0, 2}, {0, 20, 0, 1}, {-3, 20, 0, -2}, {20, 20, 19, 20}, {25, 20, 24, 20}};
    for (const auto& c : cases) {
        EXPECT_EQ(spaces::afterEntrance(c.free), c.afterEntrance) << c.free;
        EXPECT_EQ(spaces::afterExit(c.free, c.capacity), c.afterExit) << c.free;
    }
}

TEST(SpaceRules, TheOperatorsTypedCountIsAWholeNumberFromZero)
{
    const struct {
        const char* typed;
        std::optional<std::int16_t> count;
        bool malformed;
    } cases[] = {{"0", 0, false},
                 {"15", 15, false},
                 {"032767", 32767, false},
                 {"", std::nullopt, false},      // nothing typed
                 {"99999", std::nullopt, false}, // beyond any count: refused as above the capacity
                 {"-1", std::nullopt, true},
                 {"12a", std::nullopt, true},
                 // Read as the program's whole numbers are (blanks around them
                 // ignored, halves to even), as the window's box can never hold.
                 {" 7", 7, false},
                 {"2.5", 2, false}};
    for (const auto& c : cases) {
        const spaces::Typed t = spaces::readTypedCount(QString::fromLatin1(c.typed));
        EXPECT_EQ(t.count, c.count) << c.typed;
        EXPECT_EQ(t.malformed, c.malformed) << c.typed;
    }
}

} // namespace

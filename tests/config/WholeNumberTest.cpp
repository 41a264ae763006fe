#include "QtPrinters.h"
#include "WholeNumber.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Conversion {
    const char* text;
    std::optional<int> expected;
};

class WholeNumberConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(WholeNumberConversion, FollowsTheSettingRules)
{
    const Conversion& c = GetParam();
    const auto result = parking::toWhole16(QString::fromUtf8(c.text));
    if (c.expected) {
        ASSERT_TRUE(result.has_value()) << c.text;
        EXPECT_EQ(*result, *c.expected) << c.text;
    } else {
        EXPECT_FALSE(result.has_value()) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, WholeNumberConversion, ::testing::Values(
    Conversion{"40", 40}, Conversion{"  40  ", 40}, Conversion{"\t-12 ", -12}, Conversion{"+7", 7},
    Conversion{"- 3", -3}, Conversion{"0", 0}, Conversion{"007", 7},
    Conversion{"32767", 32767}, Conversion{"-32768", -32768},
    Conversion{"32768", std::nullopt}, Conversion{"-32769", std::nullopt}, Conversion{"40000", std::nullopt},
    Conversion{"2.5", 2}, Conversion{"3.5", 4}, Conversion{"-2.5", -2}, Conversion{"2,5", 2},
    Conversion{"2.51", 3}, Conversion{"32767.4", 32767}, Conversion{"32767.5", std::nullopt},
    Conversion{"", std::nullopt}, Conversion{"   ", std::nullopt}, Conversion{"abc", std::nullopt},
    Conversion{"12a", std::nullopt}, Conversion{"1 2", std::nullopt}, Conversion{"1.2.3", std::nullopt},
    Conversion{"-", std::nullopt}, Conversion{"1e3", std::nullopt},
    Conversion{"99999999999999999999999999", std::nullopt}));

} // namespace

#include "QtPrinters.h"
#include "Identification.h"

#include <gtest/gtest.h>

using namespace parking;

namespace {

struct TrackCase {
    const char* name;
    int station;
    const char* track;
    int subscriber;
    int installation;
};

class TrackDecoding : public ::testing::TestWithParam<TrackCase> {};

TEST_P(TrackDecoding, ReadsTheFieldsAtTheirPlaces)
{
    const TrackCase& c = GetParam();
    const auto id = decodeTrack(roleOf(c.station), QString::fromLatin1(c.track));
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->subscriber, c.subscriber);
    EXPECT_EQ(id->installation, c.installation);
}

// Positions:        1234567890123456789012
INSTANTIATE_TEST_SUITE_P(Lengths, TrackDecoding, ::testing::Values(
    TrackCase{"Len16Station1", 1, "ABC07XXXXX01234Z", 1234, 7},
    TrackCase{"Len16Station2", 2, "ABC07XXXXX01234Z", 1234, 7},
    TrackCase{"Len17Station1", 1, "ABC07XXXXXX11111Z", 11111, 7},
    TrackCase{"Len17Station2", 2, "ABC07XXXXXXX22222", 22222, 7},
    TrackCase{"Len20Station1", 1, "ABC07XXXXXXX33333ZZZ", 33333, 7},
    TrackCase{"Len20Station2", 2, "ABC07XXXX44444ZZZZZZ", 44444, 7},
    TrackCase{"BlanksAreSkipped", 1, "ABC07XXXXX12 34Z", 1234, 7},
    TrackCase{"StopsAtALetter", 1, "ABC07XXXXX12A45Z", 12, 7},
    TrackCase{"FiveBlanksReadZero", 1, "ABC07XXXXX     Z", 0, 7},
    TrackCase{"TooShortReadsZero", 1, "ABC07XX", 0, 7},
    TrackCase{"SignAndDecimalRoundToEven", 1, "ABC07XXXXX-12.5Z", -12, 7},
    TrackCase{"InstallationWithABlank", 1, "ABC 7XXXXX00001Z", 1, 7},
    TrackCase{"InstallationIsCharactersFourAndFive", 1, "AB255XXXXX00001Z", 1, 55}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrackDecoding, InstallationMustBeAWholeNumber)
{
    for (const char* track : {"ABCX7XXXXX01234Z", "ABC-1XXXXX01234Z", "ABC  XXXXX01234Z", "AB", "ABC7.XXXXX01234Z"})
        EXPECT_FALSE(decodeTrack(StationRole::Entrance, QString::fromLatin1(track)).has_value()) << track;
}

struct Lenient {
    const char* text;
    int value;
};

class LenientNumber : public ::testing::TestWithParam<Lenient> {};

TEST_P(LenientNumber, ReadsTheLeadingNumber)
{
    EXPECT_EQ(lenientWholeNumber(QString::fromLatin1(GetParam().text)), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, LenientNumber, ::testing::Values(
    Lenient{"01234", 1234}, Lenient{"12 34", 1234}, Lenient{"1\t2\n3", 123}, Lenient{"12A45", 12}, Lenient{"     ", 0},
    Lenient{"", 0}, Lenient{"ABCDE", 0}, Lenient{"+0042", 42}, Lenient{"2.5", 2}, Lenient{"3.5", 4}, Lenient{"1E3", 1000},
    Lenient{"1D2", 100}, Lenient{"1E", 1}, Lenient{".", 0}, Lenient{"-", 0}));

TEST(LenientNumber, OutOfRangeIsNotANumber)
{
    EXPECT_FALSE(lenientWholeNumber(QStringLiteral("9E99")).has_value());
}

TEST(CardNumber, CharactersTwoToFourteen)
{
    EXPECT_EQ(cardNumber(QStringLiteral(";0000000000255?")), 255.0);
    EXPECT_EQ(cardNumber(QStringLiteral("X0000000004096")), 4096.0);
    EXPECT_EQ(cardNumber(QStringLiteral(";0000000000000")), 0.0);
    EXPECT_EQ(cardNumber(QStringLiteral(";9999999999999")), 9999999999999.0);
    EXPECT_FALSE(cardNumber(QStringLiteral(";00000000ABC00")).has_value());
    EXPECT_FALSE(cardNumber(QStringLiteral(";")).has_value());
    EXPECT_EQ(cardNumber(QStringLiteral("; 000000000255")), 255.0); // blanks around the digits
}

TEST(CardNumber, AnythingButDigitsIsNoCard)
{
    // Each of these once read as another card's number.
    for (const char* text : {"X-5", "X12.7", "X-1e300", "X+5", "X1e3", "X0x1F", "X 1 2", "XÙ¥"})
        EXPECT_FALSE(cardNumber(QString::fromUtf8(text)).has_value()) << text;
}

} // namespace

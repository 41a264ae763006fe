// What installers write (the port text, the key file) and what readers
// send (raw card bits), read strictly.
#include "CardFormat.h"
#include "OsdpTransport.h"
#include "PortText.h"
#include "ReaderKeyFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace parking::osdp;

namespace {

struct Good {
    const char* text;
    const char* device;
    const char* host;
    int tcpPort, address, baud;
    ChannelMode channel;
    int rows, columns;
};

class GoodPortTexts : public ::testing::TestWithParam<Good> {};

TEST_P(GoodPortTexts, AreReadAsWritten)
{
    const Good& g = GetParam();
    const auto parsed = parsePortText(QString::fromUtf8(g.text));
    ASSERT_TRUE(parsed) << parsed.error().toStdString();
    const PortText& p = *parsed;
    EXPECT_EQ(p.device, QString::fromUtf8(g.device));
    EXPECT_EQ(p.host, QString::fromUtf8(g.host));
    EXPECT_EQ(p.tcpPort, g.tcpPort);
    EXPECT_EQ(p.address, g.address);
    EXPECT_EQ(p.baud, g.baud);
    EXPECT_EQ(p.channel, g.channel);
    EXPECT_EQ(p.rows, g.rows);
    EXPECT_EQ(p.columns, g.columns);
}

INSTANTIATE_TEST_SUITE_P(Texts, GoodPortTexts, ::testing::Values(
    Good{"osdp:/dev/ttyUSB0", "/dev/ttyUSB0", "", 0, 0, 9600, ChannelMode::On, 2, 20},
    Good{"osdp:/dev/ttyS1?addr=126&baud=115200&sc=install&display=4x16", "/dev/ttyS1", "", 0, 126, 115200,
         ChannelMode::Install, 4, 16},
    Good{"osdp:tcp:10.1.2.3:4001?addr=2&sc=off", "tcp:10.1.2.3:4001", "10.1.2.3", 4001, 2, 9600, ChannelMode::Off, 2, 20},
    Good{"osdp:tcp:lectores.local:1?baud=230400", "tcp:lectores.local:1", "lectores.local", 1, 0, 230400,
         ChannelMode::On, 2, 20}));

class BadPortTexts : public ::testing::TestWithParam<const char*> {};

TEST_P(BadPortTexts, AreRefusedWithAReason)
{
    const auto parsed = parsePortText(QString::fromUtf8(GetParam()));
    ASSERT_FALSE(parsed);
    EXPECT_FALSE(parsed.error().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Texts, BadPortTexts, ::testing::Values(
    "sim:x", "osdp:", "osdp:?addr=1", "osdp:/dev/x?addr=127", "osdp:/dev/x?addr=-1", "osdp:/dev/x?addr=1&addr=2",
    "osdp:/dev/x?baud=9601", "osdp:/dev/x?sc=yes", "osdp:/dev/x?display=2x", "osdp:/dev/x?display=0x20",
    "osdp:/dev/x?display=2x200", "osdp:/dev/x?colour=red", "osdp:/dev/x?addr", "osdp:tcp:host", "osdp:tcp::4001",
    "osdp:tcp:h:0", "osdp:tcp:h:65536", "osdp:tcp:h:12ab", "osdp:/dev/x?addr= 1", "osdp:/dev/x?fmt=wiegand35",
    "osdp:/dev/x?fmt=", "osdp:/dev/x?led=no", "osdp:/dev/x?buzzer=", "osdp:/dev/x?rs485=1", "osdp:/dev/x?fmt=raw&fmt=csn"));

TEST(PortTextOptions, FormatFeedbackAndRs485AreReadAsWritten)
{
    const PortText plain = *parsePortText(QStringLiteral("osdp:/dev/ttyS1"));
    EXPECT_EQ(plain.format, CardFormat::Raw);
    EXPECT_TRUE(plain.led);
    EXPECT_TRUE(plain.buzzer);
    EXPECT_FALSE(plain.rs485);
    const PortText set = *parsePortText(QStringLiteral("osdp:/dev/ttyS1?fmt=wiegand34&led=off&buzzer=off&rs485=on"));
    EXPECT_EQ(set.format, CardFormat::Wiegand34);
    EXPECT_FALSE(set.led);
    EXPECT_FALSE(set.buzzer);
    EXPECT_TRUE(set.rs485);
}

TEST(ReaderKeyFile, StoresPrivatelyReadsBackAndRefusesWhatOthersCanRead)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("claves"));
    const Block a{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const Block b{16, 15, 14};
    ASSERT_TRUE(ReaderKeyFile::store(path, QStringLiteral("/dev/ttyS0"), 1, a));
    ASSERT_TRUE(ReaderKeyFile::store(path, QStringLiteral("tcp:h:1"), 1, b));
    ASSERT_TRUE(ReaderKeyFile::store(path, QStringLiteral("/dev/ttyS0"), 1, b)); // replaces
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto loaded = ReaderKeyFile::load(path);
    ASSERT_TRUE(loaded);
    const auto& keys = *loaded;
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(ReaderKeyFile::find(keys, QStringLiteral("/dev/ttyS0"), 1), b);
    EXPECT_EQ(ReaderKeyFile::find(keys, QStringLiteral("/dev/ttyS0"), 2), std::nullopt);

    ::chmod(QFile::encodeName(path).constData(), 0644);
    const auto refused = ReaderKeyFile::load(path);
    ASSERT_FALSE(refused);
    EXPECT_FALSE(refused.error().contains(QStringLiteral("0102030405")));
    EXPECT_FALSE(ReaderKeyFile::store(path, QStringLiteral("x"), 1, a).has_value());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# comment\n/dev/ttyS0 1 0011223344556677889900112233445\n"); // 31 digits
    f.close();
    ::chmod(QFile::encodeName(path).constData(), 0600);
    const auto malformed = ReaderKeyFile::load(path);
    ASSERT_FALSE(malformed);
    EXPECT_TRUE(malformed.error().contains(QStringLiteral("línea 2")));
}

struct Raw {
    int bits;
    Bytes data;
    const char* text; // nullptr: not a card number
};

class RawCards : public ::testing::TestWithParam<Raw> {};

TEST_P(RawCards, BecomeThirteenDigitsOrNothing)
{
    const auto read = readCard(CardFormat::Raw, GetParam().bits, GetParam().data);
    if (GetParam().text) {
        ASSERT_TRUE(read) << read.error().toStdString();
        EXPECT_EQ(*read, QString::fromUtf8(GetParam().text));
    } else {
        ASSERT_FALSE(read);
        EXPECT_FALSE(read.error().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Reads, RawCards, ::testing::Values(
    Raw{26, {0x00, 0x00, 0x00, 0x40}, "C0000000000001"},                  // the last of 26 bits, left-justified
    Raw{8, {0xFF}, "C0000000000255"},
    Raw{44, {0x00, 0x00, 0x00, 0x1E, 0x24, 0x00}, "C0000000123456"},      // 123456 << 4 in six bytes
    Raw{44, {0x91, 0x84, 0xE7, 0x29, 0xFF, 0xF0}, "C9999999999999"},
    Raw{44, {0x91, 0x84, 0xE7, 0x2A, 0x00, 0x00}, nullptr},               // ten to the thirteenth
    Raw{26, {0x00, 0x00, 0x00}, nullptr},                                 // data shorter than the bits
    Raw{0, {}, nullptr}, Raw{65, Bytes(9, 0), nullptr}));

// A read as the reader sends it: '0'/'1' characters, first bit first.
struct FormatCase {
    const char* name;
    CardFormat format;
    const char* bits;
    const char* card;  // nullptr: refused
    const char* fault; // a part of the refusal's log line
};

Bytes packBits(const char* bits)
{
    Bytes out((std::strlen(bits) + 7) / 8, 0);
    for (std::size_t i = 0; bits[i]; ++i) {
        if (bits[i] == '1')
            out[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    }
    return out;
}

class CardFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(CardFormats, BecomeTheCardNumberOrAreRefusedWithAReason)
{
    const FormatCase& c = GetParam();
    const auto read = readCard(c.format, static_cast<int>(std::strlen(c.bits)), packBits(c.bits));
    if (c.card) {
        ASSERT_TRUE(read) << read.error().toStdString();
        EXPECT_EQ(*read, QString::fromUtf8(c.card));
    } else {
        ASSERT_FALSE(read);
        EXPECT_TRUE(read.error().contains(QString::fromUtf8(c.fault))) << read.error().toStdString();
    }
}

const std::string W37One = "0" + std::string(34, '0') + "10";
const std::string W37Largest = "0" + std::string(35, '1') + "1";
const std::string W37Broken = "0" + std::string(35, '1') + "0";
const std::string Ones56(56, '1');

INSTANTIATE_TEST_SUITE_P(Reads, CardFormats, ::testing::Values(
    // H10301: facility 1, card 1; facility 123, card 45678 (as printed: 123 45678).
    FormatCase{"W26One", CardFormat::Wiegand26, "10000000100000000000000010", "C0000000100001", ""},
    FormatCase{"W26Printed", CardFormat::Wiegand26, "10111101110110010011011101", "C0000012345678", ""},
    FormatCase{"W26OddParityBroken", CardFormat::Wiegand26, "10000000100000000000000011", nullptr, "paridad"},
    FormatCase{"W26EvenParityBroken", CardFormat::Wiegand26, "00000000100000000000000010", nullptr, "paridad"},
    FormatCase{"W26WrongLength", CardFormat::Wiegand26, "1000000010000000000000001", nullptr, "espera 26"},
    // H10306: facility 1, card 1.
    FormatCase{"W34One", CardFormat::Wiegand34, "1000000000000000100000000000000010", "C0000000100001", ""},
    FormatCase{"W34ParityBroken", CardFormat::Wiegand34, "0000000000000000100000000000000010", nullptr, "paridad"},
    // H10302: card 1; the largest card number (35 ones).
    FormatCase{"W37One", CardFormat::Wiegand37, W37One.c_str(), "C0000000000001", ""},
    FormatCase{"W37Largest", CardFormat::Wiegand37, W37Largest.c_str(), "C0034359738367", ""},
    FormatCase{"W37ParityBroken", CardFormat::Wiegand37, W37Broken.c_str(), nullptr, "paridad"},
    // Serial numbers: 32 bits; 56 bits that need 17 digits are refused, never shortened.
    FormatCase{"Csn32", CardFormat::Csn, "11011110101011011011111011101111", "C0003735928559", ""},
    FormatCase{"Csn56TooLong", CardFormat::Csn, Ones56.c_str(), nullptr, "17 cifras"},
    FormatCase{"Csn56NamesWhatFits", CardFormat::Csn, Ones56.c_str(), nullptr, "wiegand26"},
    FormatCase{"Csn24", CardFormat::Csn, "111111111111111111111111", nullptr, "de 32 a 64"}),
    [](const auto& info) { return std::string(info.param.name); });

// A command's data as it goes on the wire.
template <typename C>
Bytes wire(const C& command)
{
    return encodeCommand(command).data;
}

std::vector<Bytes> wire(const std::vector<TextCommand>& commands)
{
    std::vector<Bytes> out;
    for (const TextCommand& c : commands)
        out.push_back(wire(c));
    return out;
}

TEST(OsdpCommands, RelayLedAndTextRecords)
{
    EXPECT_EQ(wire(relayPulse(0, 6)), (Bytes{0, 5, 6, 0}));
    EXPECT_EQ(wire(relayPulse(0, 100)), (Bytes{0, 5, 100, 0}));
    // Reader 0, LED 0, temporary: set, 0.1 s on, 0 off, green both ways, 0.6 s; permanent untouched.
    EXPECT_EQ(wire(temporaryLed(LedColour::Green, 6)), (Bytes{0, 0, 2, 1, 0, 2, 2, 6, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(wire(refusalBeep()), (Bytes{0, 2, 2, 1, 1}));
    const auto rows = wire(displayRows(QStringLiteral("BIENVENIDO").leftJustified(32), 2, 20));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Bytes{0, 1, 0, 1, 1, 20, 'B', 'I', 'E', 'N', 'V', 'E', 'N', 'I', 'D', 'O', ' ', ' ', ' ', ' ',
                              ' ', ' ', ' ', ' ', ' ', ' '}));
    EXPECT_EQ(rows[1][3], 2);
    EXPECT_EQ(rows[1][5], 20); // padded: the rest of the row is blanked
    EXPECT_EQ(displayRows(QString(100, QLatin1Char('x')), 2, 20).size(), 2u); // at most ROWS rows
    // Every row, padded: a short text blanks what it does not cover.
    const auto blank = wire(displayRows(QString(), 2, 20));
    ASSERT_EQ(blank.size(), 2u);
    EXPECT_EQ(blank[1][5], 20);
    EXPECT_EQ(blank[1][6], ' ');
    // A small receive buffer: rows cut into pieces at their columns.
    const auto pieces = wire(displayRows(QString(40, QLatin1Char('y')), 2, 20, 9));
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[1][4], 10); // second piece from column 10
    EXPECT_EQ(pieces[2][5], 2);  // the row's last two characters
    EXPECT_EQ(textCharsFor(0), 255);
    EXPECT_EQ(textCharsFor(64), 41);   // 14 + 48 bytes sealed
    EXPECT_EQ(textCharsFor(30), 9);    // one block: the smallest text
    EXPECT_EQ(textCharsFor(29), 0);
}

} // namespace

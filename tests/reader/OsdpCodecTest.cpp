// OSDP framing against the standard's own bytes, and everything the line
// may bring that is not a packet.
#include "OsdpCodec.h"

#include <gtest/gtest.h>

using namespace parking::osdp;

namespace {

Bytes hex(const char* text)
{
    Bytes out;
    std::string s(text);
    std::erase(s, ' ');
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

struct CheckCase {
    const char* bytes;
    const char* check;
};

class CrcVectors : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CrcVectors, MatchTheStandard)
{
    const Bytes b = hex(GetParam().bytes);
    const Bytes expected = hex(GetParam().check);
    if (expected.size() == 2) {
        const std::uint16_t crc = crc16(b);
        EXPECT_EQ((Bytes{static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)}), expected);
    } else {
        EXPECT_EQ(checksum(b), expected[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(Standard, CrcVectors, ::testing::Values(
    CheckCase{"53 00 09 00 04 61 00", "C0 66"}, CheckCase{"53 7F 0D 00 04 6E 00 80 25 00 00", "6E 38"},
    CheckCase{"53 7F 0C 00 00 6E 00 80 25 00 00", "0F"}, CheckCase{"53 00 08 00 00 61 00", "44"}));

TEST(OsdpCodec, PollAndItsAckByteForByte)
{
    Packet poll;
    poll.address = 0;
    poll.sequence = 2;
    poll.code = command::Poll;
    EXPECT_EQ(encode(poll), hex("53 00 08 00 06 60 89 CC"));

    const auto d = decode(hex("53 80 08 00 06 40 3B CA"));
    ASSERT_TRUE(d.has_value());
    const Packet& ack = (*d).packet;
    EXPECT_TRUE(ack.reply);
    EXPECT_EQ(ack.address, 0);
    EXPECT_EQ(ack.sequence, 2);
    EXPECT_EQ(ack.code, reply::Ack);
    EXPECT_TRUE(ack.data.empty());
}

TEST(OsdpCodec, CommandsWeSendAreBuiltAsTheStandardSays)
{
    struct Case {
        std::uint8_t code;
        Bytes data;
        const char* body; // SOM to the last data byte
    };
    const Case cases[] = {
        {command::Id, {0x00}, "53 05 09 00 05 61 00"},
        {command::Capabilities, {0x00}, "53 05 09 00 05 62 00"},
        {command::Output, {0x00, 0x05, 0x06, 0x00}, "53 05 0C 00 05 68 00 05 06 00"},
        {command::Text, {0x00, 0x01, 0x00, 0x01, 0x01, 0x02, 'H', 'I'}, "53 05 10 00 05 6B 00 01 00 01 01 02 48 49"},
    };
    for (const Case& c : cases) {
        Packet p;
        p.address = 5;
        p.sequence = 1;
        p.code = c.code;
        p.data = c.data;
        const Bytes out = encode(p);
        const Bytes body = hex(c.body);
        ASSERT_EQ(out.size(), body.size() + 2);
        EXPECT_TRUE(std::equal(body.begin(), body.end(), out.begin())) << int(c.code);
        const std::uint16_t crc = crc16(std::span(out).first(body.size()));
        EXPECT_EQ(out[body.size()], crc & 0xFF);
        EXPECT_EQ(out[body.size() + 1], crc >> 8);
        // And it reads back as it was.
        const auto back = decode(out);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ((*back).packet.data, c.data);
    }
}

TEST(OsdpCodec, SecurityBlockAndMacAreWhereTheyBelong)
{
    Packet p;
    p.address = 1;
    p.code = command::Poll;
    p.securityType = scs::CommandMac;
    const Bytes out = encode(p, [](std::span<const std::uint8_t> covered) {
        EXPECT_EQ(covered.size(), 8u); // header, SCB (2), code
        return Mac{0xDE, 0xAD, 0xBE, 0xEF};
    });
    EXPECT_EQ(out, (Bytes{0x53, 0x01, 0x0E, 0x00, 0x0C, 0x02, 0x15, 0x60, 0xDE, 0xAD, 0xBE, 0xEF, out[12], out[13]}));
    const auto d = decode(out);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ((*d).packet.mac, (Mac{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ((*d).macCovered.size(), 8u);
}

struct Malformed {
    const char* name;
    const char* bytes;
    DecodeError error;
};

class MalformedPackets : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedPackets, AreRefusedWithTheReason)
{
    const auto d = decode(hex(GetParam().bytes));
    ASSERT_FALSE(d.has_value());
    EXPECT_EQ(d.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedPackets, ::testing::Values(
    Malformed{"BadCrc", "53 80 08 00 06 40 3B CB", DecodeError::BadCheck},
    Malformed{"LengthSaysMore", "53 80 09 00 06 40 3B CA", DecodeError::LengthMismatch},
    Malformed{"LengthSaysLess", "53 80 07 00 06 40 3B CA", DecodeError::LengthMismatch},
    Malformed{"Truncated", "53 80 08 00", DecodeError::TooShort},
    Malformed{"NoStart", "54 80 08 00 06 40 3B CA", DecodeError::BadStart},
    Malformed{"Oversized", "53 80 FF 7F 06 40 3B CA", DecodeError::Oversized},
    Malformed{"ScbLongerThanPacket", "53 80 0A 00 0C 09 16 40 00 00", DecodeError::BadCheck}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OsdpFrameReader, FindsPacketsInNoiseAndAcrossPieces)
{
    FrameReader reader;
    const Bytes ack = hex("53 80 08 00 06 40 3B CA");
    Bytes stream = {0xFF, 0x00, 0x53, 0x12}; // a mark byte, noise, a false start
    stream.insert(stream.end(), ack.begin(), ack.end());
    Bytes broken = ack;
    broken[5] ^= 0x01; // a bit flipped on the line
    stream.insert(stream.end(), broken.begin(), broken.end());
    stream.insert(stream.end(), ack.begin(), ack.end());
    // Fed a byte at a time, as a slow line delivers it.
    int packets = 0;
    for (std::uint8_t b : stream) {
        reader.feed(std::span(&b, 1));
        while (auto d = reader.next()) {
            EXPECT_EQ(d->packet.code, reply::Ack);
            ++packets;
        }
    }
    EXPECT_EQ(packets, 2);
    EXPECT_GE(reader.dropped(), 2u);
}

TEST(OsdpFrameReader, AFalseStartWithAPlausibleLengthDoesNotHoldARealReplyUp)
{
    const Bytes ack = hex("53 80 08 00 06 40 3B CA");
    struct Case {
        const char* name;
        Bytes noise;
        std::optional<std::uint8_t> expected;
    };
    const Case cases[] = {
        // A stray 0x53 announcing 200 bytes, then the reply at once.
        {"PlausibleLengthAnyAddress", {0x53, 0x80, 0xC8, 0x00}, std::nullopt},
        // The same with another reader's address: skipped at its second byte.
        {"OtherAddress", {0x53, 0x85, 0xC8, 0x00}, std::uint8_t(0x80)},
    };
    for (const Case& c : cases) {
        FrameReader reader;
        reader.expectAddressByte(c.expected);
        Bytes stream = c.noise;
        stream.insert(stream.end(), ack.begin(), ack.end());
        reader.feed(stream);
        const auto d = reader.next();
        ASSERT_TRUE(d.has_value()) << c.name;
        EXPECT_EQ(d->packet.code, reply::Ack) << c.name;
    }
}

TEST(OsdpCodec, PacketsUpToTheLargestAReaderMaySendAreRead)
{
    Packet big;
    big.address = 1;
    big.reply = true;
    big.code = reply::RawCard;
    big.data = Bytes(MaxPacketSize - 8, 0x33); // header 5, code 1, CRC 2
    const Bytes frame = encode(big);
    ASSERT_EQ(frame.size(), MaxPacketSize);
    FrameReader reader;
    reader.feed(frame);
    const auto d = reader.next();
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->packet.data.size(), MaxPacketSize - 8);
    big.data.push_back(0);
    EXPECT_EQ(decode(encode(big)).error(), DecodeError::Oversized);
}

} // namespace

namespace {

// Found by fuzzing: a peer that sets the control byte's reserved bits.
// The frame is still read (its check is right), and what we would send
// back has them clear.
TEST(OsdpCodec, ReservedControlBitsAreToleratedAndNeverSent)
{
    Packet ack;
    ack.address = 1;
    ack.reply = true;
    ack.sequence = 2;
    ack.code = 0x40;
    Bytes frame = encode(ack);
    frame[4] |= 0xF0;
    const std::uint16_t crc = crc16(std::span(frame).first(frame.size() - 2));
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
    const auto decoded = decode(frame);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ((*decoded).packet.sequence, 2);
    EXPECT_EQ(encode((*decoded).packet)[4] & 0xF0, 0);
}

} // namespace

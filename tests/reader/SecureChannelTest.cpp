// Secure Channel against the standard's annex example, and a session's
// MAC chain end to end.
#include "SecureChannel.h"

#include <gtest/gtest.h>

using namespace parking::osdp;

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> hexArray(const char* text)
{
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = static_cast<std::uint8_t>(std::stoi(std::string(text + 2 * i, 2), nullptr, 16));
    return out;
}

const Block BaseKey = hexArray<16>("303132333435363738393A3B3C3D3E3F");
const Random CpRandom = hexArray<8>("B0B1B2B3B4B5B6B7");
const Random PdRandom = hexArray<8>("A0A1A2A3A4A5A6A7");

TEST(SecureChannel, AnnexExampleKnownAnswers)
{
    EXPECT_EQ(BaseKey, InstallKey);
    const SessionKeys keys = deriveSessionKeys(BaseKey, CpRandom);
    EXPECT_EQ(keys.enc, hexArray<16>("BF8DC2A8329ACB8C67C6D0CD9A451682"));
    EXPECT_EQ(keys.mac1, hexArray<16>("5E86C676603BDEE2D8BEAFE178637332"));
    EXPECT_EQ(keys.mac2, hexArray<16>("6FDA86E857777E81132035758239172E"));
    const Block cp = serverCryptogram(keys, CpRandom, PdRandom);
    EXPECT_EQ(cp, hexArray<16>("26D3356E07762D262801FC8E6665A891"));
    EXPECT_EQ(clientCryptogram(keys, CpRandom, PdRandom), hexArray<16>("FDE5D2F428EC16312471EA3C02BD7796"));
    EXPECT_EQ(initialRmac(keys, cp), hexArray<16>("B2A30057EB98BA2229EC1F875662B524"));
}

TEST(SecureChannel, DataRoundTripsAndBadPaddingIsRefused)
{
    const SessionKeys keys = deriveSessionKeys(BaseKey, CpRandom);
    const Block mac = hexArray<16>("00112233445566778899AABBCCDDEEFF");
    for (std::size_t n : {1u, 15u, 16u, 17u, 40u}) {
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = static_cast<std::uint8_t>(i * 7);
        const Bytes sealed = encryptData(keys, mac, data);
        EXPECT_EQ(sealed.size() % 16, 0u);
        EXPECT_GT(sealed.size(), n); // always padded, even a whole block
        EXPECT_EQ(decryptData(keys, mac, sealed), data);
        Block other = mac;
        other[0] ^= 1;
        EXPECT_NE(decryptData(keys, other, sealed), std::optional<Bytes>(data));
    }
    EXPECT_EQ(decryptData(keys, mac, Bytes(15)), std::nullopt);
    EXPECT_EQ(decryptData(keys, mac, Bytes{}), std::nullopt);
}

TEST(SecureChannel, SessionsChainMacsAndRefuseReplaysAndTampering)
{
    const SessionKeys keys = deriveSessionKeys(BaseKey, CpRandom);
    const Block rmac = initialRmac(keys, serverCryptogram(keys, CpRandom, PdRandom));
    SecureSession cp(keys, rmac, true);
    SecureSession pd(keys, rmac, false);
    parking::Result<Decoded, DecodeError> previousReply = parking::failureOf(DecodeError::TooShort);
    for (int round = 0; round < 3; ++round) {
        Packet out;
        out.address = 3;
        out.sequence = static_cast<std::uint8_t>(round + 1);
        out.code = command::Text;
        out.data = {0, 1, 0, 1, 1, 3, 'A', 'B', 'C'};
        const Bytes wire = cp.seal(out);
        const auto received = decode(wire);
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ((*received).packet.securityType, scs::CommandEncrypted);
        const auto opened = pd.open((*received));
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->data, out.data);

        Packet answer;
        answer.address = 3;
        answer.reply = true;
        answer.code = reply::Ack;
        const Bytes back = pd.seal(answer);
        const auto got = decode(back);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ((*got).packet.securityType, scs::ReplyMac);
        ASSERT_TRUE(cp.open((*got)));
        if (round > 0) {
            // The last round's reply, replayed, does not fit this command.
            EXPECT_FALSE(cp.open((*previousReply)));
        }
        previousReply = got;
    }
    Packet poll;
    poll.address = 3;
    poll.code = command::Poll;
    Bytes wire = cp.seal(poll);
    wire[7] ^= 0x01; // the code changed on the way: the MAC no longer fits
    wire.resize(wire.size() - 2);
    const std::uint16_t crc = crc16(wire);
    wire.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    wire.push_back(static_cast<std::uint8_t>(crc >> 8));
    const auto tampered = decode(wire);
    ASSERT_TRUE(tampered.has_value());
    EXPECT_FALSE(pd.open((*tampered)));
}

} // namespace

// Every typed message against its bytes as the OSDP tables lay them out,
// written out by hand here (not produced by the code under test), both
// ways: encoding gives the bytes, decoding the bytes and encoding again
// gives them back. Then what a reader's malformed or odd message becomes.
#include "OsdpMessages.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace parking::osdp;

namespace {

Block counting(std::uint8_t from)
{
    Block b{};
    std::iota(b.begin(), b.end(), from);
    return b;
}

struct Wire {
    std::uint8_t code;
    Bytes data;
    std::optional<std::uint8_t> securityType = std::nullopt;
    Bytes securityData = {};
};

Packet packetOf(const Wire& w, bool reply)
{
    Packet p;
    p.reply = reply;
    p.code = w.code;
    p.data = w.data;
    p.securityType = w.securityType;
    p.securityData = w.securityData;
    return p;
}

void expectFields(const MessageFields& f, const Wire& w)
{
    EXPECT_EQ(f.code, w.code);
    EXPECT_EQ(f.data, w.data);
    EXPECT_EQ(f.securityType, w.securityType);
    EXPECT_EQ(f.securityData, w.securityData);
}

struct CommandCase {
    const char* name;
    Command command;
    Wire wire;
};

class CommandBytes : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandBytes, EncodeToTheTableAndBack)
{
    const CommandCase& c = GetParam();
    expectFields(encodeCommand(c.command), c.wire);
    EXPECT_EQ(codeOf(c.command), c.wire.code);
    const auto decoded = decodeCommand(packetOf(c.wire, false));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->index(), c.command.index());
    expectFields(encodeCommand(*decoded), c.wire);
}

const Random EightUp{1, 2, 3, 4, 5, 6, 7, 8};

INSTANTIATE_TEST_SUITE_P(
    Osdp, CommandBytes,
    ::testing::Values(
        CommandCase{"Poll", PollCommand{}, {0x60, {}}},
        CommandCase{"Id", IdRequest{}, {0x61, {0x00}}},
        CommandCase{"Capabilities", CapabilitiesRequest{}, {0x62, {0x00}}},
        CommandCase{"LocalStatus", LocalStatusRequest{}, {0x64, {}}},
        CommandCase{"InputStatus", InputStatusRequest{}, {0x65, {}}},
        // Output 0 on for 30 s (300 tenths), then back to its permanent state.
        CommandCase{"Output", OutputCommand{0, OutputControl::TemporaryOn, 300}, {0x68, {0x00, 0x05, 0x2C, 0x01}}},
        // Reader 0, LED 1: red 0.3 s / green 0.2 s for 25.8 s, then amber steadily.
        CommandCase{"Led",
                    LedCommand{0, 1, {TemporaryLedControl::Set, 3, 2, LedColour::Red, LedColour::Green, 0x0102},
                               {PermanentLedControl::Set, 1, 0, LedColour::Amber, LedColour::Black}},
                    {0x69, {0x00, 0x01, 0x02, 0x03, 0x02, 0x01, 0x02, 0x02, 0x01, 0x01, 0x01, 0x00, 0x03, 0x00}}},
        CommandCase{"Buzzer", BuzzerCommand{0, BuzzerTone::Default, 2, 1, 3}, {0x6A, {0x00, 0x02, 0x02, 0x01, 0x03}}},
        CommandCase{"Text", TextCommand{0, TextControl::PermanentNoWrap, 0, 2, 5, {'H', 'I'}},
                    {0x6B, {0x00, 0x01, 0x00, 0x02, 0x05, 0x02, 'H', 'I'}}},
        CommandCase{"ComSet", ComSetCommand{5, 115200}, {0x6E, {0x05, 0x00, 0xC2, 0x01, 0x00}}},
        CommandCase{"KeySet", KeySetCommand{counting(0)},
                    {0x75, {0x01, 0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}}},
        CommandCase{"ReceiveSize", ReceiveSizeCommand{1024}, {0x7B, {0x00, 0x04}}},
        // Type 1, 74,565 bytes in all, this fragment at 256.
        CommandCase{"FileTransfer", FileTransferCommand{1, 0x012345, 0x100, {0xAA, 0xBB}},
                    {0x7C, {0x01, 0x45, 0x23, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0xAA, 0xBB}}},
        CommandCase{"Challenge", ChallengeCommand{1, EightUp}, {0x76, {1, 2, 3, 4, 5, 6, 7, 8}, 0x11, {0x01}}},
        CommandCase{"ServerCryptogram", ServerCryptogramCommand{0, counting(16)},
                    {0x77, {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}, 0x13, {0x00}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplyCase {
    const char* name;
    Reply reply;
    Wire wire;
};

class ReplyBytes : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyBytes, EncodeToTheTableAndBack)
{
    const ReplyCase& c = GetParam();
    expectFields(encodeReply(c.reply), c.wire);
    const auto decoded = decodeReply(packetOf(c.wire, true));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->index(), c.reply.index());
    expectFields(encodeReply(*decoded), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Osdp, ReplyBytes,
    ::testing::Values(
        ReplyCase{"Ack", AckReply{}, {0x40, {}}},
        ReplyCase{"Nak", NakReply{nak::Sequence}, {0x41, {0x04}}},
        ReplyCase{"Busy", BusyReply{}, {0x79, {}}},
        // Vendor 0A0B0C, model 1, version 2, serial 12345678, firmware 1.2.3.
        ReplyCase{"Identity", Identity{0x0A0B0C, 1, 2, 0x12345678, 0x010203},
                  {0x45, {0x0C, 0x0B, 0x0A, 0x01, 0x02, 0x78, 0x56, 0x34, 0x12, 0x01, 0x02, 0x03}}},
        ReplyCase{"Capabilities", CapabilitiesReply{{{1, 1, 4}, {10, 0x00, 0x04}}},
                  {0x46, {0x01, 0x01, 0x04, 0x0A, 0x00, 0x04}}},
        ReplyCase{"LocalStatus", LocalStatus{true, false}, {0x48, {0x01, 0x00}}},
        ReplyCase{"InputStatus", InputStatusReply{{0x00, 0x01}}, {0x49, {0x00, 0x01}}},
        ReplyCase{"RawCard", RawCardReply{0, 1, 26, {0xAA, 0xBB, 0xCC, 0x40}},
                  {0x50, {0x00, 0x01, 0x1A, 0x00, 0xAA, 0xBB, 0xCC, 0x40}}},
        ReplyCase{"FormattedCard", FormattedCardReply{0, 0, QStringLiteral("%B1?")},
                  {0x51, {0x00, 0x00, 0x04, '%', 'B', '1', '?'}}},
        ReplyCase{"Keypad", KeypadReply{0, QStringLiteral("12")}, {0x53, {0x00, 0x02, '1', '2'}}},
        ReplyCase{"Com", ComReply{5, 9600}, {0x54, {0x05, 0x80, 0x25, 0x00, 0x00}}},
        ReplyCase{"ClientCryptogram",
                  ClientCryptogramReply{1, {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8}, EightUp, counting(32)},
                  {0x76,
                   {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 1,  2,  3,  4,  5,  6,  7,  8,
                    32,   33,   34,   35,   36,   37,   38,   39,   40, 41, 42, 43, 44, 45, 46, 47},
                   0x12,
                   {0x01}}},
        ReplyCase{"InitialRmacAccepted", InitialRmacReply{true, counting(0)},
                  {0x78, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0x14, {0x01}}},
        ReplyCase{"InitialRmacRefused", InitialRmacReply{false, counting(0)},
                  {0x78, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0x14, {0xFF}}},
        // May interleave, wait 258 ms, refused (-1), at most 128 bytes a fragment from now on.
        ReplyCase{"FileTransferStatus", FileTransferStatusReply{1, 0x0102, -1, 128},
                  {0x7A, {0x01, 0x02, 0x01, 0xFF, 0xFF, 0x80, 0x00}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    bool reply;
    Wire wire;
    MessageFault fault;
};

class MalformedMessage : public ::testing::TestWithParam<FaultCase> {};

TEST_P(MalformedMessage, IsRefusedWithItsReason)
{
    const FaultCase& c = GetParam();
    const Packet p = packetOf(c.wire, c.reply);
    if (c.reply) {
        const auto r = decodeReply(p);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), c.fault);
    } else {
        const auto r = decodeCommand(p);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), c.fault);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Osdp, MalformedMessage,
    ::testing::Values(FaultCase{"OutputShort", false, {0x68, {0x00, 0x05, 0x2C}}, MessageFault::TooShort},
                      FaultCase{"LedShort", false, {0x69, Bytes(13, 0)}, MessageFault::TooShort},
                      FaultCase{"TextCountPastData", false, {0x6B, {0, 1, 0, 1, 1, 5, 'a'}}, MessageFault::TooShort},
                      FaultCase{"ComSetBroadcastAddress", false, {0x6E, {0x7F, 0x80, 0x25, 0, 0}}, MessageFault::BadValue},
                      FaultCase{"KeySetNotABaseKey", false, {0x75, Bytes{0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                                MessageFault::BadValue},
                      FaultCase{"FileTransferFragmentPastData", false, {0x7C, {1, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0xAA}},
                                MessageFault::TooShort},
                      FaultCase{"UnknownCommand", false, {0x99, {}}, MessageFault::UnknownCode},
                      FaultCase{"IdentityShort", true, {0x45, Bytes(11, 0)}, MessageFault::TooShort},
                      FaultCase{"RawCardShort", true, {0x50, {0, 1, 26}}, MessageFault::TooShort},
                      FaultCase{"CryptogramWithoutSecurityBlock", true, {0x76, Bytes(32, 0)}, MessageFault::BadValue},
                      FaultCase{"RmacWithoutSecurityBlock", true, {0x78, Bytes(16, 0)}, MessageFault::BadValue},
                      FaultCase{"FileTransferStatusShort", true, {0x7A, Bytes(6, 0)}, MessageFault::TooShort},
                      FaultCase{"UnknownReply", true, {0x99, {}}, MessageFault::UnknownCode}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OsdpReplies, WhatReadersInTheFieldSendIsTakenWithoutReadingPastIt)
{
    // A count longer than the characters that came: cut to what came.
    const auto card = decodeReply(packetOf({0x51, {0x00, 0x00, 0x0A, '1', '2'}}, true));
    ASSERT_TRUE(card.has_value());
    EXPECT_EQ(std::get<FormattedCardReply>(*card).text, QStringLiteral("12"));
    // A longer identity than the table's: its fields still where they belong.
    Bytes longer{0x0C, 0x0B, 0x0A, 0x01, 0x02, 0x78, 0x56, 0x34, 0x12, 0x01, 0x02, 0x03, 0xEE};
    const auto id = decodeReply(packetOf({0x45, longer}, true));
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(std::get<Identity>(*id).serial, 0x12345678u);
    // A NAK without its error byte, and a capabilities report cut mid-record.
    EXPECT_EQ(std::get<NakReply>(*decodeReply(packetOf({0x41, {}}, true))).error, 0);
    const auto caps = decodeReply(packetOf({0x46, {0x04, 0x01, 0x01, 0x05}}, true));
    ASSERT_TRUE(caps.has_value());
    EXPECT_EQ(std::get<CapabilitiesReply>(*caps).records.size(), 1u);
}

TEST(OsdpReplies, CapabilitiesAreSummarisedAsTheProgramUsesThem)
{
    const Capabilities c = summarise(CapabilitiesReply{{{capability::Inputs, 1, 4},
                                                        {capability::Outputs, 1, 1},
                                                        {capability::Leds, 0, 0},
                                                        {capability::Buzzer, 1, 1},
                                                        {capability::Text, 1, 2},
                                                        {capability::SecureChannel, 0, 0},
                                                        {capability::ReceiveSize, 0x00, 0x04}}});
    EXPECT_EQ(c.inputs, 4);
    EXPECT_TRUE(c.output);
    EXPECT_FALSE(c.led); // said, but with nothing in it
    EXPECT_TRUE(c.buzzer);
    EXPECT_TRUE(c.text);
    EXPECT_EQ(c.secureChannel, false); // said: no AES-128
    EXPECT_EQ(c.receiveSize, 1024);
    EXPECT_EQ(summarise(CapabilitiesReply{}).secureChannel, std::nullopt); // not said
}

TEST(OsdpCommands, LongFieldsAreCutToWhatTheirCountCanSay)
{
    const MessageFields text = encodeCommand(TextCommand{0, TextControl::PermanentNoWrap, 0, 1, 1, Bytes(300, 'x')});
    EXPECT_EQ(text.data[5], 255);
    EXPECT_EQ(text.data.size(), 6u + 255u);
}

} // namespace

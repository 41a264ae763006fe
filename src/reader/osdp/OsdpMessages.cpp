#include "OsdpMessages.h"
#include "OsdpFields.h"
#include "Overloaded.h"

#include <algorithm>

namespace parking::osdp {

namespace {

using namespace fields;

constexpr std::uint8_t BaseKeyType = 0x01;

Bytes ledBytes(const LedCommand& c)
{
    const TemporaryLed& t = c.temporary;
    const PermanentLed& p = c.permanent;
    Bytes d{c.reader,
            c.led,
            static_cast<std::uint8_t>(t.control),
            t.onTime,
            t.offTime,
            static_cast<std::uint8_t>(t.onColour),
            static_cast<std::uint8_t>(t.offColour)};
    put16(d, t.timer);
    d.insert(d.end(), {static_cast<std::uint8_t>(p.control), p.onTime, p.offTime, static_cast<std::uint8_t>(p.onColour),
                       static_cast<std::uint8_t>(p.offColour)});
    return d;
}

LedColour colour(std::uint8_t v)
{
    return static_cast<LedColour>(v);
}

} // namespace

std::uint8_t codeOf(const Command& command)
{
    return std::visit(Overloaded{
                          [](const PollCommand&) { return command::Poll; },
                          [](const IdRequest&) { return command::Id; },
                          [](const CapabilitiesRequest&) { return command::Capabilities; },
                          [](const LocalStatusRequest&) { return command::LocalStatus; },
                          [](const InputStatusRequest&) { return command::InputStatus; },
                          [](const OutputCommand&) { return command::Output; },
                          [](const LedCommand&) { return command::Led; },
                          [](const BuzzerCommand&) { return command::Buzzer; },
                          [](const TextCommand&) { return command::Text; },
                          [](const ComSetCommand&) { return command::ComSet; },
                          [](const KeySetCommand&) { return command::KeySet; },
                          [](const ReceiveSizeCommand&) { return command::ReceiveSize; },
                          [](const FileTransferCommand&) { return command::FileTransfer; },
                          [](const ChallengeCommand&) { return command::Challenge; },
                          [](const ServerCryptogramCommand&) { return command::ServerCryptogram; },
                      },
                      command);
}

MessageFields encodeCommand(const Command& command)
{
    MessageFields f;
    f.code = codeOf(command);
    std::visit(Overloaded{
                   [](const PollCommand&) {},
                   [&](const IdRequest&) { f.data = {0x00}; },
                   [&](const CapabilitiesRequest&) { f.data = {0x00}; },
                   [](const LocalStatusRequest&) {},
                   [](const InputStatusRequest&) {},
                   [&](const OutputCommand& c) {
                       f.data = {c.output, static_cast<std::uint8_t>(c.control)};
                       put16(f.data, c.timer);
                   },
                   [&](const LedCommand& c) { f.data = ledBytes(c); },
                   [&](const BuzzerCommand& c) {
                       f.data = {c.reader, static_cast<std::uint8_t>(c.tone), c.onTime, c.offTime, c.count};
                   },
                   [&](const TextCommand& c) {
                       const std::size_t length = std::min<std::size_t>(c.text.size(), 255);
                       f.data = {c.reader,
                                 static_cast<std::uint8_t>(c.control),
                                 c.temporarySeconds,
                                 c.row,
                                 c.column,
                                 static_cast<std::uint8_t>(length)};
                       f.data.insert(f.data.end(), c.text.begin(), c.text.begin() + static_cast<std::ptrdiff_t>(length));
                   },
                   [&](const ComSetCommand& c) {
                       f.data = {c.address};
                       put32(f.data, c.baud);
                   },
                   [&](const KeySetCommand& c) {
                       f.data = {BaseKeyType, static_cast<std::uint8_t>(c.key.size())};
                       append(f.data, c.key);
                   },
                   [&](const ReceiveSizeCommand& c) { put16(f.data, c.size); },
                   [&](const FileTransferCommand& c) {
                       const std::size_t length = std::min<std::size_t>(c.fragment.size(), 0xFFFF);
                       f.data = {c.type};
                       put32(f.data, c.totalSize);
                       put32(f.data, c.offset);
                       put16(f.data, static_cast<std::uint16_t>(length));
                       f.data.insert(f.data.end(), c.fragment.begin(),
                                     c.fragment.begin() + static_cast<std::ptrdiff_t>(length));
                   },
                   [&](const ChallengeCommand& c) {
                       f.securityType = scs::Challenge;
                       f.securityData = {c.keySelector};
                       append(f.data, c.controllerRandom);
                   },
                   [&](const ServerCryptogramCommand& c) {
                       f.securityType = scs::ServerCryptogram;
                       f.securityData = {c.keySelector};
                       append(f.data, c.cryptogram);
                   },
               },
               command);
    return f;
}

Result<Command, MessageFault> decodeCommand(const Packet& p)
{
    const Bytes& d = p.data;
    const auto tooShort = failureOf(MessageFault::TooShort);
    switch (p.code) {
    case command::Poll:
        return Command{PollCommand{}};
    case command::Id:
        return Command{IdRequest{}};
    case command::Capabilities:
        return Command{CapabilitiesRequest{}};
    case command::LocalStatus:
        return Command{LocalStatusRequest{}};
    case command::InputStatus:
        return Command{InputStatusRequest{}};
    case command::Output:
        if (d.size() < 4)
            return tooShort;
        return Command{OutputCommand{d[0], static_cast<OutputControl>(d[1]), get16(d, 2)}};
    case command::Led: {
        if (d.size() < 14)
            return tooShort;
        LedCommand c;
        c.reader = d[0];
        c.led = d[1];
        c.temporary = {static_cast<TemporaryLedControl>(d[2]), d[3], d[4], colour(d[5]), colour(d[6]), get16(d, 7)};
        c.permanent = {static_cast<PermanentLedControl>(d[9]), d[10], d[11], colour(d[12]), colour(d[13])};
        return Command{c};
    }
    case command::Buzzer:
        if (d.size() < 5)
            return tooShort;
        return Command{BuzzerCommand{d[0], static_cast<BuzzerTone>(d[1]), d[2], d[3], d[4]}};
    case command::Text: {
        if (d.size() < 6 || d.size() < 6u + d[5])
            return tooShort;
        TextCommand c{d[0], static_cast<TextControl>(d[1]), d[2], d[3], d[4], {}};
        c.text.assign(d.begin() + 6, d.begin() + 6 + d[5]);
        return Command{std::move(c)};
    }
    case command::ComSet:
        if (d.size() < 5)
            return tooShort;
        if (d[0] > MaxAddress)
            return failureOf(MessageFault::BadValue);
        return Command{ComSetCommand{d[0], get32(d, 1)}};
    case command::KeySet:
        if (d.size() < 18)
            return tooShort;
        if (d[0] != BaseKeyType || d[1] != 16)
            return failureOf(MessageFault::BadValue);
        return Command{KeySetCommand{array<16>(d, 2)}};
    case command::ReceiveSize:
        if (d.size() < 2)
            return tooShort;
        return Command{ReceiveSizeCommand{get16(d, 0)}};
    case command::FileTransfer: {
        if (d.size() < 11)
            return tooShort;
        const std::uint16_t length = get16(d, 9);
        if (d.size() < 11u + length)
            return tooShort;
        FileTransferCommand c{d[0], get32(d, 1), get32(d, 5), {}};
        c.fragment.assign(d.begin() + 11, d.begin() + 11 + length);
        return Command{std::move(c)};
    }
    case command::Challenge:
        if (d.size() < 8)
            return tooShort;
        return Command{ChallengeCommand{p.securityData.empty() ? std::uint8_t(0) : p.securityData[0], array<8>(d, 0)}};
    case command::ServerCryptogram:
        if (d.size() < 16)
            return tooShort;
        return Command{
            ServerCryptogramCommand{p.securityData.empty() ? std::uint8_t(0) : p.securityData[0], array<16>(d, 0)}};
    default:
        return failureOf(MessageFault::UnknownCode);
    }
}

std::size_t packetSize(bool sealed, const MessageFields& f)
{
    // Header, security block, code, MAC and CRC around a sealed command's data.
    constexpr std::size_t SealedOverhead = 5 + 2 + 1 + 4 + 2;
    if (sealed) {
        const std::size_t data = f.data.empty() ? 0 : (f.data.size() + 1 + 15) / 16 * 16;
        return SealedOverhead + data;
    }
    return 5 + (f.securityType ? 2 + f.securityData.size() : 0) + 1 + f.data.size() + 2;
}

} // namespace parking::osdp

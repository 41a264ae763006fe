#include "OsdpFields.h"
#include "OsdpMessages.h"
#include "Overloaded.h"

namespace parking::osdp {

namespace {

using namespace fields;

constexpr std::uint8_t RmacAccepted = 0x01;
constexpr std::uint8_t RmacRefused = 0xFF;

} // namespace

Capabilities summarise(const CapabilitiesReply& reply)
{
    Capabilities c;
    for (const Capability& r : reply.records) {
        const bool has = r.compliance != 0 || r.items != 0;
        switch (r.function) {
        case capability::Inputs:
            c.inputs = r.items;
            break;
        case capability::Outputs:
            c.output = has;
            break;
        case capability::Leds:
            c.led = has;
            break;
        case capability::Buzzer:
            c.buzzer = has;
            break;
        case capability::Text:
            c.text = has;
            break;
        case capability::SecureChannel:
            c.secureChannel = (r.compliance & 0x01) != 0; // AES-128
            break;
        case capability::ReceiveSize:
            c.receiveSize = r.compliance | (r.items << 8);
            break;
        default:
            break;
        }
    }
    return c;
}

Result<Reply, MessageFault> decodeReply(const Packet& p)
{
    const Bytes& d = p.data;
    const auto tooShort = failureOf(MessageFault::TooShort);
    switch (p.code) {
    case reply::Ack:
        return Reply{AckReply{}};
    case reply::Nak:
        return Reply{NakReply{d.empty() ? std::uint8_t(0) : d[0]}};
    case reply::Busy:
        return Reply{BusyReply{}};
    case reply::Identity:
        if (d.size() < 12)
            return tooShort;
        return Reply{Identity{get24(d, 0), d[3], d[4], get32(d, 5), static_cast<std::uint32_t>((d[9] << 16) | (d[10] << 8) | d[11])}};
    case reply::Capabilities: {
        CapabilitiesReply c;
        for (std::size_t i = 0; i + 2 < d.size(); i += 3)
            c.records.push_back({d[i], d[i + 1], d[i + 2]});
        return Reply{std::move(c)};
    }
    case reply::LocalStatus:
        if (d.size() < 2)
            return tooShort;
        return Reply{LocalStatus{d[0] != 0, d[1] != 0}};
    case reply::InputStatus:
        return Reply{InputStatusReply{d}};
    case reply::RawCard:
        if (d.size() < 4)
            return tooShort;
        return Reply{RawCardReply{d[0], d[1], get16(d, 2), Bytes(d.begin() + 4, d.end())}};
    case reply::FormattedCard:
        if (d.size() < 3)
            return tooShort;
        return Reply{FormattedCardReply{d[0], d[1], latinRun(d, 2)}};
    case reply::Keypad:
        if (d.size() < 2)
            return tooShort;
        return Reply{KeypadReply{d[0], latinRun(d, 1)}};
    case reply::Com:
        if (d.size() < 5)
            return tooShort;
        return Reply{ComReply{d[0], get32(d, 1)}};
    case reply::ClientCryptogram:
        if (p.securityType != scs::ClientCryptogram)
            return failureOf(MessageFault::BadValue);
        if (d.size() < 32)
            return tooShort;
        return Reply{ClientCryptogramReply{p.securityData.empty() ? std::uint8_t(0) : p.securityData[0], array<8>(d, 0),
                                           array<8>(d, 8), array<16>(d, 16)}};
    case reply::InitialRmac:
        if (p.securityType != scs::InitialRmac)
            return failureOf(MessageFault::BadValue);
        if (d.size() < 16)
            return tooShort;
        return Reply{InitialRmacReply{p.securityData.empty() || p.securityData[0] == RmacAccepted, array<16>(d, 0)}};
    case reply::FileTransferStatus:
        if (d.size() < 7)
            return tooShort;
        return Reply{FileTransferStatusReply{d[0], get16(d, 1), static_cast<std::int16_t>(get16(d, 3)), get16(d, 5)}};
    default:
        return failureOf(MessageFault::UnknownCode);
    }
}

MessageFields encodeReply(const Reply& reply)
{
    MessageFields f;
    std::visit(Overloaded{
                   [&](const AckReply&) { f.code = reply::Ack; },
                   [&](const NakReply& r) {
                       f.code = reply::Nak;
                       f.data = {r.error};
                   },
                   [&](const BusyReply&) { f.code = reply::Busy; },
                   [&](const Identity& r) {
                       f.code = reply::Identity;
                       put32(f.data, r.vendor);
                       f.data.pop_back(); // three bytes
                       f.data.insert(f.data.end(), {r.model, r.version});
                       put32(f.data, r.serial);
                       f.data.insert(f.data.end(),
                                     {static_cast<std::uint8_t>((r.firmware >> 16) & 0xFF),
                                      static_cast<std::uint8_t>((r.firmware >> 8) & 0xFF),
                                      static_cast<std::uint8_t>(r.firmware & 0xFF)});
                   },
                   [&](const CapabilitiesReply& r) {
                       f.code = reply::Capabilities;
                       for (const Capability& c : r.records)
                           f.data.insert(f.data.end(), {c.function, c.compliance, c.items});
                   },
                   [&](const LocalStatus& r) {
                       f.code = reply::LocalStatus;
                       f.data = {r.tamper ? std::uint8_t(1) : std::uint8_t(0), r.powerLost ? std::uint8_t(1) : std::uint8_t(0)};
                   },
                   [&](const InputStatusReply& r) {
                       f.code = reply::InputStatus;
                       f.data = r.states;
                   },
                   [&](const RawCardReply& r) {
                       f.code = reply::RawCard;
                       f.data = {r.reader, r.format};
                       put16(f.data, r.bits);
                       f.data.insert(f.data.end(), r.data.begin(), r.data.end());
                   },
                   [&](const FormattedCardReply& r) {
                       f.code = reply::FormattedCard;
                       f.data = {r.reader, r.direction};
                       appendLatin(f.data, r.text);
                   },
                   [&](const KeypadReply& r) {
                       f.code = reply::Keypad;
                       f.data = {r.reader};
                       appendLatin(f.data, r.digits);
                   },
                   [&](const ComReply& r) {
                       f.code = reply::Com;
                       f.data = {r.address};
                       put32(f.data, r.baud);
                   },
                   [&](const ClientCryptogramReply& r) {
                       f.code = reply::ClientCryptogram;
                       f.securityType = scs::ClientCryptogram;
                       f.securityData = {r.keySelector};
                       append(f.data, r.clientId);
                       append(f.data, r.readerRandom);
                       append(f.data, r.cryptogram);
                   },
                   [&](const InitialRmacReply& r) {
                       f.code = reply::InitialRmac;
                       f.securityType = scs::InitialRmac;
                       f.securityData = {r.cryptogramAccepted ? RmacAccepted : RmacRefused};
                       append(f.data, r.rmac);
                   },
                   [&](const FileTransferStatusReply& r) {
                       f.code = reply::FileTransferStatus;
                       f.data = {r.action};
                       put16(f.data, r.delayMs);
                       put16(f.data, static_cast<std::uint16_t>(r.status));
                       put16(f.data, r.updateMax);
                   },
               },
               reply);
    return f;
}

} // namespace parking::osdp

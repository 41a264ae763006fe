#include "OsdpCodec.h"

#include <algorithm>

namespace parking::osdp {

namespace {

constexpr std::uint8_t CtrlSequenceMask = 0x03;
constexpr std::uint8_t CtrlCrc = 0x04;
constexpr std::uint8_t CtrlSecurityBlock = 0x08;
constexpr std::size_t HeaderSize = 5; // SOM, ADDR, LEN (2), CTRL

bool macType(std::uint8_t type)
{
    return type >= scs::CommandMac && type <= scs::ReplyEncrypted;
}

} // namespace

bool Packet::hasMac() const
{
    return securityType && macType(*securityType);
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = 0x1D0F;
    for (std::uint8_t b : bytes) {
        crc ^= static_cast<std::uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::uint8_t checksum(std::span<const std::uint8_t> bytes)
{
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes)
        sum = static_cast<std::uint8_t>(sum + b);
    return static_cast<std::uint8_t>(-sum);
}

Bytes encode(const Packet& p, const MacFunction& mac)
{
    const bool withMac = p.hasMac();
    const std::size_t scbSize = p.securityType ? 2 + p.securityData.size() : 0;
    const std::size_t length =
        HeaderSize + scbSize + 1 + p.data.size() + (withMac ? 4 : 0) + (p.crc ? 2 : 1);
    Bytes out;
    out.reserve(length);
    out.push_back(StartOfMessage);
    out.push_back(static_cast<std::uint8_t>((p.address & 0x7F) | (p.reply ? ReplyFlag : 0)));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>((p.sequence & CtrlSequenceMask) | (p.crc ? CtrlCrc : 0) |
                                            (p.securityType ? CtrlSecurityBlock : 0)));
    if (p.securityType) {
        out.push_back(static_cast<std::uint8_t>(scbSize));
        out.push_back(*p.securityType);
        out.insert(out.end(), p.securityData.begin(), p.securityData.end());
    }
    out.push_back(p.code);
    out.insert(out.end(), p.data.begin(), p.data.end());
    if (withMac) {
        const Mac m = mac ? mac(out) : p.mac.value_or(Mac{});
        out.insert(out.end(), m.begin(), m.end());
    }
    if (p.crc) {
        const std::uint16_t c = crc16(out);
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    } else {
        out.push_back(checksum(out));
    }
    return out;
}

Result<Decoded, DecodeError> decode(std::span<const std::uint8_t> f)
{
    if (f.size() < MinPacketSize)
        return failureOf(DecodeError::TooShort);
    if (f[0] != StartOfMessage)
        return failureOf(DecodeError::BadStart);
    const std::size_t length = f[2] | (static_cast<std::size_t>(f[3]) << 8);
    if (length > MaxPacketSize || f.size() > MaxPacketSize)
        return failureOf(DecodeError::Oversized);
    if (length != f.size())
        return failureOf(DecodeError::LengthMismatch);
    const std::uint8_t ctrl = f[4];
    const bool crc = ctrl & CtrlCrc;
    const std::size_t checkSize = crc ? 2 : 1;
    if (length < HeaderSize + 1 + checkSize)
        return failureOf(DecodeError::TooShort);
    const auto body = f.first(length - checkSize);
    if (crc) {
        if (crc16(body) != (f[length - 2] | (f[length - 1] << 8)))
            return failureOf(DecodeError::BadCheck);
    } else if (checksum(body) != f[length - 1]) {
        return failureOf(DecodeError::BadCheck);
    }

    Decoded d;
    Packet& p = d.packet;
    p.address = f[1] & 0x7F;
    p.reply = f[1] & ReplyFlag;
    p.sequence = ctrl & CtrlSequenceMask;
    p.crc = crc;
    std::size_t at = HeaderSize;
    if (ctrl & CtrlSecurityBlock) {
        const std::size_t scbSize = f[at];
        if (scbSize < 2 || at + scbSize >= body.size())
            return failureOf(DecodeError::BadSecurityBlock);
        p.securityType = f[at + 1];
        p.securityData.assign(f.begin() + static_cast<std::ptrdiff_t>(at + 2),
                              f.begin() + static_cast<std::ptrdiff_t>(at + scbSize));
        at += scbSize;
    }
    std::size_t end = body.size();
    if (p.hasMac()) {
        if (end < at + 1 + 4)
            return failureOf(DecodeError::BadSecurityBlock);
        end -= 4;
        Mac m{};
        std::copy_n(f.begin() + static_cast<std::ptrdiff_t>(end), 4, m.begin());
        p.mac = m;
        d.macCovered.assign(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(end));
    }
    p.code = f[at];
    p.data.assign(f.begin() + static_cast<std::ptrdiff_t>(at + 1), f.begin() + static_cast<std::ptrdiff_t>(end));
    return d;
}

void FrameReader::feed(std::span<const std::uint8_t> bytes)
{
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

bool FrameReader::plausibleStart(std::size_t at) const
{
    if (at + 1 < buffer_.size() && expected_ && buffer_[at + 1] != *expected_)
        return false;
    if (at + 3 < buffer_.size()) {
        const std::size_t length = buffer_[at + 2] | (static_cast<std::size_t>(buffer_[at + 3]) << 8);
        return length >= MinPacketSize && length <= MaxPacketSize;
    }
    return true;
}

std::optional<Decoded> FrameReader::laterWholePacket()
{
    for (std::size_t at = 1; at + MinPacketSize <= buffer_.size(); ++at) {
        if (buffer_[at] != StartOfMessage || !plausibleStart(at))
            continue;
        const std::size_t length = buffer_[at + 2] | (static_cast<std::size_t>(buffer_[at + 3]) << 8);
        if (at + length > buffer_.size())
            continue;
        auto result = decode(std::span(buffer_).subspan(at, length));
        if (result) {
            Decoded out = std::move(*result);
            dropped_ += 1;
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at + length));
            return out;
        }
    }
    return std::nullopt;
}

std::optional<Decoded> FrameReader::next()
{
    for (;;) {
        const auto som = std::find(buffer_.begin(), buffer_.end(), StartOfMessage);
        if (som != buffer_.begin()) {
            // Line noise or a mark byte between packets.
            buffer_.erase(buffer_.begin(), som);
        }
        if (buffer_.empty())
            return std::nullopt;
        if (!plausibleStart(0)) {
            ++dropped_;
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() < 4)
            return std::nullopt;
        const std::size_t length = buffer_[2] | (static_cast<std::size_t>(buffer_[3]) << 8);
        if (buffer_.size() < length)
            return laterWholePacket();
        auto result = decode(std::span(buffer_).first(length));
        if (result) {
            Decoded out = std::move(*result);
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
            return out;
        }
        ++dropped_;
        buffer_.erase(buffer_.begin());
    }
}

} // namespace parking::osdp

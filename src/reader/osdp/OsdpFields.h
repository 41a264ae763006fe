#pragma once
// The byte-level pieces of the messages' fields: numbers least significant
// byte first, fixed arrays, count-prefixed Latin-1 runs. Only for
// OsdpMessages.cpp and OsdpReplies.cpp; every read is checked against the
// data's size by its caller first.
#include "OsdpCodec.h"

#include <QString>

#include <algorithm>
#include <array>

namespace parking::osdp::fields {

inline void put16(Bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void put32(Bytes& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

inline std::uint16_t get16(const Bytes& d, std::size_t at)
{
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

inline std::uint32_t get24(const Bytes& d, std::size_t at)
{
    return static_cast<std::uint32_t>(d[at] | (d[at + 1] << 8) | (d[at + 2] << 16));
}

inline std::uint32_t get32(const Bytes& d, std::size_t at)
{
    return get24(d, at) | (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

template <std::size_t N>
std::array<std::uint8_t, N> array(const Bytes& d, std::size_t at)
{
    std::array<std::uint8_t, N> out{};
    std::copy_n(d.begin() + static_cast<std::ptrdiff_t>(at), N, out.begin());
    return out;
}

template <std::size_t N>
void append(Bytes& out, const std::array<std::uint8_t, N>& a)
{
    out.insert(out.end(), a.begin(), a.end());
}

// A count-prefixed run of Latin-1 characters, cut to what arrived.
inline QString latinRun(const Bytes& d, std::size_t countAt)
{
    const std::size_t from = countAt + 1;
    const std::size_t length = std::min<std::size_t>(d[countAt], d.size() - from);
    return QString::fromLatin1(reinterpret_cast<const char*>(d.data()) + from, static_cast<qsizetype>(length));
}

inline void appendLatin(Bytes& out, const QString& text)
{
    const QByteArray latin = text.toLatin1().left(255);
    out.push_back(static_cast<std::uint8_t>(latin.size()));
    out.insert(out.end(), latin.begin(), latin.end());
}

} // namespace parking::osdp::fields

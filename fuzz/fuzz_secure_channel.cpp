// The Secure Channel's unwrap: a reader's secure reply opens to exactly
// what it sealed, and no change to its bytes opens at all.
#include "FuzzSupport.h"
#include "OsdpCodec.h"
#include "SecureChannel.h"

using namespace parking::fuzz;
using namespace parking::osdp;

namespace {

struct Pair {
    SecureSession controller;
    SecureSession reader;
};

Pair sessions()
{
    const Block base{0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f};
    const Random cp{1, 2, 3, 4, 5, 6, 7, 8};
    const Random pd{9, 10, 11, 12, 13, 14, 15, 16};
    const SessionKeys keys = deriveSessionKeys(base, cp);
    const Block rmac = initialRmac(keys, serverCryptogram(keys, cp, pd));
    return {SecureSession(keys, rmac, true), SecureSession(keys, rmac, false)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // Arbitrary bytes as a secure packet: never opens (a MAC cannot be guessed).
    {
        Pair s = sessions();
        const auto decoded = decode(std::span(data, size));
        if (const Decoded* d = decoded ? &*decoded : nullptr; d && d->packet.hasMac())
            require(!s.controller.open(*d), "an arbitrary packet does not open");
    }
    // The rest of the input as a reply's data: sealed, it opens to itself;
    // with one byte changed (where the input says), it does not.
    Pair s = sessions();
    Packet reply;
    reply.address = 1;
    reply.reply = true;
    reply.sequence = 1;
    reply.code = 0x50;
    // As much as a packet can carry once padded, with its MAC and check.
    reply.data.assign(data + 2, data + std::min<std::size_t>(size, 2 + MaxPacketSize - 64));
    Bytes wire = s.reader.seal(reply);
    Pair fresh = sessions();
    fresh.reader.seal(reply);
    {
        const auto decoded = decode(wire);
        require(decoded.has_value(), "a sealed packet decodes");
        const auto opened = s.controller.open(*decoded);
        require(opened && opened->data == reply.data && opened->code == reply.code, "a sealed reply opens to itself");
    }
    const std::size_t at = ((data[0] << 8) | data[1]) % wire.size();
    wire[at] ^= static_cast<std::uint8_t>(data[at % size] | 1);
    const auto decoded = decode(wire);
    if (const Decoded* d = decoded ? &*decoded : nullptr)
        require(!fresh.controller.open(*d), "a changed byte does not open");
    return 0;
}

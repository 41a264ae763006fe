// Bytes on an OSDP line: the frame decoder, the stream cutter, the typed
// messages read from a frame, and the controller's bus taking them as a
// reader's replies (plain, and in the Secure Channel handshake).
#include "FuzzSupport.h"
#include "OsdpBus.h"
#include "OsdpCodec.h"

using namespace parking::fuzz;
using namespace parking::osdp;

namespace {

// A decoded frame encodes back to its bytes: the same, but for the control
// byte's reserved bits (4 to 7), which a peer should leave clear, which the
// decoder tolerates, and which the encoder never sets.
void roundTrip(std::span<const std::uint8_t> frame)
{
    const auto decoded = decode(frame);
    if (const Decoded* d = decoded ? &*decoded : nullptr) {
        const Packet& p = d->packet;
        const Bytes again = encode(p, [&](std::span<const std::uint8_t>) { return p.mac.value_or(Mac{}); });
        require(again.size() == frame.size(), "a decoded frame encodes back to as many bytes");
        bool same = again[4] == (frame[4] & 0x0F);
        const std::size_t checkFrom = frame.size() - (p.crc ? 2 : 1);
        for (std::size_t i = 0; i < checkFrom && same; ++i)
            same = i == 4 || again[i] == frame[i];
        if ((frame[4] & 0xF0) == 0)
            same = same && std::equal(again.begin(), again.end(), frame.begin());
        require(same, "a decoded frame encodes back to the same bytes");
        require(!p.hasMac() || d->macCovered.size() + 4 + (p.crc ? 2 : 1) == frame.size(),
                "the MAC covers everything before it");
    }
}

// A message read from a packet writes out to fields that read back to the
// same message: what decoding takes, encoding keeps.
template <typename Decode, typename Encode>
void messageRoundTrip(const Packet& packet, Decode decodeMessage, Encode encodeMessage)
{
    const auto message = decodeMessage(packet);
    if (!message)
        return;
    const MessageFields fields = encodeMessage(*message);
    Packet again;
    again.reply = packet.reply;
    again.code = fields.code;
    again.data = fields.data;
    again.securityType = fields.securityType;
    again.securityData = fields.securityData;
    const auto reread = decodeMessage(again);
    require(reread.has_value(), "an encoded message decodes");
    const MessageFields second = encodeMessage(*reread);
    require(second.code == fields.code && second.data == fields.data && second.securityType == fields.securityType &&
                second.securityData == fields.securityData,
            "a message encodes the same after a round trip");
}

void asReplies(std::span<const std::uint8_t> input, ChannelMode mode)
{
    Bytes sent;
    std::size_t events = 0;
    OsdpBus bus([&](const Bytes& b) { sent = b; }, [&](const BusEvent&) { ++events; },
                [](int, const Block&) { return true; });
    TimePoint now{};
    bus.addReader({1, mode, mode == ChannelMode::Off ? std::nullopt : std::optional<Block>(Block{})}, now);
    // Replies in pieces of the lengths the input itself gives.
    std::size_t at = 0;
    while (at < input.size()) {
        bus.tick(now);
        const std::size_t piece = std::min<std::size_t>(input[at] % 64 + 1, input.size() - at - 1);
        bus.received(input.subspan(at + 1, piece), now);
        at += piece + 1;
        now += std::chrono::milliseconds(input[at - 1] % 8 == 0 ? 250 : 20);
    }
    bus.tick(now);
    require(!bus.online(0) || mode == ChannelMode::Off || events > 0, "a reader online was announced");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    roundTrip(input);
    FrameReader reader;
    reader.feed(input);
    while (const auto d = reader.next()) {
        require(d->packet.address <= 0x7F && d->packet.sequence <= 3, "a packet's address and sequence in range");
        messageRoundTrip(d->packet, decodeReply, encodeReply);
        messageRoundTrip(d->packet, decodeCommand, encodeCommand);
    }
    asReplies(input, ChannelMode::Off);
    asReplies(input, ChannelMode::On);
    return 0;
}

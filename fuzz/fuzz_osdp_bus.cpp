// The panel's bus with one reader under sc=on and a stored key, fed
// well-formed replies of any code, data and security block (the harness
// computes the checks and echoes the sequence, so the state machine itself
// is reached), with the clock moving as the input says. Whoever sends them
// does not know the key, so: the reader never comes online, and no card,
// keypad, tamper or key change is ever taken from what it sent.
#include "FuzzSupport.h"
#include "OsdpBus.h"
#include "OsdpCodec.h"

using namespace parking::fuzz;
using namespace parking::osdp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<Packet> sent;
    bool forged = false;
    bool keyStored = false;
    OsdpBus bus(
        [&](const Bytes& frame) {
            if (const auto decoded = decode(frame))
                sent.push_back(decoded->packet);
        },
        [&](const BusEvent& e) {
            forged |= e.as<ReaderOnline>() || e.as<CardBitsRead>() || e.as<CardTrackRead>() || e.as<KeysPressed>() ||
                      e.as<LocalStatusChanged>() || e.as<InputsChanged>() || e.as<ReaderRestarted>() ||
                      e.as<AddressConfirmed>();
        },
        [&](int, const Block&) { return keyStored = true; });
    TimePoint now{};
    ReaderConfig config;
    config.address = 1;
    config.channel = ChannelMode::On;
    // Not the public install key: the stored key of a keyed reader.
    config.key = Block{0x9c, 0x21, 0x5e, 0x07, 0xa4, 0x6b, 0x3d, 0xf0, 0x12, 0x88, 0xc1, 0x5a, 0x7e, 0x33, 0x06, 0xd9};
    const int reader = bus.addReader(config, now);
    bus.tick(now);

    // Records: [what] [code] [length] [data...]; `what` picks the wait
    // before the reply, whether it echoes the command's sequence, and its
    // security block (none, a type with arbitrary data, or one with a MAC).
    std::size_t at = 0;
    while (at + 3 <= size) {
        const std::uint8_t what = data[at];
        Packet reply;
        reply.address = 1;
        reply.reply = true;
        reply.code = data[at + 1];
        const std::size_t length = std::min<std::size_t>(data[at + 2], size - at - 3);
        reply.data.assign(data + at + 3, data + at + 3 + length);
        at += 3 + length;
        now += milliseconds((what & 0x07) * 30);
        bus.tick(now);
        const std::uint8_t sequence = sent.empty() ? 0 : sent.back().sequence;
        reply.sequence = (what & 0x08) ? static_cast<std::uint8_t>((sequence + 1) & 3) : sequence;
        switch ((what >> 4) & 0x03) {
        case 1:
            reply.securityType = static_cast<std::uint8_t>(0x11 + ((what >> 6) & 0x03));
            reply.securityData = {what};
            break;
        case 2:
        case 3:
            reply.securityType = static_cast<std::uint8_t>(0x15 + ((what >> 6) & 0x03));
            reply.mac = Mac{what, reply.code, static_cast<std::uint8_t>(length), 0};
            break;
        default:
            break;
        }
        const Bytes frame = encode(reply, [&](std::span<const std::uint8_t>) { return *reply.mac; });
        bus.received(frame, now);
        bus.tick(now);
        require(!forged, "a reader came online, or a read was taken, from replies made without the key");
        require(!keyStored, "a key change was started by replies made without the key");
        require(!bus.online(reader), "online without a completed handshake");
    }
    return 0;
}

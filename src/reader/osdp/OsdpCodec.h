#pragma once
// OSDP framing, pure: bytes to packets and back, the CRC-16 and the
// checksum. No I/O, no clock, no Qt event loop. A packet on the wire:
//   SOM 0x53 | ADDR (reply: | 0x80) | LEN lsb msb | CTRL | [SCB] | CODE | DATA | [MAC 4] | CRC lsb msb (or CKSUM)
// CTRL: bits 0-1 sequence number, bit 2 CRC (else checksum), bit 3 SCB present.
// LEN counts the whole packet, SOM to the last check byte.
#include "Result.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace parking::osdp {

using Bytes = std::vector<std::uint8_t>;
using Mac = std::array<std::uint8_t, 4>;
// An AES block (keys, cryptograms) and a handshake's random.
using Block = std::array<std::uint8_t, 16>;
using Random = std::array<std::uint8_t, 8>;

constexpr std::uint8_t StartOfMessage = 0x53;
constexpr std::uint8_t ReplyFlag = 0x80;
constexpr std::uint8_t BroadcastAddress = 0x7F;
constexpr std::uint8_t MaxAddress = 126;
// Longest packet we build or accept: the most a reader may send (OSDP 2.2
// lets a controller announce up to this with osdp_ACURXSIZE).
constexpr std::size_t MaxPacketSize = 1440;
// Sent before each packet so a receiver's UART sees a clean start.
constexpr std::uint8_t MarkByte = 0xFF;
// SOM, ADDR, LEN (2), CTRL, CODE and one check byte.
constexpr std::size_t MinPacketSize = 7;

namespace command {
constexpr std::uint8_t Poll = 0x60;
constexpr std::uint8_t Id = 0x61;
constexpr std::uint8_t Capabilities = 0x62;
constexpr std::uint8_t LocalStatus = 0x64;
constexpr std::uint8_t InputStatus = 0x65;
constexpr std::uint8_t Output = 0x68;
constexpr std::uint8_t Led = 0x69;
constexpr std::uint8_t Buzzer = 0x6A;
constexpr std::uint8_t Text = 0x6B;
constexpr std::uint8_t ComSet = 0x6E;
constexpr std::uint8_t KeySet = 0x75;
constexpr std::uint8_t Challenge = 0x76;
constexpr std::uint8_t ServerCryptogram = 0x77;
constexpr std::uint8_t ReceiveSize = 0x7B; // osdp_ACURXSIZE
constexpr std::uint8_t FileTransfer = 0x7C;
} // namespace command

namespace reply {
constexpr std::uint8_t Ack = 0x40;
constexpr std::uint8_t Nak = 0x41;
constexpr std::uint8_t Identity = 0x45;
constexpr std::uint8_t Capabilities = 0x46;
constexpr std::uint8_t LocalStatus = 0x48;
constexpr std::uint8_t InputStatus = 0x49;
constexpr std::uint8_t RawCard = 0x50;
constexpr std::uint8_t FormattedCard = 0x51;
constexpr std::uint8_t Keypad = 0x53;
constexpr std::uint8_t Com = 0x54;
constexpr std::uint8_t ClientCryptogram = 0x76;
constexpr std::uint8_t InitialRmac = 0x78;
constexpr std::uint8_t FileTransferStatus = 0x7A;
constexpr std::uint8_t Busy = 0x79;
} // namespace reply

// NAK error codes.
namespace nak {
constexpr std::uint8_t CheckCharacter = 0x01;
constexpr std::uint8_t CommandLength = 0x02;
constexpr std::uint8_t UnknownCommand = 0x03;
constexpr std::uint8_t Sequence = 0x04;
constexpr std::uint8_t SecurityBlock = 0x05;
constexpr std::uint8_t EncryptionRequired = 0x06;
} // namespace nak

// Security block types: the handshake (0x11-0x14), then MAC only (0x15
// command, 0x16 reply) or MAC and encrypted data (0x17, 0x18).
namespace scs {
constexpr std::uint8_t Challenge = 0x11;
constexpr std::uint8_t ClientCryptogram = 0x12;
constexpr std::uint8_t ServerCryptogram = 0x13;
constexpr std::uint8_t InitialRmac = 0x14;
constexpr std::uint8_t CommandMac = 0x15;
constexpr std::uint8_t ReplyMac = 0x16;
constexpr std::uint8_t CommandEncrypted = 0x17;
constexpr std::uint8_t ReplyEncrypted = 0x18;
} // namespace scs

struct Packet {
    std::uint8_t address = 0; // 0..0x7F, without the reply flag
    bool reply = false;
    std::uint8_t sequence = 0; // 0..3
    bool crc = true;
    // The security block's type and data (its length byte is derived).
    std::optional<std::uint8_t> securityType;
    Bytes securityData;
    std::uint8_t code = 0;
    Bytes data; // as on the wire: encrypted for 0x17/0x18
    std::optional<Mac> mac;

    // Whether the packet carries a MAC (security types 0x15 to 0x18).
    bool hasMac() const;
};

// CRC-16/AUG-CCITT as OSDP uses it: polynomial 0x1021, initial 0x1D0F.
std::uint16_t crc16(std::span<const std::uint8_t> bytes);
// The two's complement of the byte sum.
std::uint8_t checksum(std::span<const std::uint8_t> bytes);

// Computes the MAC of the packet's bytes from SOM to just before the MAC.
using MacFunction = std::function<Mac(std::span<const std::uint8_t> covered)>;

// The packet's bytes. A packet with a MAC-carrying security type needs
// `mac`; `packet.mac` is then ignored.
Bytes encode(const Packet& packet, const MacFunction& mac = {});

enum class DecodeError {
    TooShort,
    BadStart,
    LengthMismatch,
    Oversized,
    BadCheck,
    BadSecurityBlock,
};

struct Decoded {
    Packet packet;
    // The bytes a MAC covers (SOM to just before the MAC); empty without one.
    Bytes macCovered;
};

// One whole packet, exactly: every length must agree and the check bytes
// must match.
Result<Decoded, DecodeError> decode(std::span<const std::uint8_t> frame);

// Cuts a byte stream into packets: skips bytes until a start of message,
// waits for the length it announces, and drops what does not decode
// (counted), starting again at the next byte. A start whose address byte
// is not the expected one is skipped at once, and while a start waits for
// the rest of its announced length, a later start that already forms a
// whole packet is taken instead: a stray 0x53 never holds a real reply up.
class FrameReader {
public:
    void feed(std::span<const std::uint8_t> bytes);
    // The next whole packet that decoded, if any.
    std::optional<Decoded> next();
    void clear() { buffer_.clear(); }
    std::size_t dropped() const { return dropped_; }
    // Only packets whose address byte (reply flag included) is this one;
    // nullopt: any.
    void expectAddressByte(std::optional<std::uint8_t> addressByte) { expected_ = addressByte; }

private:
    bool plausibleStart(std::size_t at) const;
    std::optional<Decoded> laterWholePacket();

    Bytes buffer_;
    std::size_t dropped_ = 0;
    std::optional<std::uint8_t> expected_;
};

} // namespace parking::osdp

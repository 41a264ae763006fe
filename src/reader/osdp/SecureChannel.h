#pragma once
// OSDP Secure Channel cryptography, pure: session keys from the base key
// and the controller's random, the two cryptograms, the initial reply MAC,
// the chained MACs and the data encryption (AES-128 through OpenSSL).
//
// A session is set up by the handshake (challenge, client cryptogram,
// server cryptogram, initial R-MAC). From then on every command's MAC
// starts from the last reply's MAC and every reply's from the last
// command's: a lost or replayed packet breaks the chain, and the channel
// must be set up again.
//
// Keys and MACs never leave this class as text.
#include "OsdpCodec.h"

#include <array>
#include <optional>

namespace parking::osdp {

// The well-known key every reader answers before it has one of its own.
extern const Block InstallKey;

// AES-128 of one block.
Block aesEncrypt(const Block& key, const Block& block);

struct SessionKeys {
    Block enc;
    Block mac1;
    Block mac2;
};

SessionKeys deriveSessionKeys(const Block& baseKey, const Random& cpRandom);
// The reader's proof: AES(S-ENC, cpRandom || pdRandom).
Block clientCryptogram(const SessionKeys& keys, const Random& cpRandom, const Random& pdRandom);
// The controller's proof: AES(S-ENC, pdRandom || cpRandom).
Block serverCryptogram(const SessionKeys& keys, const Random& cpRandom, const Random& pdRandom);
// AES(S-MAC2, AES(S-MAC1, server cryptogram)).
Block initialRmac(const SessionKeys& keys, const Block& serverCryptogram);

// CBC-MAC of `message` (padded with 0x80 and zeros when not a whole number
// of blocks) from `iv`: S-MAC1 for every block but the last, S-MAC2 for it.
Block computeMac(const SessionKeys& keys, const Block& iv, std::span<const std::uint8_t> message);
// AES-CBC with S-ENC from the complement of `lastMac`; the data gets 0x80
// and zeros up to a whole number of blocks.
Bytes encryptData(const SessionKeys& keys, const Block& lastMac, std::span<const std::uint8_t> data);
// The inverse; nullopt when the length or the padding is wrong.
std::optional<Bytes> decryptData(const SessionKeys& keys, const Block& lastMac, std::span<const std::uint8_t> data);

// Constant-time comparison of two equally long byte runs.
bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

// Random bytes from the operating system's source (through OpenSSL).
// Throws std::runtime_error when it cannot deliver.
void fillRandom(std::span<std::uint8_t> out);

// One end of an established channel: seals what it sends, opens what it
// receives, and keeps the MAC chain. `controller` says which end.
class SecureSession {
public:
    SecureSession(const SessionKeys& keys, const Block& initialRmac, bool controller)
        : keys_(keys), lastReceived_(initialRmac), lastSent_(initialRmac), controller_(controller)
    {
    }

    // Turns a plain packet into a secure one: security type by direction
    // and data, data encrypted, MAC computed. Returns the bytes to send.
    // `encrypt` false: data in the clear under the MAC (types 0x15/0x16).
    Bytes seal(Packet packet, bool encrypt = true);
    // Checks the MAC and opens the data of a received packet; nullopt when
    // it is not a valid secure packet of the other end (the channel is then
    // broken).
    std::optional<Packet> open(const Decoded& received);

private:
    SessionKeys keys_;
    Block lastReceived_; // the IV of what we send next
    Block lastSent_;     // the IV of what we receive next
    bool controller_;
};

} // namespace parking::osdp

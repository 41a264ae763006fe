#include "SecureChannel.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace parking::osdp {

const Block InstallKey = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,
                          0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F};

namespace {

constexpr std::uint8_t PaddingMarker = 0x80;

struct CipherDeleter {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

struct CipherFree {
    void operator()(EVP_CIPHER* c) const { EVP_CIPHER_free(c); }
};

// The two ciphers, looked up in OpenSSL's provider once (a look-up at every
// MAC costs more than the MAC itself); and a context per thread, reset
// for each use.
const EVP_CIPHER* cipher(bool cbc)
{
    static const std::unique_ptr<EVP_CIPHER, CipherFree> ecbCipher(EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr));
    static const std::unique_ptr<EVP_CIPHER, CipherFree> cbcCipher(EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr));
    return cbc ? cbcCipher.get() : ecbCipher.get();
}

EVP_CIPHER_CTX* threadContext()
{
    thread_local const std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    return ctx.get();
}

// AES-128 over whole blocks, ECB or CBC, without padding.
Bytes aes(const Block& key, const Block* iv, std::span<const std::uint8_t> in, bool encrypt)
{
    EVP_CIPHER_CTX* ctx = threadContext();
    const EVP_CIPHER* c = cipher(iv != nullptr);
    if (!ctx || !c || in.size() % 16 != 0)
        throw std::runtime_error("AES: no cipher context or not whole blocks");
    if (EVP_CIPHER_CTX_reset(ctx) != 1 ||
        EVP_CipherInit_ex(ctx, c, nullptr, key.data(), iv ? iv->data() : nullptr, encrypt ? 1 : 0) != 1)
        throw std::runtime_error("AES: cannot initialise");
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(in.size() + 16);
    int written = 0;
    if (EVP_CipherUpdate(ctx, out.data(), &written, in.data(), static_cast<int>(in.size())) != 1)
        throw std::runtime_error("AES: cannot run");
    int last = 0;
    if (EVP_CipherFinal_ex(ctx, out.data() + written, &last) != 1)
        throw std::runtime_error("AES: cannot finish");
    out.resize(static_cast<std::size_t>(written + last));
    return out;
}

Block toBlock(std::span<const std::uint8_t> bytes)
{
    Block b{};
    std::copy_n(bytes.begin(), 16, b.begin());
    return b;
}

Block complement(const Block& b)
{
    Block c{};
    for (std::size_t i = 0; i < 16; ++i)
        c[i] = static_cast<std::uint8_t>(~b[i]);
    return c;
}

Block keyBlock(std::uint8_t second, const Random& cpRandom)
{
    Block b{};
    b[0] = 0x01;
    b[1] = second;
    std::copy_n(cpRandom.begin(), 6, b.begin() + 2);
    return b;
}

Block concat(const Random& first, const Random& second)
{
    Block b{};
    std::copy(first.begin(), first.end(), b.begin());
    std::copy(second.begin(), second.end(), b.begin() + 8);
    return b;
}

} // namespace

Block aesEncrypt(const Block& key, const Block& block)
{
    return toBlock(aes(key, nullptr, block, true));
}

SessionKeys deriveSessionKeys(const Block& baseKey, const Random& cpRandom)
{
    return {aesEncrypt(baseKey, keyBlock(0x82, cpRandom)), aesEncrypt(baseKey, keyBlock(0x01, cpRandom)),
            aesEncrypt(baseKey, keyBlock(0x02, cpRandom))};
}

Block clientCryptogram(const SessionKeys& keys, const Random& cpRandom, const Random& pdRandom)
{
    return aesEncrypt(keys.enc, concat(cpRandom, pdRandom));
}

Block serverCryptogram(const SessionKeys& keys, const Random& cpRandom, const Random& pdRandom)
{
    return aesEncrypt(keys.enc, concat(pdRandom, cpRandom));
}

Block initialRmac(const SessionKeys& keys, const Block& serverCryptogram)
{
    return aesEncrypt(keys.mac2, aesEncrypt(keys.mac1, serverCryptogram));
}

Block computeMac(const SessionKeys& keys, const Block& iv, std::span<const std::uint8_t> message)
{
    Bytes padded(message.begin(), message.end());
    if (padded.empty() || padded.size() % 16 != 0) {
        padded.push_back(PaddingMarker);
        padded.resize((padded.size() + 15) / 16 * 16, 0);
    }
    Block chain = iv;
    if (padded.size() > 16) {
        const Bytes head = aes(keys.mac1, &chain, std::span(padded).first(padded.size() - 16), true);
        chain = toBlock(std::span(head).last(16));
    }
    return toBlock(aes(keys.mac2, &chain, std::span(padded).last(16), true));
}

Bytes encryptData(const SessionKeys& keys, const Block& lastMac, std::span<const std::uint8_t> data)
{
    Bytes padded(data.begin(), data.end());
    padded.push_back(PaddingMarker);
    padded.resize((padded.size() + 15) / 16 * 16, 0);
    const Block iv = complement(lastMac);
    return aes(keys.enc, &iv, padded, true);
}

std::optional<Bytes> decryptData(const SessionKeys& keys, const Block& lastMac, std::span<const std::uint8_t> data)
{
    if (data.empty() || data.size() % 16 != 0)
        return std::nullopt;
    const Block iv = complement(lastMac);
    Bytes plain = aes(keys.enc, &iv, data, false);
    while (!plain.empty() && plain.back() == 0)
        plain.pop_back();
    if (plain.empty() || plain.back() != PaddingMarker)
        return std::nullopt;
    plain.pop_back();
    return plain;
}

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    if (a.size() != b.size())
        return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff = static_cast<std::uint8_t>(diff | (a[i] ^ b[i]));
    return diff == 0;
}

void fillRandom(std::span<std::uint8_t> out)
{
    if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1)
        throw std::runtime_error("no random bytes from the operating system");
}

Bytes SecureSession::seal(Packet packet, bool encrypt)
{
    const bool hasData = !packet.data.empty() && encrypt;
    if (controller_)
        packet.securityType = hasData ? scs::CommandEncrypted : scs::CommandMac;
    else
        packet.securityType = hasData ? scs::ReplyEncrypted : scs::ReplyMac;
    packet.securityData.clear();
    if (hasData)
        packet.data = encryptData(keys_, lastReceived_, packet.data);
    Block full{};
    Bytes bytes = encode(packet, [&](std::span<const std::uint8_t> covered) {
        full = computeMac(keys_, lastReceived_, covered);
        Mac m{};
        std::copy_n(full.begin(), 4, m.begin());
        return m;
    });
    lastSent_ = full;
    return bytes;
}

std::optional<Packet> SecureSession::open(const Decoded& received)
{
    const Packet& p = received.packet;
    const std::uint8_t macOnly = controller_ ? scs::ReplyMac : scs::CommandMac;
    const std::uint8_t encrypted = controller_ ? scs::ReplyEncrypted : scs::CommandEncrypted;
    if (!p.securityType || (*p.securityType != macOnly && *p.securityType != encrypted) || !p.mac)
        return std::nullopt;
    const Block full = computeMac(keys_, lastSent_, received.macCovered);
    if (!sameBytes(std::span(full).first(4), *p.mac))
        return std::nullopt;
    Packet out = p;
    // A MAC-only packet may carry data in the clear (some readers send
    // their replies so): the MAC covers it, so it is authentic, only not
    // secret.
    if (*p.securityType == encrypted && !p.data.empty()) {
        auto plain = decryptData(keys_, lastSent_, p.data);
        if (!plain)
            return std::nullopt;
        out.data = std::move(*plain);
    }
    lastReceived_ = full;
    return out;
}

} // namespace parking::osdp

#pragma once
// One reader's way online, step by step: its identity, its capabilities,
// the Secure Channel with the key it is tried with, and a new key when one
// is due. It holds the reader's keys and, once up, the channel's session.
// The bus sends what next() says and hands back what came of it; the
// outcome says whether to go on, whether the reader is through, or whether
// to start over later, with the fact to report if there is one.
//
// Keys: a stored key is the only one a reader is spoken to with. The
// install key is used only when no key is stored (sc=install) or the
// installer asks for a new key (`rekey`); a reader that answers only the
// install key while a key is stored is reported, never re-keyed. A new key
// is stored before the reader gets it; after an osdp_KEYSET, whatever its
// fate, the next handshake tries the new key first, then the one before.
#include "OsdpBusEvents.h"
#include "SecureChannel.h"

#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace parking::osdp {

enum class ChannelMode { On, Install, Off };

struct ReaderConfig {
    std::uint8_t address = 0;
    ChannelMode channel = ChannelMode::On;
    std::optional<Block> key; // the stored base key, if any
    bool rekey = false;       // give the reader a new key once (the installer asked)
};

// Where random bytes come from: the operating system's in the program.
using RandomSource = std::function<void(std::span<std::uint8_t>)>;

class ReaderHandshake {
public:
    enum class Step { Idle, Identify, Capabilities, Challenge, Cryptogram, KeySet, Online };
    // Keeps a new base key safe before it is given; false when it could not.
    using KeyStore = std::function<bool(const Block& key)>;

    ReaderHandshake(ReaderConfig config, KeyStore storeKey, RandomSource random);

    const ReaderConfig& config() const { return config_; }
    Step step() const { return step_; }
    // Between the first question and being online.
    bool underWay() const { return step_ != Step::Idle && step_ != Step::Online; }
    // Under sc=on a reader without a key is never spoken to.
    bool mayStart() const;

    // From the top, without a channel.
    void start();
    // Back to idle, the channel gone.
    void stop();

    // What the current step sends; a challenge draws a fresh random.
    Command next();

    enum class Next { Continue, Online, Retry };
    struct Outcome {
        Next next = Next::Continue;
        std::optional<BusFact> fact;
    };
    // A reply (or one that did not decode) to the current step's command.
    Outcome answered(const Result<Reply, MessageFault>& reply);
    // The current step's command refused with this NAK code.
    Outcome refused(std::uint8_t nak);

    SecureSession* session() { return session_ ? &*session_ : nullptr; }
    bool secured() const { return session_.has_value(); }
    const Identity& identity() const { return identity_; }
    const Capabilities& capabilities() const { return capabilities_; }

private:
    // Which key a handshake is tried with.
    enum class KeyChoice { Stored, Previous, Install, InstallProbe };

    Outcome capabilitiesAnswered(const CapabilitiesReply& reply);
    Outcome cryptogramAnswered(const ClientCryptogramReply& reply);
    Outcome rmacAnswered(const InitialRmacReply* reply);
    Outcome giveNewKey();
    Outcome failed(std::optional<BusFact> fact = std::nullopt);
    std::vector<KeyChoice> keyChoices() const;
    const Block& keyFor(KeyChoice choice) const;

    ReaderConfig config_;
    KeyStore storeKey_;
    RandomSource random_;
    Step step_ = Step::Idle;
    Identity identity_;
    Capabilities capabilities_;
    Random controllerRandom_{};
    Random readerRandom_{};
    SessionKeys keys_{};
    KeyChoice keyChoice_ = KeyChoice::Stored;
    std::uint8_t keySelector_ = 0;
    std::size_t keyTry_ = 0;
    std::optional<Block> previousKey_; // the key before the last osdp_KEYSET
    std::optional<SecureSession> session_;
    bool installKeyOnlySaid_ = false;
    bool noChannelSaid_ = false;
};

} // namespace parking::osdp

#include "ReaderHandshake.h"

namespace parking::osdp {

namespace {

// The key selector of the handshake's security blocks.
constexpr std::uint8_t InstallKeySelector = 0x00;
constexpr std::uint8_t StoredKeySelector = 0x01;

template <typename T>
const T* replyAs(const Result<Reply, MessageFault>& reply)
{
    return reply ? std::get_if<T>(&*reply) : nullptr;
}

} // namespace

ReaderHandshake::ReaderHandshake(ReaderConfig config, KeyStore storeKey, RandomSource random)
    : config_(std::move(config)), storeKey_(std::move(storeKey)), random_(std::move(random))
{
}

bool ReaderHandshake::mayStart() const
{
    return config_.channel != ChannelMode::On || config_.key || config_.rekey;
}

void ReaderHandshake::start()
{
    step_ = Step::Identify;
    session_.reset();
}

void ReaderHandshake::stop()
{
    step_ = Step::Idle;
    session_.reset();
}

Command ReaderHandshake::next()
{
    switch (step_) {
    case Step::Idle:
    case Step::Identify:
        return IdRequest{};
    case Step::Capabilities:
        return CapabilitiesRequest{};
    case Step::Challenge: {
        const auto choices = keyChoices();
        keyChoice_ = choices.at(keyTry_ % choices.size());
        const Block& key = keyFor(keyChoice_);
        keySelector_ = key == InstallKey ? InstallKeySelector : StoredKeySelector;
        random_(controllerRandom_);
        keys_ = deriveSessionKeys(key, controllerRandom_);
        return ChallengeCommand{keySelector_, controllerRandom_};
    }
    case Step::Cryptogram:
        return ServerCryptogramCommand{keySelector_, serverCryptogram(keys_, controllerRandom_, readerRandom_)};
    case Step::KeySet:
        return KeySetCommand{config_.key.value()}; // stored before it is given
    case Step::Online:
        break;
    }
    return PollCommand{};
}

ReaderHandshake::Outcome ReaderHandshake::answered(const Result<Reply, MessageFault>& reply)
{
    switch (step_) {
    case Step::Identify:
        if (const auto* id = replyAs<Identity>(reply)) {
            identity_ = *id;
            step_ = Step::Capabilities;
            return {};
        }
        return {Next::Retry, std::nullopt};
    case Step::Capabilities:
        if (const auto* caps = replyAs<CapabilitiesReply>(reply))
            return capabilitiesAnswered(*caps);
        return {Next::Retry, std::nullopt};
    case Step::Challenge:
        if (const auto* c = replyAs<ClientCryptogramReply>(reply))
            return cryptogramAnswered(*c);
        return failed();
    case Step::Cryptogram:
        return rmacAnswered(replyAs<InitialRmacReply>(reply));
    case Step::KeySet:
        if (replyAs<AckReply>(reply)) {
            session_.reset();
            step_ = Step::Challenge;
            return {Next::Continue, NewKeyGiven{}};
        }
        return {Next::Retry, std::nullopt};
    case Step::Idle:
    case Step::Online:
        break;
    }
    return {};
}

ReaderHandshake::Outcome ReaderHandshake::refused(std::uint8_t nak)
{
    switch (step_) {
    case Step::Challenge:
    case Step::Cryptogram:
        if (keyChoice_ == KeyChoice::InstallProbe)
            return failed();
        return failed(KeyRefused{nak});
    case Step::KeySet:
        return {Next::Retry, NewKeyRefused{nak}};
    case Step::Idle:
    case Step::Identify:
    case Step::Capabilities:
    case Step::Online:
        break;
    }
    return {Next::Retry, std::nullopt};
}

ReaderHandshake::Outcome ReaderHandshake::capabilitiesAnswered(const CapabilitiesReply& reply)
{
    capabilities_ = summarise(reply);
    if (config_.channel == ChannelMode::Off) {
        step_ = Step::Online;
        return {Next::Online, std::nullopt};
    }
    if (capabilities_.secureChannel == false) {
        std::optional<BusFact> fact;
        if (!noChannelSaid_)
            fact = NoSecureChannel{};
        noChannelSaid_ = true;
        return {Next::Retry, fact};
    }
    step_ = Step::Challenge;
    return {};
}

ReaderHandshake::Outcome ReaderHandshake::cryptogramAnswered(const ClientCryptogramReply& reply)
{
    readerRandom_ = reply.readerRandom;
    const Block expected = clientCryptogram(keys_, controllerRandom_, readerRandom_);
    if (!sameBytes(expected, reply.cryptogram)) {
        if (keyChoice_ == KeyChoice::Stored)
            return failed(StoredKeyNotAnswered{});
        return failed();
    }
    if (keyChoice_ == KeyChoice::InstallProbe) {
        // The reader holds only the well-known key while ours is stored:
        // swapped for a new one, reset, or something pretending to be it.
        std::optional<BusFact> fact;
        if (!installKeyOnlySaid_)
            fact = InstallKeyOnly{};
        installKeyOnlySaid_ = true;
        return failed(fact);
    }
    step_ = Step::Cryptogram;
    return {};
}

ReaderHandshake::Outcome ReaderHandshake::rmacAnswered(const InitialRmacReply* reply)
{
    const Block expected = initialRmac(keys_, serverCryptogram(keys_, controllerRandom_, readerRandom_));
    if (!reply || !sameBytes(expected, reply->rmac))
        return failed(KeyRefused{});
    session_.emplace(keys_, expected, true);
    switch (keyChoice_) {
    case KeyChoice::Stored:
        previousKey_.reset();
        keyTry_ = 0;
        installKeyOnlySaid_ = false;
        if (config_.rekey)
            return giveNewKey();
        step_ = Step::Online;
        return {Next::Online, std::nullopt};
    case KeyChoice::Previous: // the last new key did not take
    case KeyChoice::Install:  // allowed only when no key is stored, or on request
        return giveNewKey();
    case KeyChoice::InstallProbe:
        break;
    }
    return {Next::Retry, std::nullopt};
}

ReaderHandshake::Outcome ReaderHandshake::giveNewKey()
{
    Block key{};
    random_(key);
    // Kept safe before the reader gets it: a key the reader has and we
    // lost would lock us out.
    if (!storeKey_ || !storeKey_(key))
        return {Next::Retry, NewKeyNotStored{}};
    previousKey_ = keyFor(keyChoice_);
    config_.key = key;
    config_.rekey = false;
    keyTry_ = 0; // whatever becomes of it, the new key is tried first
    step_ = Step::KeySet;
    return {};
}

ReaderHandshake::Outcome ReaderHandshake::failed(std::optional<BusFact> fact)
{
    ++keyTry_;
    return {Next::Retry, std::move(fact)};
}

std::vector<ReaderHandshake::KeyChoice> ReaderHandshake::keyChoices() const
{
    std::vector<KeyChoice> choices;
    if (config_.key)
        choices.push_back(KeyChoice::Stored);
    if (previousKey_)
        choices.push_back(KeyChoice::Previous);
    const bool mayInstall = config_.rekey || (!config_.key && config_.channel == ChannelMode::Install);
    if (mayInstall)
        choices.push_back(KeyChoice::Install);
    else if (config_.key && !previousKey_)
        choices.push_back(KeyChoice::InstallProbe); // only to tell a swapped or reset reader apart
    return choices;
}

const Block& ReaderHandshake::keyFor(KeyChoice choice) const
{
    switch (choice) {
    case KeyChoice::Stored:
        return *config_.key;
    case KeyChoice::Previous:
        return *previousKey_;
    case KeyChoice::Install:
    case KeyChoice::InstallProbe:
        break;
    }
    return InstallKey;
}

} // namespace parking::osdp

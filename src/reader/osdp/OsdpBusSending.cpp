// How the bus chooses and builds what it sends next: polls, queued
// commands, the handshake's steps with the key it is tried with, and the
// packet as it goes on the wire.
#include "OsdpBus.h"

#include <algorithm>

namespace parking::osdp {

namespace {

// The key selector of the handshake's security blocks.
constexpr std::uint8_t InstallKeySelector = 0x00;
constexpr std::uint8_t StoredKeySelector = 0x01;
// Security block, code, MAC and CRC around a sealed command's data.
constexpr std::size_t SealedOverhead = 5 + 2 + 1 + 4 + 2;

} // namespace

// ---- sending ---------------------------------------------------------------

void OsdpBus::sendNext(TimePoint now)
{
    // A command the reader's size refuses is dropped without a word on the
    // line; then the next one is looked at.
    for (std::size_t guard = 0; guard <= readers_.size() + 64; ++guard) {
        if (outstanding_ || now < lineFree_)
            return;
        const auto index = nextDue(now);
        if (!index)
            return;
        Reader& r = readers_[static_cast<std::size_t>(*index)];
        if (r.repeat) {
            Outstanding o = std::move(*r.repeat);
            r.repeat.reset();
            sendBytes(std::move(o), now);
            return;
        }
        if (r.step == Step::Idle)
            startHandshake(r);
        if (transmit(*index, nextCommand(r, now), now))
            return;
    }
}

void OsdpBus::startHandshake(Reader& r)
{
    r.step = Step::Identify;
    r.sequence = 0;
    r.session.reset();
    r.proven = false;
}

OsdpBus::Command OsdpBus::nextCommand(Reader& r, TimePoint now)
{
    switch (r.step) {
    case Step::Idle:
    case Step::Identify:
        return {command::Id, {0x00}};
    case Step::Capabilities:
        return {command::Capabilities, {0x00}};
    case Step::Challenge:
        return challenge(r);
    case Step::Cryptogram:
        return {command::ServerCryptogram, [&] {
                    const Block c = serverCryptogram(r.keys, r.cpRandom, r.pdRandom);
                    return Bytes(c.begin(), c.end());
                }(),
                scs::ServerCryptogram, {r.keySelector}};
    case Step::KeySet: {
        const Block& key = r.config.key.value(); // stored before it is given
        Bytes data{0x01 /* a Secure Channel base key */, static_cast<std::uint8_t>(key.size())};
        data.insert(data.end(), key.begin(), key.end());
        return {command::KeySet, std::move(data)};
    }
    case Step::Online: {
        const bool pollDue = std::max(r.nextPoll, pollsHeldUntil_) <= now;
        // A poll between two queued commands: a card read waits for at
        // most one of them (a display's rows must not hold a barrier up).
        if (!r.queue.empty() && !(r.pollFirst && pollDue)) {
            Command c = std::move(r.queue.front());
            r.queue.pop_front();
            r.pollFirst = true;
            return c;
        }
        r.pollFirst = false;
        // The readers of a line are polled in rounds, back to back: one
        // wake-up of the line's thread serves them all.
        if (now >= pollRound_ + PollInterval)
            pollRound_ = now;
        r.nextPoll = pollRound_ + PollInterval;
        return {command::Poll, {}};
    }
    }
    return {command::Poll, {}};
}

std::vector<OsdpBus::KeyChoice> OsdpBus::keyChoices(const Reader& r) const
{
    std::vector<KeyChoice> choices;
    if (r.config.key)
        choices.push_back(KeyChoice::Stored);
    if (r.previousKey)
        choices.push_back(KeyChoice::Previous);
    const bool mayInstall = r.config.rekey || (!r.config.key && r.config.channel == ChannelMode::Install);
    if (mayInstall)
        choices.push_back(KeyChoice::Install);
    else if (r.config.key && !r.previousKey)
        choices.push_back(KeyChoice::InstallProbe); // only to tell a swapped or reset reader apart
    return choices;
}

const Block& OsdpBus::keyFor(const Reader& r, KeyChoice choice) const
{
    switch (choice) {
    case KeyChoice::Stored:
        return *r.config.key;
    case KeyChoice::Previous:
        return *r.previousKey;
    case KeyChoice::Install:
    case KeyChoice::InstallProbe:
        break;
    }
    return InstallKey;
}

OsdpBus::Command OsdpBus::challenge(Reader& r)
{
    const auto choices = keyChoices(r);
    r.keyChoice = choices.at(r.keyTry % choices.size());
    const Block& key = keyFor(r, r.keyChoice);
    r.keySelector = key == InstallKey ? InstallKeySelector : StoredKeySelector;
    fillRandom(r.cpRandom);
    r.keys = deriveSessionKeys(key, r.cpRandom);
    return {command::Challenge, Bytes(r.cpRandom.begin(), r.cpRandom.end()), scs::Challenge, {r.keySelector}};
}

std::size_t OsdpBus::packetSize(const Reader& r, const Command& c) const
{
    if (r.session && !c.securityType) {
        const std::size_t data = c.data.empty() ? 0 : (c.data.size() + 1 + 15) / 16 * 16;
        return SealedOverhead + data;
    }
    return 5 + (c.securityType ? 2 + c.securityData.size() : 0) + 1 + c.data.size() + 2;
}

bool OsdpBus::transmit(int index, const Command& c, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const std::size_t size = packetSize(r, c);
    const int limit = r.capabilities.receiveSize;
    if (r.step == Step::Online && limit > 0 && size > static_cast<std::size_t>(limit)) {
        if (!r.oversizeSaid) {
            log(index,
                QStringLiteral("orden 0x%1 de %2 bytes: el lector sólo admite %3; no se envía")
                    .arg(c.code, 2, 16, QLatin1Char('0'))
                    .arg(size)
                    .arg(limit),
                now);
        }
        r.oversizeSaid = true;
        if (c.code == command::Output)
            report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("demasiado larga"), {}, 0, {}, {}, {}, now});
        return false;
    }
    Packet p;
    p.address = r.config.address;
    p.sequence = r.sequence;
    p.code = c.code;
    p.data = c.data;
    p.securityType = c.securityType;
    p.securityData = c.securityData;
    const Bytes packet = (r.session && !c.securityType) ? r.session->seal(p) : encode(p);
    Bytes bytes;
    bytes.reserve(packet.size() + 1);
    bytes.push_back(MarkByte);
    bytes.insert(bytes.end(), packet.begin(), packet.end());
    sendBytes({index, c.code, r.sequence, std::move(bytes), {}, 0}, now);
    return true;
}

void OsdpBus::sendBytes(Outstanding o, TimePoint now)
{
    o.deadline = now + wireTime(o.bytes.size()) + ReplyTimeout;
    frames_.clear();
    frames_.expectAddressByte(static_cast<std::uint8_t>(readers_[static_cast<std::size_t>(o.reader)].config.address |
                                                        ReplyFlag));
    outstanding_ = std::move(o);
    send_(outstanding_->bytes);
}

} // namespace parking::osdp

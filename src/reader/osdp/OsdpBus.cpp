#include "OsdpBus.h"

#include <algorithm>

namespace parking::osdp {

namespace {

// The key selector of the handshake's security blocks.
constexpr std::uint8_t InstallKeySelector = 0x00;
constexpr std::uint8_t StoredKeySelector = 0x01;
// KEYSET: the key is a Secure Channel base key.
constexpr std::uint8_t BaseKeyType = 0x01;

Bytes toBytes(std::span<const std::uint8_t> s)
{
    return {s.begin(), s.end()};
}

} // namespace

OsdpBus::OsdpBus(std::function<void(const Bytes&)> send, std::function<void(const BusEvent&)> events, KeyStore storeKey)
    : send_(std::move(send)), events_(std::move(events)), storeKey_(std::move(storeKey))
{
}

int OsdpBus::addReader(const ReaderConfig& config, TimePoint now)
{
    readers_.push_back(Reader{});
    retries_.emplace_back();
    Reader& r = readers_.back();
    r.config = config;
    r.startedAt = now;
    r.nextAttempt = now;
    const int index = static_cast<int>(readers_.size()) - 1;
    if (config.channel == ChannelMode::On && !config.key) {
        log(index,
            QStringLiteral("sin clave de canal seguro: ponga sc=install una vez para darle una, o añada su clave al "
                           "fichero de claves"),
            now);
    } else if (config.channel == ChannelMode::Off) {
        log(index, QStringLiteral("AVISO: canal seguro desactivado (sc=off); la línea va en claro"), now);
    }
    return index;
}

void OsdpBus::removeReader(int reader)
{
    Reader& r = readers_.at(static_cast<std::size_t>(reader));
    r.removed = true;
    r.up = false;
    r.queue.clear();
    retries_[static_cast<std::size_t>(reader)].reset();
}

bool OsdpBus::online(int reader) const
{
    return readers_.at(static_cast<std::size_t>(reader)).up;
}

const Capabilities& OsdpBus::capabilities(int reader) const
{
    return readers_.at(static_cast<std::size_t>(reader)).capabilities;
}

bool OsdpBus::submit(int reader, std::uint8_t code, Bytes data)
{
    Reader& r = readers_.at(static_cast<std::size_t>(reader));
    if (!r.up)
        return false;
    if (code == command::Output) {
        // A barrier does not wait behind display texts.
        const auto firstOther = std::find_if(r.queue.begin(), r.queue.end(),
                                             [](const Command& c) { return c.code != command::Output; });
        r.queue.insert(firstOther, {code, std::move(data)});
        r.pollFirst = false;
        return true;
    }
    r.queue.push_back({code, std::move(data)});
    return true;
}

void OsdpBus::tick(TimePoint now)
{
    checkHealth(now);
    if (outstanding_ && now - outstanding_->sentAt >= ReplyTimeout)
        timedOut(now);
    if (!outstanding_)
        sendNext(now);
}

void OsdpBus::received(std::span<const std::uint8_t> bytes, TimePoint now)
{
    reader_.feed(bytes);
    while (auto d = reader_.next())
        answered(*d, now);
    if (!outstanding_)
        sendNext(now);
}

// ---- sending ---------------------------------------------------------------

std::optional<int> OsdpBus::nextDue(TimePoint now)
{
    const int n = static_cast<int>(readers_.size());
    // A command waiting (a barrier to open) goes before the neighbour's poll.
    for (int k = 0; k < n; ++k) {
        const int i = (turn_ + k) % n;
        const Reader& r = readers_[static_cast<std::size_t>(i)];
        if (!r.removed && r.step == Step::Online && !r.queue.empty() && !r.pollFirst &&
            !retries_[static_cast<std::size_t>(i)]) {
            turn_ = (i + 1) % n;
            return i;
        }
    }
    for (int k = 0; k < n; ++k) {
        const int i = (turn_ + k) % n;
        const Reader& r = readers_[static_cast<std::size_t>(i)];
        if (r.removed)
            continue;
        const bool canStart = r.config.channel != ChannelMode::On || r.config.key;
        if (retries_[static_cast<std::size_t>(i)] || r.step != Step::Idle || (canStart && now >= r.nextAttempt)) {
            turn_ = (i + 1) % n;
            return i;
        }
    }
    return std::nullopt;
}

void OsdpBus::sendNext(TimePoint now)
{
    const auto index = nextDue(now);
    if (!index)
        return;
    auto& retry = retries_[static_cast<std::size_t>(*index)];
    if (retry) {
        outstanding_ = *retry;
        outstanding_->sentAt = now;
        retry.reset();
        reader_.clear();
        send_(outstanding_->bytes);
        return;
    }
    Reader& r = readers_[static_cast<std::size_t>(*index)];
    if (r.step == Step::Idle)
        startHandshake(r, now);
    transmit(*index, nextCommand(r, now), now);
}

void OsdpBus::startHandshake(Reader& r, TimePoint)
{
    r.step = Step::Identify;
    r.sequence = 0;
    r.session.reset();
    r.newKey.reset();
}

OsdpBus::Command OsdpBus::nextCommand(Reader& r, TimePoint)
{
    switch (r.step) {
    case Step::Idle:
    case Step::Identify:
        return {command::Id, {0x00}};
    case Step::Capabilities:
        return {command::Capabilities, {0x00}};
    case Step::Challenge: {
        fillRandom(r.cpRandom);
        r.installKey = !r.config.key || r.tryInstallKey;
        r.keys = deriveSessionKeys(r.installKey ? InstallKey : *r.config.key, r.cpRandom);
        return {command::Challenge, toBytes(r.cpRandom), scs::Challenge,
                {r.installKey ? InstallKeySelector : StoredKeySelector}};
    }
    case Step::Cryptogram:
        return {command::ServerCryptogram, toBytes(serverCryptogram(r.keys, r.cpRandom, r.pdRandom)), scs::ServerCryptogram,
                {r.installKey ? InstallKeySelector : StoredKeySelector}};
    case Step::KeySet: {
        const Block& key = r.newKey.value();
        Bytes data{BaseKeyType, static_cast<std::uint8_t>(key.size())};
        data.insert(data.end(), key.begin(), key.end());
        return {command::KeySet, std::move(data)};
    }
    case Step::Online:
        // A poll between two queued commands: a card read waits for at most
        // one of them (a display's rows must not hold a barrier up).
        if (!r.queue.empty() && !r.pollFirst) {
            Command c = std::move(r.queue.front());
            r.queue.pop_front();
            r.pollFirst = true;
            return c;
        }
        r.pollFirst = false;
        return {command::Poll, {}};
    }
    return {command::Poll, {}};
}

void OsdpBus::transmit(int index, const Command& c, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    Packet p;
    p.address = r.config.address;
    p.sequence = r.sequence;
    p.code = c.code;
    p.data = c.data;
    p.securityType = c.securityType;
    p.securityData = c.securityData;
    const Bytes bytes = (r.session && !c.securityType) ? r.session->seal(p) : encode(p);
    reader_.clear();
    outstanding_ = Outstanding{index, c.code, r.sequence, bytes, now, false};
    send_(bytes);
}

// ---- receiving --------------------------------------------------------------

void OsdpBus::timedOut(TimePoint now)
{
    Outstanding o = *outstanding_;
    outstanding_.reset();
    Reader& r = readers_[static_cast<std::size_t>(o.reader)];
    if (r.step == Step::Online && !o.repeat) {
        // Asked once more, same sequence number, on the reader's next turn.
        o.repeat = true;
        retries_[static_cast<std::size_t>(o.reader)] = o;
        return;
    }
    if (o.code == command::Output)
        report({BusEvent::Kind::CommandAnswered, o.reader, QStringLiteral("sin respuesta"), {}, 0, {}, {}, now});
    // Start over at sequence 0 with a fresh channel: at once for a reader
    // that is still counted online, within a second for one that is not.
    dropToIdle(o.reader, now, r.up ? milliseconds(0) : OfflineRetry);
}

void OsdpBus::dropToIdle(int index, TimePoint now, milliseconds wait)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    r.step = Step::Idle;
    r.sequence = 0;
    r.session.reset();
    r.nextAttempt = now + wait;
}

void OsdpBus::answered(const Decoded& d, TimePoint now)
{
    if (!outstanding_) {
        ++unexpected_;
        return;
    }
    const Outstanding& o = *outstanding_;
    Reader& r = readers_[static_cast<std::size_t>(o.reader)];
    const Packet& p = d.packet;
    if (!p.reply || p.address != r.config.address || p.sequence != o.sequence) {
        ++unexpected_;
        return;
    }
    const int index = o.reader;
    const std::uint8_t sentCode = o.code;
    outstanding_.reset();
    Packet reply = p;
    if (r.session && !p.securityType.has_value() && p.code == reply::Nak) {
        // A reader that lost its channel answers in the clear.
    } else if (r.session) {
        auto opened = r.session->open(d);
        if (!opened) {
            ++unexpected_;
            log(index, QStringLiteral("canal seguro roto (MAC no válido); se vuelve a establecer"), now);
            dropToIdle(index, now, milliseconds(0));
            return;
        }
        reply = std::move(*opened);
    }
    r.sequence = r.sequence == 3 ? 1 : static_cast<std::uint8_t>(r.sequence + 1);
    if (reply.code == reply::Nak) {
        const int code = reply.data.empty() ? 0 : reply.data[0];
        if (sentCode == command::Output)
            report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("NAK %1").arg(code), {}, 0, {}, {}, now});
        if (r.step == Step::Challenge || r.step == Step::Cryptogram)
            log(index, QStringLiteral("el lector rechaza la clave (NAK %1)").arg(code), now);
        if (r.step == Step::Online && code != nak::Sequence && code != nak::EncryptionRequired &&
            code != nak::SecurityBlock) {
            r.lastHealthy = now;
            return;
        }
        // A sequence error or a channel the reader no longer knows: start
        // over at 0 (readers that never recover from a mismatch exist).
        dropToIdle(index, now, r.up ? milliseconds(0) : OfflineRetry);
        return;
    }
    const bool online = r.step == Step::Online;
    handle(index, reply, now);
    if (online && sentCode == command::Output && reply.code == reply::Ack)
        report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("ACK"), {}, 0, {}, {}, now});
}

void OsdpBus::checkHealth(TimePoint now)
{
    for (std::size_t i = 0; i < readers_.size(); ++i) {
        Reader& r = readers_[i];
        if (r.removed)
            continue;
        const bool silent = r.up ? now - r.lastHealthy >= OfflineAfter : !r.reported && now - r.startedAt >= OfflineAfter;
        if (!silent)
            continue;
        r.up = false;
        r.reported = true;
        r.queue.clear();
        retries_[i].reset();
        if (!outstanding_ || outstanding_->reader != static_cast<int>(i))
            dropToIdle(static_cast<int>(i), now, milliseconds(0));
        BusEvent e{};
        e.kind = BusEvent::Kind::Offline;
        e.reader = static_cast<int>(i);
        e.at = now;
        report(e);
    }
}

void OsdpBus::report(BusEvent e)
{
    if (events_)
        events_(e);
}

void OsdpBus::log(int index, const QString& text, TimePoint now)
{
    BusEvent e{};
    e.kind = BusEvent::Kind::Log;
    e.reader = index;
    e.text = text;
    e.at = now;
    report(e);
}

} // namespace parking::osdp

#include "OsdpBus.h"

#include <algorithm>

namespace parking::osdp {

namespace {

// The key selector of the handshake's security blocks.
constexpr std::uint8_t InstallKeySelector = 0x00;
constexpr std::uint8_t StoredKeySelector = 0x01;
// KEYSET: the key is a Secure Channel base key.
constexpr std::uint8_t BaseKeyType = 0x01;
// PDCAP function codes.
constexpr std::uint8_t CapOutput = 2;
constexpr std::uint8_t CapLed = 4;
constexpr std::uint8_t CapBuzzer = 5;
constexpr std::uint8_t CapText = 6;

QString hex(std::uint32_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString yesNo(bool b)
{
    return b ? QStringLiteral("sí") : QStringLiteral("no");
}

Identity parseIdentity(const Bytes& d)
{
    Identity id;
    id.vendor = d[0] | (d[1] << 8) | (d[2] << 16);
    id.model = d[3];
    id.version = d[4];
    id.serial = d[5] | (d[6] << 8) | (d[7] << 16) | (static_cast<std::uint32_t>(d[8]) << 24);
    id.firmware = (d[9] << 16) | (d[10] << 8) | d[11];
    return id;
}

Capabilities parseCapabilities(const Bytes& d)
{
    Capabilities c;
    for (std::size_t i = 0; i + 2 < d.size(); i += 3) {
        const bool has = d[i + 1] != 0 || d[i + 2] != 0;
        switch (d[i]) {
        case CapOutput:
            c.output = has;
            break;
        case CapLed:
            c.led = has;
            break;
        case CapBuzzer:
            c.buzzer = has;
            break;
        case CapText:
            c.text = has;
            break;
        default:
            break;
        }
    }
    return c;
}

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
        report({BusEvent::Kind::CommandAnswered, o.reader, QStringLiteral("sin respuesta"), {}, 0, {}, {}, {}, now});
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
            report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("NAK %1").arg(code), {}, 0, {}, {}, {}, now});
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
        report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("ACK"), {}, 0, {}, {}, {}, now});
}

void OsdpBus::handle(int index, const Packet& reply, TimePoint now)
{
    if (readers_[static_cast<std::size_t>(index)].step == Step::Online)
        handleOnline(index, reply, now);
    else
        handleHandshake(index, reply, now);
}

void OsdpBus::handleHandshake(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const Bytes& d = reply.data;
    switch (r.step) {
    case Step::Identify:
        if (reply.code != reply::Identity || d.size() < 12)
            return dropToIdle(index, now, OfflineRetry);
        r.identity = parseIdentity(d);
        r.step = Step::Capabilities;
        return;
    case Step::Capabilities:
        if (reply.code != reply::Capabilities)
            return dropToIdle(index, now, OfflineRetry);
        r.capabilities = parseCapabilities(d);
        if (r.config.channel == ChannelMode::Off)
            return becomeOnline(index, now);
        r.step = Step::Challenge;
        return;
    case Step::Challenge: {
        if (reply.code != reply::ClientCryptogram || d.size() < 32 || reply.securityType != scs::ClientCryptogram)
            return dropToIdle(index, now, OfflineRetry);
        std::copy_n(d.begin() + 8, 8, r.pdRandom.begin());
        const Block expected = clientCryptogram(r.keys, r.cpRandom, r.pdRandom);
        if (!sameBytes(expected, std::span(d).subspan(16, 16))) {
            log(index, QStringLiteral("el lector rechaza la clave: no responde con la clave guardada"), now);
            if (r.config.channel == ChannelMode::Install && !r.installKey)
                r.tryInstallKey = true; // perhaps a key that never reached it
            return dropToIdle(index, now, OfflineRetry);
        }
        r.step = Step::Cryptogram;
        return;
    }
    case Step::Cryptogram: {
        const Block expected = initialRmac(r.keys, serverCryptogram(r.keys, r.cpRandom, r.pdRandom));
        if (reply.code != reply::InitialRmac || d.size() < 16 || reply.securityType != scs::InitialRmac ||
            !sameBytes(expected, std::span(d).first(16))) {
            log(index, QStringLiteral("el lector rechaza la clave"), now);
            return dropToIdle(index, now, OfflineRetry);
        }
        r.session.emplace(r.keys, expected, true);
        if (r.installKey && r.config.channel == ChannelMode::Install)
            return giveNewKey(index, now);
        if (r.installKey) {
            // sc=on never goes on with the well-known key.
            log(index, QStringLiteral("el lector sólo tiene la clave de instalación"), now);
            return dropToIdle(index, now, OfflineRetry);
        }
        return becomeOnline(index, now);
    }
    case Step::KeySet:
        if (reply.code != reply::Ack || !r.newKey)
            return dropToIdle(index, now, OfflineRetry);
        r.config.key = r.newKey;
        r.tryInstallKey = false;
        log(index, QStringLiteral("clave nueva de canal seguro dada al lector y guardada"), now);
        r.session.reset();
        r.step = Step::Challenge;
        return;
    case Step::Idle:
    case Step::Online:
        return;
    }
}

void OsdpBus::giveNewKey(int index, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    Block key{};
    fillRandom(key);
    // Kept safe before the reader gets it: a key the reader has and we
    // lost would lock us out.
    if (!storeKey_ || !storeKey_(index, key)) {
        log(index, QStringLiteral("ERROR: no se puede guardar la clave nueva; el lector no se pone en línea"), now);
        return dropToIdle(index, now, OfflineRetry);
    }
    r.newKey = key;
    r.step = Step::KeySet;
}

void OsdpBus::handleOnline(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    r.lastHealthy = now;
    const Bytes& d = reply.data;
    BusEvent e{};
    e.reader = index;
    e.at = now;
    switch (reply.code) {
    case reply::RawCard: {
        if (d.size() < 4)
            return;
        e.kind = BusEvent::Kind::RawCard;
        e.bits = d[2] | (d[3] << 8);
        e.data.assign(d.begin() + 4, d.end());
        return report(e);
    }
    case reply::FormattedCard:
        if (d.size() < 3)
            return;
        e.kind = BusEvent::Kind::FormattedCard;
        e.text = QString::fromLatin1(reinterpret_cast<const char*>(d.data()) + 3,
                                     std::min<qsizetype>(d[2], static_cast<qsizetype>(d.size()) - 3));
        return report(e);
    case reply::Keypad:
        if (d.size() < 2)
            return;
        e.kind = BusEvent::Kind::Keypad;
        e.text = QString::fromLatin1(reinterpret_cast<const char*>(d.data()) + 2,
                                     std::min<qsizetype>(d[1], static_cast<qsizetype>(d.size()) - 2));
        return report(e);
    case reply::Ack:
        return;
    default:
        return;
    }
}

void OsdpBus::becomeOnline(int index, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    r.step = Step::Online;
    r.lastHealthy = now;
    if (r.up)
        return;
    r.up = true;
    r.reported = true;
    const Identity& id = r.identity;
    const Capabilities& c = r.capabilities;
    log(index,
        QStringLiteral("en línea: fabricante %1, modelo %2, versión %3, serie %4, firmware %5.%6.%7; salidas %8, LED %9, "
                       "zumbador %10, texto %11, canal seguro %12")
            .arg(hex(id.vendor, 6))
            .arg(id.model)
            .arg(id.version)
            .arg(hex(id.serial, 8))
            .arg(id.firmware >> 16)
            .arg((id.firmware >> 8) & 0xFF)
            .arg(id.firmware & 0xFF)
            .arg(yesNo(c.output), yesNo(c.led), yesNo(c.buzzer), yesNo(c.text), yesNo(r.session.has_value())),
        now);
    BusEvent e{};
    e.kind = BusEvent::Kind::Online;
    e.reader = index;
    e.identity = id;
    e.capabilities = c;
    e.at = now;
    report(e);
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

// How the bus reads its readers' replies: the handshake (identity,
// capabilities, the Secure Channel, a new key) and, once online, reads and
// answers.
#include "OsdpBus.h"

namespace parking::osdp {

namespace {

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

} // namespace

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
    case Step::Challenge:
        return handleClientCryptogram(index, reply, now);
    case Step::Cryptogram:
        return handleInitialRmac(index, reply, now);
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

void OsdpBus::handleClientCryptogram(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const Bytes& d = reply.data;
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
}

void OsdpBus::handleInitialRmac(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const Bytes& d = reply.data;
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
    becomeOnline(index, now);
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

} // namespace parking::osdp

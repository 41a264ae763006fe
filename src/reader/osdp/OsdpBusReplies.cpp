// How the bus reads its readers' replies: the handshake (identity,
// capabilities, the Secure Channel, a new key) and, once online, reads and
// answers.
#include "OsdpBus.h"

#include <algorithm>

namespace parking::osdp {

namespace {

// PDCAP function codes.
constexpr std::uint8_t CapInputs = 1;
constexpr std::uint8_t CapOutput = 2;
constexpr std::uint8_t CapLed = 4;
constexpr std::uint8_t CapBuzzer = 5;
constexpr std::uint8_t CapText = 6;
constexpr std::uint8_t CapSecurity = 9;
constexpr std::uint8_t CapReceiveSize = 10;

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
        const std::uint8_t compliance = d[i + 1];
        const std::uint8_t items = d[i + 2];
        const bool has = compliance != 0 || items != 0;
        switch (d[i]) {
        case CapInputs:
            c.inputs = items;
            break;
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
        case CapSecurity:
            c.secureChannel = (compliance & 0x01) != 0; // AES-128
            break;
        case CapReceiveSize:
            c.receiveSize = compliance | (items << 8);
            break;
        default:
            break;
        }
    }
    return c;
}

} // namespace

void OsdpBus::handle(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now)
{
    if (readers_[static_cast<std::size_t>(index)].step == Step::Online)
        handleOnline(index, sentCode, reply, now);
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
        return handleCapabilities(index, reply, now);
    case Step::Challenge:
        return handleClientCryptogram(index, reply, now);
    case Step::Cryptogram:
        return handleInitialRmac(index, reply, now);
    case Step::KeySet:
        return handleKeySetAnswer(index, reply, now);
    case Step::Idle:
    case Step::Online:
        return;
    }
}

void OsdpBus::handleCapabilities(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    if (reply.code != reply::Capabilities)
        return dropToIdle(index, now, OfflineRetry);
    r.capabilities = parseCapabilities(reply.data);
    if (r.config.channel == ChannelMode::Off)
        return channelUp(index, now);
    if (r.capabilities.secureChannel == false) {
        if (!r.noChannelSaid) {
            log(index,
                QStringLiteral("el lector dice que no tiene canal seguro (capacidad 9): no se pone en línea con sc=on; "
                               "use sc=off sólo si la línea es de confianza"),
                now);
        }
        r.noChannelSaid = true;
        return dropToIdle(index, now, OfflineRetry);
    }
    r.step = Step::Challenge;
}

void OsdpBus::handleClientCryptogram(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const Bytes& d = reply.data;
    if (reply.code != reply::ClientCryptogram || d.size() < 32 || reply.securityType != scs::ClientCryptogram)
        return handshakeFailed(index, now);
    std::copy_n(d.begin() + 8, 8, r.pdRandom.begin());
    const Block expected = clientCryptogram(r.keys, r.cpRandom, r.pdRandom);
    if (!sameBytes(expected, std::span(d).subspan(16, 16))) {
        if (r.keyChoice == KeyChoice::Stored)
            log(index, QStringLiteral("el lector rechaza la clave: no responde con la clave guardada"), now);
        return handshakeFailed(index, now);
    }
    if (r.keyChoice == KeyChoice::InstallProbe) {
        // The reader holds only the well-known key while ours is stored:
        // swapped for a new one, reset, or something pretending to be it.
        if (!r.installAlerted) {
            log(index,
                QStringLiteral("ALERTA: el lector sólo responde a la clave de instalación aunque hay una clave guardada "
                               "(¿cambiado o reiniciado?); no se le da clave nueva por sí solo: si es el lector correcto, "
                               "dele una con --reader-check PUERTO --rekey"),
                now);
            BusEvent e{};
            e.kind = BusEvent::Kind::InstallKeyOnly;
            e.reader = index;
            e.at = now;
            report(e);
        }
        r.installAlerted = true;
        return handshakeFailed(index, now);
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
        return handshakeFailed(index, now);
    }
    r.session.emplace(r.keys, expected, true);
    switch (r.keyChoice) {
    case KeyChoice::Stored:
        r.previousKey.reset();
        r.keyTry = 0;
        r.installAlerted = false;
        if (r.config.rekey)
            return giveNewKey(index, now);
        return channelUp(index, now);
    case KeyChoice::Previous: // the last new key did not take
    case KeyChoice::Install:  // allowed only when no key is stored, or on request
        return giveNewKey(index, now);
    case KeyChoice::InstallProbe:
        break;
    }
    dropToIdle(index, now, OfflineRetry);
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
    const Block before = keyFor(r, r.keyChoice);
    r.previousKey = before;
    r.config.key = key;
    r.config.rekey = false;
    r.keyTry = 0; // whatever becomes of it, the new key is tried first
    r.step = Step::KeySet;
}

void OsdpBus::handleKeySetAnswer(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    if (reply.code != reply::Ack)
        return dropToIdle(index, now, OfflineRetry);
    log(index, QStringLiteral("clave nueva de canal seguro dada al lector y guardada"), now);
    r.session.reset();
    r.step = Step::Challenge;
}

void OsdpBus::channelUp(int index, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    r.step = Step::Online;
    r.nextPoll = now + PollInterval; // the state queries below go first
    r.pollFirst = false;
    // What the reader's state is now; its first authenticated answer also
    // shows it is there.
    const auto firstOther = std::find_if(r.queue.begin(), r.queue.end(),
                                         [](const Command& c) { return c.code != command::Output; });
    r.queue.insert(firstOther, {command::LocalStatus, {}});
    if (r.capabilities.inputs > 0)
        r.queue.push_back({command::InputStatus, {}});
    if (!r.receiveSizeRefused) {
        r.queue.push_back({command::ReceiveSize,
                           {static_cast<std::uint8_t>(MaxPacketSize & 0xFF), static_cast<std::uint8_t>(MaxPacketSize >> 8)}});
    }
}

void OsdpBus::proven(int index, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    r.lastHealthy = now;
    if (r.proven)
        return;
    r.proven = true;
    if (!r.up)
        return reportOnline(index, now);
    BusEvent e{};
    e.kind = BusEvent::Kind::Restarted;
    e.reader = index;
    e.capabilities = r.capabilities;
    e.at = now;
    report(e);
}

void OsdpBus::handleOnline(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now)
{
    proven(index, now); // the reply passed every check
    const Bytes& d = reply.data;
    BusEvent e{};
    e.reader = index;
    e.at = now;
    switch (reply.code) {
    case reply::RawCard: {
        if (d.size() < 4)
            return;
        pollsHeldUntil_ = now + HoldAfterRead;
        e.kind = BusEvent::Kind::RawCard;
        e.bits = d[2] | (d[3] << 8);
        e.data.assign(d.begin() + 4, d.end());
        return report(e);
    }
    case reply::FormattedCard:
        if (d.size() < 3)
            return;
        pollsHeldUntil_ = now + HoldAfterRead;
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
    case reply::LocalStatus:
    case reply::InputStatus:
        return handleStatus(index, reply, now);
    case reply::Com:
        if (d.size() < 5)
            return;
        e.kind = BusEvent::Kind::Com;
        e.data = {d[0]};
        e.bits = static_cast<int>(d[1] | (d[2] << 8) | (d[3] << 16) | (static_cast<std::uint32_t>(d[4]) << 24));
        return report(e);
    case reply::Ack:
        if (sentCode == command::Output)
            report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("ACK"), {}, 0, {}, {}, {}, now});
        return;
    default:
        return;
    }
}

void OsdpBus::handleStatus(int index, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const Bytes& d = reply.data;
    BusEvent e{};
    e.reader = index;
    e.at = now;
    if (reply.code == reply::LocalStatus) {
        if (d.size() < 2)
            return;
        const LocalStatus s{d[0] != 0, d[1] != 0};
        if (r.status == s)
            return;
        r.status = s;
        e.kind = BusEvent::Kind::LocalStatus;
        e.status = s;
        return report(e);
    }
    if (r.inputs == d)
        return;
    r.inputs = d;
    e.kind = BusEvent::Kind::Inputs;
    e.data = d;
    report(e);
}

void OsdpBus::reportOnline(int index, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
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

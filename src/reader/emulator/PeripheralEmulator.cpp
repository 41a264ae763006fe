#include "PeripheralEmulator.h"

#include <algorithm>

namespace parking::osdp {

namespace {

// An identity no real vendor uses.
const Bytes EmulatorIdentity = {0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x07};
constexpr std::uint8_t StoredKeySelector = 0x01;

} // namespace

PeripheralEmulator::PeripheralEmulator(std::uint8_t address, int rows, int columns)
    : address_(address), rows_(rows), columns_(columns), display_(rows, QString()), identity_(EmulatorIdentity)
{
}

int PeripheralEmulator::commandsSeen(std::uint8_t code) const
{
    return seen_[code];
}

void PeripheralEmulator::restart()
{
    session_.reset();
    pending_.reset();
    lastSequence_.reset();
    lastReply_.clear();
    display_ = QStringList(rows_, QString());
    ledColour_ = 0;
}

void PeripheralEmulator::setCapabilities(const Capabilities& c)
{
    capabilities_ = c;
    inputs_.resize(static_cast<std::size_t>(std::max(0, c.inputs)), 0);
}

void PeripheralEmulator::setTamper(bool tamper)
{
    statusChanged_ = statusChanged_ || tamper != tamper_;
    tamper_ = tamper;
}

void PeripheralEmulator::setPowerLost(bool lost)
{
    statusChanged_ = statusChanged_ || lost != powerLost_;
    powerLost_ = lost;
}

void PeripheralEmulator::setInput(int input, bool active)
{
    if (input < 0 || static_cast<std::size_t>(input) >= inputs_.size())
        return;
    const std::uint8_t value = active ? 1 : 0;
    inputsChanged_ = inputsChanged_ || inputs_[static_cast<std::size_t>(input)] != value;
    inputs_[static_cast<std::size_t>(input)] = value;
}

void PeripheralEmulator::presentRawCard(int bits, Bytes data)
{
    Bytes d{0, 1, static_cast<std::uint8_t>(bits & 0xFF), static_cast<std::uint8_t>(bits >> 8)};
    d.insert(d.end(), data.begin(), data.end());
    Packet p = plain(reply::RawCard, std::move(d));
    reads_.push_back(p);
}

void PeripheralEmulator::presentCardNumber(std::uint64_t number)
{
    // 44 bits, left-justified in six bytes.
    const std::uint64_t shifted = number << 4;
    Bytes data;
    for (int i = 5; i >= 0; --i)
        data.push_back(static_cast<std::uint8_t>(shifted >> (8 * i)));
    presentRawCard(44, std::move(data));
}

void PeripheralEmulator::presentFormattedCard(const QString& text)
{
    const QByteArray latin = text.toLatin1();
    Bytes d{0, 0, static_cast<std::uint8_t>(latin.size())};
    d.insert(d.end(), latin.begin(), latin.end());
    reads_.push_back(plain(reply::FormattedCard, std::move(d)));
}

void PeripheralEmulator::pressKeys(const QString& digits)
{
    const QByteArray latin = digits.toLatin1();
    Bytes d{0, static_cast<std::uint8_t>(latin.size())};
    d.insert(d.end(), latin.begin(), latin.end());
    reads_.push_back(plain(reply::Keypad, std::move(d)));
}

std::optional<Bytes> PeripheralEmulator::plainReply(const Packet& command, Packet reply)
{
    reply.sequence = command.sequence;
    return encode(reply);
}

std::optional<Bytes> PeripheralEmulator::handle(const Decoded& command)
{
    const Packet& c = command.packet;
    if (silent_ || c.reply || (c.address != address_ && c.address != BroadcastAddress))
        return std::nullopt;
    if (forgeNak_)
        return plainReply(c, nak(0));
    if (busyCount_ > 0) {
        // Busy: nothing done, nothing remembered; the same command comes again.
        --busyCount_;
        Packet busy = plain(reply::Busy);
        busy.sequence = 0;
        return encode(busy);
    }
    // The same sequence number again: our reply was lost, send it again.
    if (c.sequence != 0 && lastSequence_ == c.sequence && !lastReply_.empty())
        return lastReply_;
    if (c.sequence == 0)
        session_.reset(); // the controller starts over
    ++seen_[c.code];
    Packet plainCommand = c;
    const bool secureCommand = c.hasMac();
    if (secureCommand) {
        auto opened = session_ ? session_->open(command) : std::nullopt;
        if (!opened) {
            session_.reset();
            Packet refusal = nak(nak::SecurityBlock);
            refusal.sequence = c.sequence;
            lastSequence_ = c.sequence;
            lastReply_ = encode(refusal);
            return lastReply_;
        }
        plainCommand = *opened;
    }
    std::optional<Packet> reply;
    if (nakCount_ > 0) {
        --nakCount_;
        reply = nak(nakCode_);
    } else {
        reply = answer(plainCommand, secureCommand);
    }
    if (!reply)
        return std::nullopt;
    reply->sequence = c.sequence;
    lastSequence_ = c.sequence;
    const bool inClear = c.code == command::KeySet && plainKeySetAck_ && reply->code == reply::Ack;
    lastReply_ = (secureCommand && session_ && !inClear) ? session_->seal(*reply, !macOnlyReplies_) : encode(*reply);
    if (nextAddress_) {
        // osdp_COMSET: answered at the old address, from now on the new one.
        address_ = *nextAddress_;
        nextAddress_.reset();
    }
    if (loseCount_ > 0 && (!loseCode_ || *loseCode_ == c.code)) {
        --loseCount_;
        return std::nullopt;
    }
    return lastReply_;
}

Packet PeripheralEmulator::capabilitiesReply() const
{
    const auto flag = [](bool b) { return b ? std::uint8_t(1) : std::uint8_t(0); };
    const Capabilities& c = capabilities_;
    Bytes d{1, 1, static_cast<std::uint8_t>(inputs_.size()), 2, flag(c.output), 1, 3, 1, 0, 4, flag(c.led), 1,
            5, flag(c.buzzer), 1, 6, flag(c.text), static_cast<std::uint8_t>(rows_)};
    if (c.secureChannel)
        d.insert(d.end(), {9, flag(*c.secureChannel), 1});
    if (c.receiveSize > 0)
        d.insert(d.end(), {10, static_cast<std::uint8_t>(c.receiveSize & 0xFF), static_cast<std::uint8_t>(c.receiveSize >> 8)});
    return plain(reply::Capabilities, std::move(d));
}

Packet PeripheralEmulator::comSet(const Packet& c)
{
    const Bytes& d = c.data;
    if (d.size() != 5 || d[0] > MaxAddress)
        return nak(nak::CommandLength);
    baud_ = static_cast<int>(d[1] | (d[2] << 8) | (d[3] << 16) | (static_cast<std::uint32_t>(d[4]) << 24));
    nextAddress_ = d[0];
    return plain(reply::Com, d);
}

std::optional<Packet> PeripheralEmulator::answer(const Packet& c, bool secureCommand)
{
    const Bytes& d = c.data;
    switch (c.code) {
    case command::Poll:
        return pollReply();
    case command::Id:
        return plain(reply::Identity, identity_);
    case command::Capabilities:
        return capabilitiesReply();
    case command::LocalStatus:
        statusChanged_ = false;
        return plain(reply::LocalStatus, {tamper_ ? std::uint8_t(1) : std::uint8_t(0), powerLost_ ? std::uint8_t(1) : std::uint8_t(0)});
    case command::InputStatus:
        inputsChanged_ = false;
        return plain(reply::InputStatus, Bytes(inputs_.begin(), inputs_.end()));
    case command::Output:
        for (std::size_t i = 0; i + 3 < d.size(); i += 4)
            relays_.push_back({d[i], d[i + 1], d[i + 2] | (d[i + 3] << 8)});
        return plain(reply::Ack);
    case command::Led:
        if (d.size() >= 14) {
            const bool temporary = d[2] == 2;
            ledColour_ = temporary ? d[5] : d[12];
            leds_.push_back({ledColour_, temporary ? d[7] | (d[8] << 8) : 0});
        }
        return plain(reply::Ack);
    case command::Buzzer:
        if (d.size() >= 5 && d[1] >= 2)
            beeps_ += std::max<int>(1, d[4]);
        return plain(reply::Ack);
    case command::Text: {
        if (d.size() < 6 || d[3] < 1 || d[3] > rows_ || d.size() < 6u + d[5])
            return nak(nak::CommandLength);
        const QString text = QString::fromLatin1(reinterpret_cast<const char*>(d.data()) + 6, d[5]);
        QString& row = display_[d[3] - 1];
        const QString before = row.leftJustified(d[4] - 1, QLatin1Char(' '), true);
        const QString after = row.mid(d[4] - 1 + text.size());
        row = before + text + after;
        row.truncate(columns_);
        return plain(reply::Ack);
    }
    case command::ComSet:
        return comSet(c);
    case command::FileTransfer:
        return fileTransfer(d);
    case command::ReceiveSize:
        return d.size() == 2 ? plain(reply::Ack) : nak(nak::CommandLength);
    case command::KeySet:
        if (!secureCommand || d.size() != 18 || d[0] != 0x01 || d[1] != 16)
            return nak(secureCommand ? nak::CommandLength : nak::EncryptionRequired);
        key_ = Block{};
        std::copy(d.begin() + 2, d.end(), key_->begin());
        return plain(reply::Ack);
    case command::Challenge:
        if (capabilities_.secureChannel == false)
            return nak(nak::UnknownCommand);
        return challenge(c);
    case command::ServerCryptogram:
        return serverCryptogram(c);
    default:
        return nak(nak::UnknownCommand);
    }
}

Packet PeripheralEmulator::challenge(const Packet& c)
{
    session_.reset();
    const bool stored = !c.securityData.empty() && c.securityData[0] == StoredKeySelector;
    // A reader given a key of its own no longer answers the install key.
    if (c.data.size() != 8 || stored != key_.has_value())
        return nak(nak::SecurityBlock);
    std::copy(c.data.begin(), c.data.end(), cpRandom_.begin());
    fillRandom(pdRandom_);
    pending_ = deriveSessionKeys(stored ? *key_ : InstallKey, cpRandom_);
    Packet p = plain(reply::ClientCryptogram);
    p.securityType = scs::ClientCryptogram;
    p.securityData = {stored ? std::uint8_t(1) : std::uint8_t(0)};
    p.data.assign(EmulatorIdentity.begin() + 1, EmulatorIdentity.begin() + 9); // the client UID
    p.data.insert(p.data.end(), pdRandom_.begin(), pdRandom_.end());
    const Block crypt = clientCryptogram(*pending_, cpRandom_, pdRandom_);
    p.data.insert(p.data.end(), crypt.begin(), crypt.end());
    return p;
}

Packet PeripheralEmulator::serverCryptogram(const Packet& c)
{
    if (!pending_ || c.data.size() != 16)
        return nak(nak::SecurityBlock);
    const Block expected = osdp::serverCryptogram(*pending_, cpRandom_, pdRandom_);
    if (!sameBytes(expected, c.data))
        return nak(nak::SecurityBlock);
    const Block rmac = initialRmac(*pending_, expected);
    session_.emplace(*pending_, rmac, false);
    pending_.reset();
    Packet p = plain(reply::InitialRmac, Bytes(rmac.begin(), rmac.end()));
    p.securityType = scs::InitialRmac;
    p.securityData = {0x01};
    return p;
}

Packet PeripheralEmulator::pollReply()
{
    if (statusChanged_) {
        statusChanged_ = false;
        return plain(reply::LocalStatus, {tamper_ ? std::uint8_t(1) : std::uint8_t(0), powerLost_ ? std::uint8_t(1) : std::uint8_t(0)});
    }
    if (inputsChanged_) {
        inputsChanged_ = false;
        return plain(reply::InputStatus, Bytes(inputs_.begin(), inputs_.end()));
    }
    if (reads_.empty())
        return plain(reply::Ack);
    Packet p = reads_.front();
    reads_.pop_front();
    return p;
}

Packet PeripheralEmulator::plain(std::uint8_t code, Bytes data) const
{
    Packet p;
    p.address = address_;
    p.reply = true;
    p.code = code;
    p.data = std::move(data);
    return p;
}

Packet PeripheralEmulator::nak(std::uint8_t code) const
{
    return plain(reply::Nak, {code});
}

// osdp_FILETRANSFER: type, total size (4), offset (4), fragment size (2),
// the fragment; answered with osdp_FTSTAT: action, delay (2), status (2,
// signed), the longest fragment wanted (2), all little-endian.
Packet PeripheralEmulator::fileTransfer(const Bytes& d)
{
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(d[at] | d[at + 1] << 8); };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (d.size() < 11 || d.size() != 11 + u16(9))
        return nak(nak::CommandLength);
    const FileBehaviour& b = fileBehaviour_;
    const auto status = [&](std::int16_t s) {
        const auto v = static_cast<std::uint16_t>(s);
        return plain(reply::FileTransferStatus,
                     {0x01, static_cast<std::uint8_t>(b.delayMs & 0xFF), static_cast<std::uint8_t>(b.delayMs >> 8),
                      static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8),
                      static_cast<std::uint8_t>(b.fragmentMax & 0xFF), static_cast<std::uint8_t>(b.fragmentMax >> 8)});
    };
    const std::uint32_t total = u32(1);
    const std::uint32_t offset = u32(5);
    const std::uint32_t length = u16(9);
    if (b.refuse < 0) {
        file_.clear();
        return status(b.refuse);
    }
    if (total == 0 || total > 16 * 1024 * 1024 || offset + length > total)
        return status(-3);
    if (offset == 0 || file_.size() != total || d[0] != fileType_) {
        if (offset != 0)
            return status(-3); // a fragment of no file begun
        file_.assign(total, 0);
        fileIn_ = 0;
        fileType_ = d[0];
        finishingLeft_ = b.finishing;
    }
    if (offset > fileIn_)
        return status(-3); // a gap
    std::copy(d.begin() + 11, d.end(), file_.begin() + offset);
    fileIn_ = std::max(fileIn_, offset + length);
    if (b.abortAt && fileIn_ >= *b.abortAt) {
        file_.clear();
        return status(-1);
    }
    if (fileIn_ < total)
        return status(0);
    if (!file_.empty() && receivedFile_ != file_) {
        receivedFile_ = file_;
        ++identity_[11];
    }
    if (finishingLeft_ > 0) {
        --finishingLeft_;
        return status(3);
    }
    return status(1);
}

} // namespace parking::osdp

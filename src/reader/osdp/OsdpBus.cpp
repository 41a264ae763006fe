#include "OsdpBus.h"
#include "Overloaded.h"

#include <algorithm>

namespace parking::osdp {

namespace {

using Step = ReaderHandshake::Step;

} // namespace

OsdpBus::OsdpBus(std::function<void(const Bytes&)> send, std::function<void(const BusEvent&)> events, KeyStore storeKey,
                 RandomSource random)
    : send_(std::move(send)), events_(std::move(events)), storeKey_(std::move(storeKey)),
      random_(random ? std::move(random) : RandomSource(fillRandom))
{
}

std::chrono::microseconds OsdpBus::wireTime(std::size_t bytes) const
{
    if (baud_ <= 0)
        return std::chrono::microseconds(0);
    return std::chrono::microseconds(static_cast<std::int64_t>(bytes) * 10 * 1'000'000 / baud_);
}

int OsdpBus::addReader(const ReaderConfig& config, TimePoint now)
{
    const int index = static_cast<int>(readers_.size());
    auto store = [storeKey = storeKey_, index](const Block& key) { return storeKey && storeKey(index, key); };
    readers_.push_back({ReaderHandshake(config, std::move(store), random_), ReaderPresence(now, OfflineAfter), {}, now,
                        false});
    if (config.channel == ChannelMode::On && !config.key && !config.rekey)
        report(index, NoStoredKey{}, now);
    else if (config.channel == ChannelMode::Off)
        report(index, ChannelOff{}, now);
    return index;
}

void OsdpBus::removeReader(int reader)
{
    Reader& r = at(reader);
    r.removed = true;
    r.presence.wentOffline();
    r.commands.clear();
}

bool OsdpBus::online(int reader) const
{
    return readers_.at(static_cast<std::size_t>(reader)).presence.up();
}

const Capabilities& OsdpBus::capabilities(int reader) const
{
    return readers_.at(static_cast<std::size_t>(reader)).handshake.capabilities();
}

bool OsdpBus::submit(int reader, Command command)
{
    Reader& r = at(reader);
    if (!r.presence.up())
        return false;
    r.commands.add(std::move(command));
    return true;
}

void OsdpBus::tick(TimePoint now)
{
    checkHealth(now);
    if (outstanding_ && now >= outstanding_->deadline)
        timedOut(now);
    if (!outstanding_)
        sendNext(now);
}

void OsdpBus::received(std::span<const std::uint8_t> bytes, TimePoint now)
{
    frames_.feed(bytes);
    while (auto d = frames_.next())
        answered(*d, now);
    if (!outstanding_)
        sendNext(now);
}

void OsdpBus::restart(TimePoint now)
{
    outstanding_.reset();
    frames_.clear();
    schedule_.lineFreeAt(now);
    for (std::size_t i = 0; i < readers_.size(); ++i) {
        Reader& r = readers_[i];
        if (r.removed)
            continue;
        r.commands.clear();
        dropToIdle(static_cast<int>(i), now, OfflineRetry);
        if (r.presence.up()) {
            r.presence.wentOffline();
            report(static_cast<int>(i), ReaderOffline{}, now);
        }
    }
}

TimePoint OsdpBus::nextWakeUp(TimePoint now) const
{
    TimePoint next = outstanding_ ? outstanding_->deadline : schedule_.nextDue(readers_, now);
    for (const Reader& r : readers_) {
        if (const auto silent = r.presence.silentFrom(); silent && !r.removed)
            next = std::min(next, *silent);
    }
    return std::max(next, now);
}

// ---- sending ----------------------------------------------------------------

void OsdpBus::sendNext(TimePoint now)
{
    // A command the reader's size refuses is dropped without a word on the
    // line; then the next one is looked at.
    for (std::size_t guard = 0; guard <= readers_.size() + 64; ++guard) {
        if (outstanding_ || !schedule_.lineFree(now))
            return;
        const auto index = schedule_.takeTurn(readers_, now);
        if (!index)
            return;
        Reader& r = at(*index);
        if (r.commands.repeatWaiting())
            return sendBytes(r.commands.takeRepeat(), now);
        if (r.handshake.step() == Step::Idle) {
            r.handshake.start();
            r.commands.restart();
            r.presence.handshakeStarted();
        }
        const Command next = r.handshake.step() == Step::Online ? schedule_.nextOnline(r, now) : r.handshake.next();
        if (transmit(*index, next, now))
            return;
    }
}

bool OsdpBus::transmit(int index, const Command& c, TimePoint now)
{
    Reader& r = at(index);
    const MessageFields fields = encodeCommand(c);
    SecureSession* session = r.handshake.session();
    const bool sealed = session && !fields.securityType;
    const std::size_t size = packetSize(sealed, fields);
    const int limit = r.handshake.capabilities().receiveSize;
    if (r.handshake.step() == Step::Online && limit > 0 && size > static_cast<std::size_t>(limit)) {
        if (r.commands.firstTooLong())
            report(index, CommandTooLong{fields.code, size, limit}, now);
        if (fields.code == command::Output)
            report(index, RelayAnswered{RelayAnswer::TooLong, 0}, now);
        if (fields.code == command::FileTransfer)
            report(index, FileTransferRefused{0, limit}, now);
        return false;
    }
    Packet p;
    p.address = r.handshake.config().address;
    p.sequence = r.commands.sequence();
    p.code = fields.code;
    p.data = fields.data;
    p.securityType = fields.securityType;
    p.securityData = fields.securityData;
    const Bytes packet = sealed ? session->seal(p) : encode(p);
    Bytes bytes;
    bytes.reserve(packet.size() + 1);
    bytes.push_back(MarkByte);
    bytes.insert(bytes.end(), packet.begin(), packet.end());
    sendBytes({index, fields.code, p.sequence, std::move(bytes), {}, 0}, now);
    return true;
}

void OsdpBus::sendBytes(SentCommand sent, TimePoint now)
{
    sent.deadline = now + wireTime(sent.bytes.size()) + ReplyTimeout;
    frames_.clear();
    frames_.expectAddressByte(static_cast<std::uint8_t>(at(sent.reader).handshake.config().address | ReplyFlag));
    outstanding_ = std::move(sent);
    send_(outstanding_->bytes);
}

// ---- receiving --------------------------------------------------------------

void OsdpBus::timedOut(TimePoint now)
{
    SentCommand o = std::move(*outstanding_);
    outstanding_.reset();
    schedule_.lineFreeAt(now + wireTime(2));
    const int index = o.reader;
    Reader& r = at(index);
    // A reader that answered in this attempt keeps its last reply for a
    // repeat of the same command; one that never answered is not asked
    // again and again (its neighbour would wait).
    const bool answering = r.presence.up() || (r.handshake.step() != Step::Identify && r.handshake.step() != Step::Idle);
    if (!r.removed && answering && o.repeats < RepeatLimit) {
        ++o.repeats;
        r.commands.repeatLater(std::move(o), now);
        return;
    }
    if (o.code == command::Output)
        report(index, RelayAnswered{RelayAnswer::NoAnswer, 0}, now);
    if (o.code == command::FileTransfer)
        report(index, FileTransferUnanswered{}, now);
    // Start over at sequence 0 with a fresh channel: at once for a reader
    // that is still counted online, within a second for one that is not.
    dropToIdle(index, now, r.presence.up() ? milliseconds(0) : OfflineRetry);
}

void OsdpBus::dropToIdle(int index, TimePoint now, milliseconds wait)
{
    Reader& r = at(index);
    r.handshake.stop();
    r.commands.restart();
    r.presence.handshakeStarted();
    r.nextAttempt = now + wait;
}

void OsdpBus::answered(const Decoded& d, TimePoint now)
{
    if (!outstanding_) {
        ++unexpected_;
        return;
    }
    Reader& r = at(outstanding_->reader);
    const Packet& p = d.packet;
    if (!p.reply || p.address != r.handshake.config().address) {
        ++unexpected_;
        return;
    }
    SentCommand o = std::move(*outstanding_);
    outstanding_.reset();
    schedule_.lineFreeAt(now + wireTime(2));
    const int index = o.reader;
    const milliseconds restartWait = r.presence.up() ? milliseconds(0) : OfflineRetry;
    if (p.code == reply::Busy && !p.securityType) {
        // The reader cannot take the command now (a BUSY carries sequence
        // 0 and no MAC): the same bytes again, after a moment.
        r.commands.repeatLater(std::move(o), now + BusyWait);
        return;
    }
    if (p.sequence != o.sequence) {
        // A reader that restarted answers at the start of a sequence.
        if (p.sequence == 0 && o.sequence != 0 && !p.securityType)
            return dropToIdle(index, now, restartWait);
        ++unexpected_;
        outstanding_ = std::move(o); // still waiting for the right reply
        return;
    }
    Packet reply = p;
    if (SecureSession* session = r.handshake.session()) {
        if (!p.hasMac()) {
            if (r.handshake.step() == Step::KeySet && p.code == reply::Ack && !p.securityType) {
                // Readers in the field acknowledge a new key in the clear.
                r.commands.advanceSequence();
                return follow(index, r.handshake.answered(Reply{AckReply{}}), now);
            }
            // A plain reply inside the channel proves nothing: a reader that
            // lost its channel answers so, and so can anything on the wire.
            ++unexpected_;
            return dropToIdle(index, now, restartWait);
        }
        auto opened = session->open(d);
        if (!opened) {
            ++unexpected_;
            report(index, ChannelBroken{}, now);
            return dropToIdle(index, now, restartWait);
        }
        reply = std::move(*opened);
    }
    r.commands.advanceSequence();
    if (reply.code == reply::Nak)
        return answeredNak(index, o.code, reply.data.empty() ? 0 : reply.data[0], now);
    if (r.handshake.step() == Step::Online)
        return answeredOnline(index, o.code, reply, now);
    follow(index, r.handshake.answered(decodeReply(reply)), now);
}

void OsdpBus::answeredNak(int index, std::uint8_t sentCode, std::uint8_t nak, TimePoint now)
{
    Reader& r = at(index);
    if (sentCode == command::Output)
        report(index, RelayAnswered{RelayAnswer::Nak, nak}, now);
    if (sentCode == command::FileTransfer)
        report(index, FileTransferRefused{nak}, now);
    if (r.handshake.step() != Step::Online)
        return follow(index, r.handshake.refused(nak), now);
    if (nak == nak::Sequence || nak == nak::EncryptionRequired || nak == nak::SecurityBlock) {
        // A sequence error or a channel the reader no longer knows: start
        // over at 0 (readers that never recover from a mismatch exist).
        return dropToIdle(index, now, milliseconds(0));
    }
    // An authenticated refusal of one command: the reader is there.
    if (sentCode == command::ReceiveSize)
        r.commands.receiveSizeRefused();
    proven(index, now);
}

void OsdpBus::follow(int index, const ReaderHandshake::Outcome& outcome, TimePoint now)
{
    if (outcome.fact)
        report(index, *outcome.fact, now);
    switch (outcome.next) {
    case ReaderHandshake::Next::Continue:
        return;
    case ReaderHandshake::Next::Online: {
        // What the reader's state is now; its first authenticated answer
        // also shows it is there. The state queries go before the polls.
        Reader& r = at(index);
        r.commands.online(now + PollInterval, r.handshake.capabilities());
        return;
    }
    case ReaderHandshake::Next::Retry:
        return dropToIdle(index, now, OfflineRetry);
    }
}

void OsdpBus::answeredOnline(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now)
{
    proven(index, now); // the reply passed every check
    const auto decoded = decodeReply(reply);
    if (!decoded)
        return;
    ReaderPresence& presence = at(index).presence;
    std::visit(Overloaded{
                   [&](const RawCardReply& c) {
                       schedule_.cardRead(now);
                       report(index, CardBitsRead{c.bits, c.data}, now);
                   },
                   [&](const FormattedCardReply& c) {
                       schedule_.cardRead(now);
                       report(index, CardTrackRead{c.text}, now);
                   },
                   [&](const KeypadReply& k) { report(index, KeysPressed{k.digits}, now); },
                   [&](const LocalStatus& s) {
                       if (presence.statusChanged(s))
                           report(index, LocalStatusChanged{s}, now);
                   },
                   [&](const InputStatusReply& i) {
                       if (presence.inputsChanged(i.states))
                           report(index, InputsChanged{i.states}, now);
                   },
                   [&](const ComReply& c) { report(index, AddressConfirmed{c.address, c.baud}, now); },
                   [&](const FileTransferStatusReply& s) { report(index, FileTransferAnswered{s}, now); },
                   [&](const Identity& i) { report(index, IdentityRead{i}, now); },
                   [&](const AckReply&) {
                       if (sentCode == command::Output)
                           report(index, RelayAnswered{RelayAnswer::Ack, 0}, now);
                   },
                   [](const auto&) {},
               },
               *decoded);
}

void OsdpBus::proven(int index, TimePoint now)
{
    Reader& r = at(index);
    switch (r.presence.proven(now)) {
    case ReaderPresence::Proof::Nothing:
        return;
    case ReaderPresence::Proof::CameOnline:
        return report(index, ReaderOnline{r.handshake.identity(), r.handshake.capabilities(), r.handshake.secured()}, now);
    case ReaderPresence::Proof::Restarted:
        return report(index, ReaderRestarted{r.handshake.capabilities()}, now);
    }
}

void OsdpBus::checkHealth(TimePoint now)
{
    for (std::size_t i = 0; i < readers_.size(); ++i) {
        Reader& r = readers_[i];
        if (r.removed || !r.presence.silent(now))
            continue;
        r.presence.wentOffline();
        r.commands.clear();
        if (!outstanding_ || outstanding_->reader != static_cast<int>(i))
            dropToIdle(static_cast<int>(i), now, milliseconds(0));
        report(static_cast<int>(i), ReaderOffline{}, now);
    }
}

void OsdpBus::report(int index, BusFact fact, TimePoint now)
{
    if (events_)
        events_(BusEvent{index, now, std::move(fact)});
}

OsdpBus::Reader& OsdpBus::at(int index)
{
    return readers_.at(static_cast<std::size_t>(index));
}

} // namespace parking::osdp

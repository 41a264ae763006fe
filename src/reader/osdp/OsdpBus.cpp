#include "OsdpBus.h"

#include <algorithm>

namespace parking::osdp {

OsdpBus::OsdpBus(std::function<void(const Bytes&)> send, std::function<void(const BusEvent&)> events, KeyStore storeKey)
    : send_(std::move(send)), events_(std::move(events)), storeKey_(std::move(storeKey))
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
    readers_.push_back(Reader{});
    Reader& r = readers_.back();
    r.config = config;
    r.startedAt = now;
    r.nextAttempt = now;
    r.nextPoll = now;
    const int index = static_cast<int>(readers_.size()) - 1;
    if (config.channel == ChannelMode::On && !config.key && !config.rekey) {
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
    r.repeat.reset();
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
        // A barrier does not wait behind display texts, nor for a poll.
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

// ---- when what is due -------------------------------------------------------

bool OsdpBus::canStart(const Reader& r) const
{
    return r.config.channel != ChannelMode::On || r.config.key || r.config.rekey;
}

std::optional<TimePoint> OsdpBus::dueAt(const Reader& r, TimePoint now) const
{
    if (r.removed)
        return std::nullopt;
    if (r.repeat)
        return r.repeatAt;
    switch (r.step) {
    case Step::Idle:
        return canStart(r) ? std::optional(r.nextAttempt) : std::nullopt;
    case Step::Online:
        if (!r.queue.empty())
            return now;
        return std::max(r.nextPoll, pollsHeldUntil_);
    case Step::Identify:
    case Step::Capabilities:
    case Step::Challenge:
    case Step::Cryptogram:
    case Step::KeySet:
        return now;
    }
    return std::nullopt;
}

TimePoint OsdpBus::nextWakeUp(TimePoint now) const
{
    TimePoint next = TimePoint::max();
    if (outstanding_) {
        next = outstanding_->deadline;
    } else {
        for (const Reader& r : readers_) {
            if (const auto due = dueAt(r, now))
                next = std::min(next, std::max(*due, lineFree_));
        }
    }
    for (const Reader& r : readers_) {
        if (r.removed)
            continue;
        if (r.up)
            next = std::min(next, r.lastHealthy + OfflineAfter);
        else if (!r.reported)
            next = std::min(next, r.startedAt + OfflineAfter);
    }
    return std::max(next, now);
}

std::optional<int> OsdpBus::nextDue(TimePoint now)
{
    const int n = static_cast<int>(readers_.size());
    std::optional<int> best;
    int bestRank = 2;
    for (int k = 0; k < n; ++k) {
        const int i = (turn_ + k) % n;
        const Reader& r = readers_[static_cast<std::size_t>(i)];
        const auto due = dueAt(r, now);
        if (!due || *due > now)
            continue;
        // A repeat, a command waiting (a barrier to open) or a handshake
        // under way goes before the neighbour's poll.
        const bool urgent = r.repeat || (r.step != Step::Idle && r.step != Step::Online) ||
                            (r.step == Step::Online && !r.queue.empty());
        const int rank = urgent ? 0 : 1;
        if (rank < bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    if (best)
        turn_ = (*best + 1) % n;
    return best;
}

// ---- receiving --------------------------------------------------------------

void OsdpBus::timedOut(TimePoint now)
{
    Outstanding o = std::move(*outstanding_);
    outstanding_.reset();
    lineFree_ = now + wireTime(2);
    Reader& r = readers_[static_cast<std::size_t>(o.reader)];
    // A reader that answered in this attempt keeps its last reply for a
    // repeat of the same command; one that never answered is not asked
    // again and again (its neighbour would wait).
    const bool answering = r.up || (r.step != Step::Identify && r.step != Step::Idle);
    if (!r.removed && answering && o.repeats < RepeatLimit) {
        ++o.repeats;
        r.repeatAt = now;
        r.repeat = std::move(o);
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
    r.repeat.reset();
    r.proven = false;
    r.nextAttempt = now + wait;
}

void OsdpBus::answered(const Decoded& d, TimePoint now)
{
    if (!outstanding_) {
        ++unexpected_;
        return;
    }
    Reader& r = readers_[static_cast<std::size_t>(outstanding_->reader)];
    const Packet& p = d.packet;
    if (!p.reply || p.address != r.config.address) {
        ++unexpected_;
        return;
    }
    Outstanding o = std::move(*outstanding_);
    outstanding_.reset();
    lineFree_ = now + wireTime(2);
    const int index = o.reader;
    if (p.code == reply::Busy && !p.securityType) {
        // The reader cannot take the command now (a BUSY carries sequence
        // 0 and no MAC): the same bytes again, after a moment.
        r.repeatAt = now + BusyWait;
        r.repeat = std::move(o);
        return;
    }
    if (p.sequence != o.sequence) {
        if (p.sequence == 0 && o.sequence != 0 && !p.securityType) {
            // A reader that restarted answers at the start of a sequence.
            return dropToIdle(index, now, r.up ? milliseconds(0) : OfflineRetry);
        }
        ++unexpected_;
        outstanding_ = std::move(o); // still waiting for the right reply
        return;
    }
    Packet reply = p;
    if (r.session) {
        if (!p.hasMac()) {
            if (r.step == Step::KeySet && p.code == reply::Ack && !p.securityType) {
                // Readers in the field acknowledge a new key in the clear.
                r.sequence = r.sequence == 3 ? 1 : static_cast<std::uint8_t>(r.sequence + 1);
                return handleKeySetAnswer(index, p, now);
            }
            // A plain reply inside the channel proves nothing: a reader that
            // lost its channel answers so, and so can anything on the wire.
            ++unexpected_;
            return dropToIdle(index, now, r.up ? milliseconds(0) : OfflineRetry);
        }
        auto opened = r.session->open(d);
        if (!opened) {
            ++unexpected_;
            log(index, QStringLiteral("canal seguro roto (MAC no válido); se vuelve a establecer"), now);
            return dropToIdle(index, now, r.up ? milliseconds(0) : OfflineRetry);
        }
        reply = std::move(*opened);
    }
    r.sequence = r.sequence == 3 ? 1 : static_cast<std::uint8_t>(r.sequence + 1);
    if (reply.code == reply::Nak)
        return answeredNak(index, o.code, reply, now);
    handle(index, o.code, reply, now);
}

void OsdpBus::answeredNak(int index, std::uint8_t sentCode, const Packet& reply, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    const int code = reply.data.empty() ? 0 : reply.data[0];
    if (sentCode == command::Output)
        report({BusEvent::Kind::CommandAnswered, index, QStringLiteral("NAK %1").arg(code), {}, 0, {}, {}, {}, now});
    switch (r.step) {
    case Step::Online:
        if (code == nak::Sequence || code == nak::EncryptionRequired || code == nak::SecurityBlock) {
            // A sequence error or a channel the reader no longer knows: start
            // over at 0 (readers that never recover from a mismatch exist).
            return dropToIdle(index, now, milliseconds(0));
        }
        // An authenticated refusal of one command: the reader is there.
        if (sentCode == command::ReceiveSize)
            r.receiveSizeRefused = true;
        return proven(index, now);
    case Step::Challenge:
    case Step::Cryptogram:
        if (r.keyChoice != KeyChoice::InstallProbe)
            log(index, QStringLiteral("el lector rechaza la clave (NAK %1)").arg(code), now);
        return handshakeFailed(index, now);
    case Step::KeySet:
        log(index, QStringLiteral("el lector no acepta la clave nueva (NAK %1)").arg(code), now);
        return dropToIdle(index, now, OfflineRetry);
    case Step::Idle:
    case Step::Identify:
    case Step::Capabilities:
        return dropToIdle(index, now, OfflineRetry);
    }
}

void OsdpBus::handshakeFailed(int index, TimePoint now)
{
    Reader& r = readers_[static_cast<std::size_t>(index)];
    ++r.keyTry;
    dropToIdle(index, now, OfflineRetry);
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
        r.repeat.reset();
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

#include "WriteJournal.h"

#include "Clock.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

#include <unistd.h>

namespace parking {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

const char* kindName(WriteJournal::Kind k)
{
    switch (k) {
    case WriteJournal::Kind::Entrance:
        return "entrada";
    case WriteJournal::Kind::Exit:
        return "salida";
    case WriteJournal::Kind::TakeSpace:
        return "plaza-ocupada";
    case WriteJournal::Kind::GiveSpace:
        return "plaza-libre";
    }
    return "";
}

std::uint32_t crc32(const QByteArray& bytes)
{
    // CRC-32 (IEEE 802.3), bit by bit: a few lines, no table, no library
    // for a journal line of some fifty bytes.
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray withChecksum(const QByteArray& content)
{
    return content + '|' + QByteArray::number(crc32(content), 16).rightJustified(8, '0');
}

// A whole number exactly as QByteArray::number writes it: digits (a '-'
// only where `negative` allows), no sign, blank, padding or NUL.
std::optional<qint64> exactNumber(const QByteArray& field, bool negative = false)
{
    bool ok = false;
    const qint64 v = field.toLongLong(&ok);
    if (!ok || (v < 0 && !negative) || QByteArray::number(v) != field)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<std::variant<WriteJournal::Entry, qint64>> WriteJournal::parseLine(const QByteArray& raw)
{
    QList<QByteArray> f = raw.split('|');
    // Lines end in a checksum of the rest; the first journals had none and
    // are read just as strictly (load() takes them only at the file's start).
    if (checksummed(raw)) {
        const QByteArray content = raw.left(raw.lastIndexOf('|'));
        if (withChecksum(content) != raw)
            return std::nullopt;
        f.removeLast();
    }
    // A passage's unit: its two writes share one key, 16 hexadecimal digits.
    QByteArray unit;
    if (f.size() == 7 && f[0] == "W") {
        unit = f.takeLast();
        if (unit.size() != 16 || !std::all_of(unit.begin(), unit.end(), [](char c) {
                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
            }))
            return std::nullopt;
    }
    if (f.size() == 2 && f[0] == "D") {
        const auto seq = exactNumber(f[1]);
        if (!seq)
            return std::nullopt;
        return std::variant<Entry, qint64>(*seq);
    }
    if (f.size() != 6 || f[0] != "W")
        return std::nullopt;
    const auto seq = exactNumber(f[1]);
    const auto kind = exactNumber(f[2]);
    const auto subscriber = exactNumber(f[3], true);
    const auto installation = exactNumber(f[4]);
    const QDateTime when = parseIsoInstant(QString::fromLatin1(f[5]));
    if (!seq || !kind || *kind > 3 || !subscriber || *subscriber < INT32_MIN || *subscriber > INT32_MAX ||
        !installation || *installation > 255 || !when.isValid() || f[5].size() != 19)
        return std::nullopt;
    return std::variant<Entry, qint64>(Entry{*seq, static_cast<Kind>(*kind), static_cast<std::int32_t>(*subscriber),
                                             static_cast<std::uint8_t>(*installation), when, unit});
}

bool WriteJournal::checksummed(const QByteArray& raw)
{
    const qsizetype fields = raw.count('|') + 1;
    return (raw.startsWith("W|") && (fields == 7 || fields == 8)) || (raw.startsWith("D|") && fields == 3);
}

WriteJournal::WriteJournal(QString path, std::function<void(std::size_t)> onChange)
    : path_(std::move(path)), onChange_(std::move(onChange))
{
    load();
}

void WriteJournal::changed()
{
    if (onChange_)
        onChange_(pending_.size());
}

void WriteJournal::load()
{
    pending_.clear();
    damaged_.clear();
    nextSeq_ = 1;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        changed();
        return;
    }
    QList<Entry> written;
    QSet<qint64> done;
    const QList<QByteArray> lines = file.readAll().split('\n');
    bool sawChecksum = false;
    for (const QByteArray& raw : lines) {
        if (raw.isEmpty())
            continue; // the writer's own separators
        // A line without a checksum after one with: not from an older
        // program, so damage that happens to look like a line.
        const bool checked = checksummed(raw);
        const auto line = checked || !sawChecksum ? parseLine(raw) : std::nullopt;
        sawChecksum = sawChecksum || checked;
        if (!line) {
            // Torn by a crash, zero-filled or scribbled: never replayed.
            damaged_.push_back(raw);
        } else if (const auto* entry = std::get_if<Entry>(&*line)) {
            written.append(*entry);
        } else {
            done.insert(std::get<qint64>(*line));
        }
    }
    // A unit is a passage's two writes; one whose other write is not in the
    // file was torn by a crash before its barrier could open.
    // The same write twice (a line repeated by damage) is one write.
    QSet<qint64> seen;
    written.removeIf([&seen](const Entry& e) {
        const bool repeated = seen.contains(e.seq);
        seen.insert(e.seq);
        return repeated;
    });
    QHash<QByteArray, int> unitSize;
    for (const Entry& e : written)
        ++unitSize[e.unit];
    for (const Entry& e : written) {
        nextSeq_ = std::max(nextSeq_, e.seq + 1);
        if (!e.unit.isEmpty() && unitSize.value(e.unit) != UnitSize) {
            damaged_.push_back(entryLine(e));
            continue;
        }
        if (!done.contains(e.seq))
            pending_.push_back(e);
    }
    changed();
}

bool WriteJournal::writeLine(const QByteArray& line)
{
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const qint64 before = file.size();
    // A line cut short earlier must not swallow this one.
    const QByteArray bytes = "\n" + line + "\n";
    const bool ok = file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
    if (!ok) {
        // A full disk may have taken part of it: take it back, so that no
        // piece of a write the caller was told failed is ever replayed.
        file.resize(before);
        ::fsync(file.handle());
    }
    file.close();
    return ok;
}

QByteArray WriteJournal::entryLine(const Entry& e)
{
    QByteArray line = "W|" + QByteArray::number(e.seq) + "|" + QByteArray::number(static_cast<int>(e.kind)) + "|" +
                      QByteArray::number(e.subscriber) + "|" + QByteArray::number(e.installation) + "|" +
                      e.when.toString(TimeFormat).toLatin1();
    if (!e.unit.isEmpty())
        line += "|" + e.unit;
    return withChecksum(line);
}

bool WriteJournal::append(Kind kind, std::int32_t subscriber, std::uint8_t installation, const QDateTime& when)
{
    const Entry e{nextSeq_, kind, subscriber, installation, when};
    if (!writeLine(entryLine(e)))
        return false;
    ++nextSeq_;
    pending_.push_back(e);
    changed();
    return true;
}

bool WriteJournal::appendUnit(const std::vector<Write>& writes, const QByteArray& unit)
{
    std::vector<Entry> entries;
    QByteArray block;
    for (const Write& w : writes) {
        entries.push_back({nextSeq_ + static_cast<qint64>(entries.size()), w.kind, w.subscriber, w.installation, w.when,
                           unit});
        block += (block.isEmpty() ? QByteArray() : QByteArray("\n")) + entryLine(entries.back());
    }
    // One write and one flush for the whole unit: it is in the file whole or
    // (taken back) not at all.
    if (!writeLine(block))
        return false;
    nextSeq_ += static_cast<qint64>(entries.size());
    pending_.insert(pending_.end(), entries.begin(), entries.end());
    changed();
    return true;
}

bool WriteJournal::markOldestDone()
{
    if (pending_.empty())
        return true;
    if (!writeLine(withChecksum("D|" + QByteArray::number(pending_.front().seq))))
        return false;
    pending_.pop_front();
    changed();
    if (pending_.empty()) {
        // Everything is in the database: start the file afresh.
        QFile file(path_);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.flush();
            ::fsync(file.handle());
        }
    }
    return true;
}

QString WriteJournal::describe(const Entry& e)
{
    return QStringLiteral("%1 %2 (abonado %3, instalación %4)")
        .arg(QLatin1String(kindName(e.kind)), e.when.toString(TimeFormat))
        .arg(e.subscriber)
        .arg(e.installation);
}

} // namespace parking

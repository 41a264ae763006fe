#pragma once
// Movement and counter writes that could not reach the database, kept in a
// local file until they can. Each change is appended as one line and
// forced to disk before the barrier opens, so it survives a crash or a
// power cut; a replayed write is marked done the same way. A line cut short
// by a power cut is ignored.
//
// File lines: "W|seq|kind|subscriber|installation|YYYY-MM-DD hh:mm:ss|unit|crc"
// for a pending write, "D|seq|crc" once it reached the database; crc is the
// CRC-32 of the rest of the line in eight hexadecimal digits; unit is the
// key (16 hexadecimal digits) the passage's two writes share, by which a
// replay knows whether the database already has them. The reader trusts
// nothing: a line whose checksum or any field is not exactly as the writer
// writes it is set aside (damagedLines) and never replayed. Lines of the
// earlier formats (no unit; no checksum) are still read, as strictly; one
// without a checksum only before the first line with one.
#include "PassageRecords.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace parking {

class WriteJournal {
public:
    using Kind = records::WriteKind;
    struct Entry {
        qint64 seq = 0;
        Kind kind = Kind::Entrance;
        std::int32_t subscriber = 0;
        std::uint8_t installation = 0;
        QDateTime when;
        QByteArray unit = {}; // empty: written before units existed
    };

    // `onChange` hears how many writes wait, whenever that changes.
    // A passage's writes: its movement row and its free-space change.
    static constexpr int UnitSize = 2;
    struct Write {
        Kind kind = Kind::Entrance;
        std::int32_t subscriber = 0;
        std::uint8_t installation = 0;
        QDateTime when;
    };

    explicit WriteJournal(QString path, std::function<void(std::size_t pending)> onChange = {});

    // Appends and forces to disk; false when the file cannot be written.
    // One write of its own (no unit): a passage's two go in by appendUnit.
    bool append(Kind kind, std::int32_t subscriber, std::uint8_t installation, const QDateTime& when);
    // Appends a passage's writes as one unit, forced to disk together; false
    // (and nothing of them left in the file) when they cannot be written.
    bool appendUnit(const std::vector<Write>& writes, const QByteArray& unit);
    // Marks the oldest pending entry written; false when that cannot be saved.
    bool markOldestDone();

    bool empty() const { return pending_.empty(); }
    const std::deque<Entry>& pending() const { return pending_; }
    const QString& path() const { return path_; }

    static QString describe(const Entry& e);
    // Reads the file again (start-up): what waits, what is damaged.
    void load();
    // The lines that could not be read, as they were, once.
    std::vector<QByteArray> takeDamagedLines() { return std::exchange(damaged_, {}); }
    // One line of the file: an entry, or the sequence number marked done;
    // nullopt when it is not a whole line as written.
    static std::optional<std::variant<Entry, qint64>> parseLine(const QByteArray& raw);

private:
    bool writeLine(const QByteArray& line);
    static QByteArray entryLine(const Entry& e);
    // Whether the line has the shape of one that ends in a checksum.
    static bool checksummed(const QByteArray& raw);
    void changed();

    QString path_;
    std::deque<Entry> pending_;
    std::vector<QByteArray> damaged_;
    qint64 nextSeq_ = 1;
    std::function<void(std::size_t)> onChange_;
};

} // namespace parking

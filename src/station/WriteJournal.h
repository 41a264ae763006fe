#pragma once
// Movement and counter writes that could not reach the database, kept in a
// local file until they can. Each change is appended as one line and
// forced to disk before the barrier opens, so it survives a crash or a
// power cut; a replayed write is marked done the same way. A line cut short
// by a power cut is ignored.
//
// File lines: "W|seq|kind|subscriber|installation|YYYY-MM-DD hh:mm:ss" for a
// pending write, "D|seq" once it reached the database.
#include <QDateTime>
#include <QFile>
#include <QString>

#include <cstdint>
#include <deque>

namespace parking {

class WriteJournal {
public:
    enum class Kind { Entrance, Exit, TakeSpace, GiveSpace };
    struct Entry {
        qint64 seq = 0;
        Kind kind = Kind::Entrance;
        std::int32_t subscriber = 0;
        std::uint8_t installation = 0;
        QDateTime when;
    };

    explicit WriteJournal(QString path);

    // Appends and forces to disk; false when the file cannot be written.
    bool append(Kind kind, std::int32_t subscriber, std::uint8_t installation, const QDateTime& when);
    // Marks the oldest pending entry written; false when that cannot be saved.
    bool markOldestDone();

    bool empty() const { return pending_.empty(); }
    const std::deque<Entry>& pending() const { return pending_; }
    const QString& path() const { return path_; }

    static QString describe(const Entry& e);

private:
    bool writeLine(const QByteArray& line);
    void load();

    QString path_;
    std::deque<Entry> pending_;
    qint64 nextSeq_ = 1;
};

} // namespace parking

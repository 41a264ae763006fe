// The journal reader, on a journal cut, scribbled over or grown anywhere:
// it may lose what was damaged, but never yields an entry that was not
// written whole, nor one already marked done.
#include "FuzzSupport.h"
#include "WriteJournal.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <unistd.h>

using namespace parking;
using namespace parking::fuzz;

namespace {

using Kind = WriteJournal::Kind;

struct Written {
    QByteArray file;
    std::vector<WriteJournal::Entry> entries; // every entry written
    qint64 doneUpTo = 0;                      // entries 1..doneUpTo are marked done
};

// A journal as the program writes it: five writes, the first two done.
const Written& written(const QString& path)
{
    static const Written w = [&] {
        QFile::remove(path);
        WriteJournal journal(path);
        const QDateTime when = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
        const Kind kinds[] = {Kind::Entrance, Kind::TakeSpace, Kind::Exit, Kind::GiveSpace, Kind::Entrance};
        Written out;
        // The first as an older version wrote it (no unit), then two units.
        journal.append(kinds[0], 100, 1, when);
        journal.appendUnit({{kinds[1], 101, 1, when.addSecs(1)}, {kinds[2], 102, 1, when.addSecs(2)}},
                           "00000000000000a1");
        journal.appendUnit({{kinds[3], 103, 1, when.addSecs(3)}, {kinds[4], 104, 1, when.addSecs(4)}},
                           "00000000000000a2");
        out.entries.assign(journal.pending().begin(), journal.pending().end());
        journal.markOldestDone();
        journal.markOldestDone();
        out.doneUpTo = 2;
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        out.file = f.readAll();
        return out;
    }();
    return w;
}

bool same(const WriteJournal::Entry& a, const WriteJournal::Entry& b)
{
    return a.seq == b.seq && a.kind == b.kind && a.subscriber == b.subscriber && a.installation == b.installation &&
           a.when == b.when && a.unit == b.unit;
}

// Whether `e` comes from a line without a checksum before any line with one.
bool olderProgramsLine(const QByteArray& file, const WriteJournal::Entry& e)
{
    for (const QByteArray& line : file.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.count('|') != 5)
            return false; // a line with a checksum (or damage) comes first
        const auto parsed = WriteJournal::parseLine(line);
        if (parsed && std::holds_alternative<WriteJournal::Entry>(*parsed) &&
            same(std::get<WriteJournal::Entry>(*parsed), e))
            return true;
    }
    return false;
}

// Whether the line that reads as `e` overlaps the bytes [from, to) of `file`.
bool reachesInto(const QByteArray& file, const WriteJournal::Entry& e, qsizetype from, qsizetype to)
{
    qsizetype start = 0;
    while (start <= file.size()) {
        qsizetype end = file.indexOf('\n', start);
        if (end < 0)
            end = file.size();
        const auto parsed = WriteJournal::parseLine(file.mid(start, end - start));
        if (parsed && std::holds_alternative<WriteJournal::Entry>(*parsed) &&
            same(std::get<WriteJournal::Entry>(*parsed), e) && start < to && end >= from)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = bytes(data, size);
    // Any bytes as one line, and as lines.
    for (const QByteArray& line : input.split('\n'))
        WriteJournal::parseLine(line);

    static const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("fuzz-journal-%1").arg(::getpid()));
    const Written& w = written(path);
    if (size < 3)
        return 0;
    // Byte 0: what happens; bytes 1-2: where; the rest: what is written there.
    QByteArray file = w.file;
    const qsizetype at = ((data[1] << 8) | data[2]) % (file.size() + 1);
    const QByteArray scribble = input.mid(3);
    switch (data[0] % 3) {
    case 0:
        file.truncate(at);
        file += scribble;
        break;
    case 1:
        file.replace(at, scribble.size(), scribble);
        break;
    default:
        file.insert(at, scribble);
        break;
    }
    QFile out(path);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(file);
    out.close();
    WriteJournal journal(path);
    for (const WriteJournal::Entry& e : journal.pending()) {
        const bool wasWritten =
            std::any_of(w.entries.begin(), w.entries.end(), [&](const WriteJournal::Entry& x) { return same(x, e); });
        // A scribble may forge nothing a checksum guards; what it holds
        // may repeat a line the program wrote, and the lines of an older
        // program (no checksum) are believed at the file's start.
        // A line that reaches into the scribble may carry a checksum the
        // scribble supplied (the fuzzer learns the value the reader compares
        // with): the checksum guards against damage, not forgery.
        if (!wasWritten && !scribble.contains(QByteArray(QByteArray("W|") + QByteArray::number(e.seq) + '|')) &&
            !reachesInto(file, e, at, at + scribble.size()))
            require(olderProgramsLine(file, e), "every entry replayed was written whole");
        // Its done mark still whole in the file: it must not come back.
        if (e.seq <= w.doneUpTo) {
            const QList<QByteArray> lines = file.split('\n');
            for (const QByteArray& original : w.file.split('\n')) {
                if (original.startsWith(QByteArray("D|" + QByteArray::number(e.seq) + '|')))
                    require(!lines.contains(original), "an entry whose done mark is intact is not replayed");
            }
        }
    }
    return 0;
}

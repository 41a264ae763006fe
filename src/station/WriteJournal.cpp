#include "WriteJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSet>

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

} // namespace

WriteJournal::WriteJournal(QString path) : path_(std::move(path))
{
    load();
}

void WriteJournal::load()
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QList<Entry> written;
    QSet<qint64> done;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& raw : lines) {
        const QList<QByteArray> f = raw.split('|');
        bool ok = false;
        if (f.size() == 2 && f[0] == "D") {
            const qint64 seq = f[1].toLongLong(&ok);
            if (ok)
                done.insert(seq);
        } else if (f.size() == 6 && f[0] == "W") {
            Entry e;
            e.seq = f[1].toLongLong(&ok);
            bool okKind = false, okSub = false, okInst = false;
            const int kind = f[2].toInt(&okKind);
            e.subscriber = f[3].toInt(&okSub);
            const int inst = f[4].toInt(&okInst);
            e.when = QDateTime::fromString(QString::fromLatin1(f[5]), TimeFormat);
            if (ok && okKind && okSub && okInst && kind >= 0 && kind <= 3 && inst >= 0 && inst <= 255 && e.when.isValid()) {
                e.kind = static_cast<Kind>(kind);
                e.installation = static_cast<std::uint8_t>(inst);
                written.append(e);
            }
        }
        // Anything else is a line cut short: ignored.
    }
    for (const Entry& e : written) {
        nextSeq_ = std::max(nextSeq_, e.seq + 1);
        if (!done.contains(e.seq))
            pending_.push_back(e);
    }
}

bool WriteJournal::writeLine(const QByteArray& line)
{
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    // A line cut short earlier must not swallow this one.
    const bool ok = file.write("\n" + line + "\n") == line.size() + 2 && file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    return ok;
}

bool WriteJournal::append(Kind kind, std::int32_t subscriber, std::uint8_t installation, const QDateTime& when)
{
    Entry e{nextSeq_, kind, subscriber, installation, when};
    const QByteArray line = "W|" + QByteArray::number(e.seq) + "|" + QByteArray::number(static_cast<int>(kind)) + "|" +
                            QByteArray::number(subscriber) + "|" + QByteArray::number(installation) + "|" +
                            when.toString(TimeFormat).toLatin1();
    if (!writeLine(line))
        return false;
    ++nextSeq_;
    pending_.push_back(e);
    return true;
}

bool WriteJournal::markOldestDone()
{
    if (pending_.empty())
        return true;
    if (!writeLine("D|" + QByteArray::number(pending_.front().seq)))
        return false;
    pending_.pop_front();
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

#include "LogFile.h"

#include <QDir>

namespace parking {

LogFile::LogFile(QString folder) : folder_(std::move(folder)) {}

void LogFile::setFolder(QString folder)
{
    file_.close();
    folder_ = std::move(folder);
    day_ = QDate(); // the next line opens the day's file there
}

QString LogFile::pathFor(const QDate& day) const
{
    return QDir(folder_).filePath(QStringLiteral("parking-%1.log").arg(day.toString(Qt::ISODate)));
}

void LogFile::openFor(const QDate& day)
{
    file_.close();
    day_ = day;
    QDir().mkpath(folder_);
    file_.setFileName(pathFor(day));
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append))
        deleteOldFiles(day);
}

void LogFile::deleteOldFiles(const QDate& today)
{
    const QDate oldest = today.addDays(-(RetentionDays - 1));
    const QStringList files = QDir(folder_).entryList({QStringLiteral("parking-*.log")}, QDir::Files);
    for (const QString& name : files) {
        const QDate day = QDate::fromString(name.mid(8, 10), Qt::ISODate);
        if (day.isValid() && day < oldest)
            QFile::remove(QDir(folder_).filePath(name));
    }
}

bool LogFile::append(const QDateTime& when, const QString& line)
{
    if (folder_.isEmpty())
        return true;
    if (when.date() != day_ || !file_.isOpen())
        openFor(when.date());
    if (!file_.isOpen())
        return false;
    const QByteArray bytes =
        (when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + line + QLatin1Char('\n')).toUtf8();
    if (file_.write(bytes) == bytes.size() && file_.flush())
        return true;
    // Reopened at the next line: the folder may be back by then.
    file_.close();
    return false;
}

} // namespace parking

#pragma once
// The facility's record of the event log: every line, with date and time,
// appended to one file a day ("parking-YYYY-MM-DD.log") in the log folder.
// Files older than the retention are deleted when a new day's file opens.
// A line that cannot be written is not an error for the station: the log
// file must never stop a barrier.
#include <QDate>
#include <QFile>
#include <QString>

namespace parking {

class LogFile {
public:
    static constexpr int RetentionDays = 90;

    explicit LogFile(QString folder);
    // False when the line could not be written (it is not kept).
    bool append(const QDateTime& when, const QString& line);
    QString pathFor(const QDate& day) const;
    const QString& folder() const { return folder_; }
    // Lines go to `folder` from the next one on (a reload).
    void setFolder(QString folder);

private:
    void openFor(const QDate& day);
    void deleteOldFiles(const QDate& today);

    QString folder_;
    QDate day_;
    QFile file_;
};

} // namespace parking

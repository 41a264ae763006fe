#include "QtPrinters.h"
#include "LogFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;

namespace {

QString read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(LogFile, OneFileADayWithDateAndTime)
{
    QTemporaryDir dir;
    LogFile log(dir.filePath(QStringLiteral("log")));
    log.append(QDateTime(QDate(2026, 3, 4), QTime(23, 59, 59)), QStringLiteral("ID = 1234"));
    log.append(QDateTime(QDate(2026, 3, 5), QTime(0, 0, 0)), QStringLiteral("CloseRelay: 0"));
    EXPECT_EQ(read(log.pathFor(QDate(2026, 3, 4))), QStringLiteral("2026-03-04 23:59:59 ID = 1234\n"));
    EXPECT_EQ(read(log.pathFor(QDate(2026, 3, 5))), QStringLiteral("2026-03-05 00:00:00 CloseRelay: 0\n"));
}

TEST(LogFile, KeepsNinetyDays)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("log"));
    LogFile log(folder);
    const QDate today(2026, 6, 30);
    log.append(today.addDays(-89).startOfDay(), QStringLiteral("kept"));
    log.append(today.addDays(-90).startOfDay(), QStringLiteral("old"));
    QFile other(QDir(folder).filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    log.append(today.startOfDay(), QStringLiteral("today"));
    EXPECT_TRUE(QFile::exists(log.pathFor(today.addDays(-89))));
    EXPECT_FALSE(QFile::exists(log.pathFor(today.addDays(-90))));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("notes.txt"))));
}

TEST(LogFile, UnwritableFolderIsNotAnError)
{
    LogFile log(QStringLiteral("/proc/no-such-folder/log"));
    EXPECT_NO_THROW(log.append(QDateTime::currentDateTime(), QStringLiteral("x")));
}

} // namespace

#include "QtPrinters.h"
#include "WriteJournal.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;

namespace {

const QDateTime T(QDate(2026, 3, 4), QTime(10, 0, 5));

TEST(WriteJournal, PendingWritesSurviveARestart)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j/parking.journal"));
    {
        WriteJournal j(path);
        ASSERT_TRUE(j.append(WriteJournal::Kind::Exit, 1234, 7, T));
        ASSERT_TRUE(j.append(WriteJournal::Kind::GiveSpace, 0, 0, T.addSecs(1)));
        ASSERT_TRUE(j.append(WriteJournal::Kind::Entrance, 55, 3, T.addSecs(2)));
        ASSERT_TRUE(j.markOldestDone());
    }
    WriteJournal again(path);
    ASSERT_EQ(again.pending().size(), 2u);
    EXPECT_EQ(again.pending()[0].kind, WriteJournal::Kind::GiveSpace);
    EXPECT_EQ(again.pending()[1].kind, WriteJournal::Kind::Entrance);
    EXPECT_EQ(again.pending()[1].subscriber, 55);
    EXPECT_EQ(again.pending()[1].installation, 3);
    EXPECT_EQ(again.pending()[1].when, T.addSecs(2));
    // New entries follow the old ones.
    ASSERT_TRUE(again.append(WriteJournal::Kind::TakeSpace, 0, 0, T));
    EXPECT_GT(again.pending().back().seq, again.pending()[1].seq);
}

TEST(WriteJournal, ALineCutShortByAPowerCutIsIgnored)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("parking.journal"));
    {
        WriteJournal j(path);
        ASSERT_TRUE(j.append(WriteJournal::Kind::Exit, 1234, 7, T));
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("W|2|1|99|7|2026-03-");
    f.close();
    WriteJournal j(path);
    ASSERT_EQ(j.pending().size(), 1u);
    ASSERT_TRUE(j.append(WriteJournal::Kind::Exit, 5, 7, T));
    EXPECT_EQ(WriteJournal(path).pending().size(), 2u);
}

TEST(WriteJournal, EmptiesWhenEverythingIsWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("parking.journal"));
    WriteJournal j(path);
    ASSERT_TRUE(j.append(WriteJournal::Kind::Exit, 1, 1, T));
    ASSERT_TRUE(j.markOldestDone());
    EXPECT_TRUE(j.empty());
    EXPECT_EQ(QFile(path).size(), 0);
    EXPECT_TRUE(WriteJournal(path).empty());
}

TEST(WriteJournal, UnwritablePlaceIsReported)
{
    WriteJournal j(QStringLiteral("/proc/no-such/parking.journal"));
    EXPECT_FALSE(j.append(WriteJournal::Kind::Exit, 1, 1, T));
    EXPECT_TRUE(j.empty());
}

} // namespace

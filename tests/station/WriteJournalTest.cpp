#include "QtPrinters.h"
#include "Clock.h"
#include "WriteJournal.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;

namespace {

const QDateTime T = wallTime(QDate(2026, 3, 4), QTime(10, 0, 5));

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

namespace {

struct JournalLine {
    const char* name;
    QByteArray raw;
    bool accepted;
};

class JournalLines : public ::testing::TestWithParam<JournalLine> {};

TEST_P(JournalLines, AreReadOnlyWhenWrittenWhole)
{
    const auto parsed = WriteJournal::parseLine(GetParam().raw);
    EXPECT_EQ(parsed.has_value(), GetParam().accepted) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Lines, JournalLines, ::testing::Values(
    JournalLine{"OldFormatWhole", QByteArray("W|2|2|1|7|2024-05-01 11:00:01"), true},
    JournalLine{"OldFormatDone", QByteArray("D|2"), true},
    JournalLine{"NulInTheSubscriber", QByteArray("W|2|2|1\0|7|2024-05-01 11:00:01", 31), false},
    JournalLine{"PaddedSubscriber", QByteArray("W|2|2|023|47|2024-05-01 11:00:01"), false},
    JournalLine{"PlusSign", QByteArray("W|2|2|+23|47|2024-05-01 11:00:01"), false},
    JournalLine{"Blank", QByteArray("W|2|2| 23|47|2024-05-01 11:00:01"), false},
    JournalLine{"NegativeSequence", QByteArray("D|-2"), false},
    JournalLine{"KindOutOfRange", QByteArray("W|2|4|23|47|2024-05-01 11:00:01"), false},
    JournalLine{"InstallationOutOfRange", QByteArray("W|2|2|23|256|2024-05-01 11:00:01"), false},
    JournalLine{"DateWithoutSeconds", QByteArray("W|2|2|23|47|2024-05-01 11:00"), false},
    JournalLine{"DateWithT", QByteArray("W|2|2|23|47|2024-05-01T11:00:01"), false},
    JournalLine{"ImpossibleDate", QByteArray("W|2|2|23|47|2024-02-30 11:00:01"), false},
    JournalLine{"ZeroFilled", QByteArray(20, '\0'), false},
    JournalLine{"Torn", QByteArray("W|2|2|23|4"), false},
    JournalLine{"UnitWithoutChecksum", QByteArray("W|2|2|23|47|2024-05-01 11:00:01|00ff00ff00ff00ff"), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteJournal, APassagesUnitIsKeptAndALineWithoutChecksumAfterOneWithIsDamage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("parking.journal"));
    {
        // What an older program left, then what this one wrote.
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("W|1|1|9|7|2024-05-01 11:00:01\n");
    }
    {
        WriteJournal j(path);
        ASSERT_EQ(j.pending().size(), 1u);
        ASSERT_TRUE(j.appendUnit({{WriteJournal::Kind::Entrance, 55, 3, T}, {WriteJournal::Kind::TakeSpace, 0, 0, T}},
                                 "0123456789abcdef"));
    }
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        // A torn line completed by chance: it has the old shape.
        f.write("\nW|4|1|9|7|2024-05-01 11:00:01\n");
    }
    WriteJournal j(path);
    ASSERT_EQ(j.pending().size(), 3u);
    EXPECT_TRUE(j.pending()[0].unit.isEmpty()) << "the older program's line is still read";
    EXPECT_EQ(j.pending()[1].unit, QByteArray("0123456789abcdef"));
    EXPECT_EQ(j.pending()[2].unit, QByteArray("0123456789abcdef"));
    EXPECT_EQ(j.pending()[2].kind, WriteJournal::Kind::TakeSpace);
    EXPECT_EQ(j.takeDamagedLines(), std::vector<QByteArray>{QByteArray("W|4|1|9|7|2024-05-01 11:00:01")});
}

TEST(WriteJournal, EveryLineCarriesAChecksumAndAnyDamagedByteSetsItAside)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("parking.journal"));
    {
        WriteJournal j(path);
        ASSERT_TRUE(j.append(WriteJournal::Kind::Exit, 1234, 7, T));
        ASSERT_TRUE(j.append(WriteJournal::Kind::Entrance, 55, 3, T));
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    f.close();
    const QList<QByteArray> lines = whole.split('\n');
    QByteArray first;
    for (const QByteArray& l : lines) {
        if (!l.isEmpty()) {
            first = l;
            break;
        }
    }
    ASSERT_EQ(first.count('|'), 6) << first.toStdString(); // W and five fields, then the checksum
    ASSERT_TRUE(WriteJournal::parseLine(first));
    // Any single byte changed anywhere makes the line unreadable.
    for (qsizetype i = 0; i < first.size(); ++i) {
        QByteArray damaged = first;
        damaged[i] = damaged[i] == '1' ? '2' : '1';
        EXPECT_FALSE(WriteJournal::parseLine(damaged)) << i;
    }
    // In the file: the damaged line is reported and the other replayed.
    QByteArray scribbled = whole;
    scribbled.replace("1234", "1235");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(scribbled);
    f.close();
    WriteJournal again(path);
    ASSERT_EQ(again.pending().size(), 1u);
    EXPECT_EQ(again.pending()[0].subscriber, 55);
    const auto damaged = again.takeDamagedLines();
    ASSERT_EQ(damaged.size(), 1u);
    EXPECT_TRUE(damaged[0].contains("1235"));
    EXPECT_TRUE(again.takeDamagedLines().empty()); // reported once
}

} // namespace

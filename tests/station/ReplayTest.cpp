// Exactly once, the count included: a journalled passage replayed with the
// program killed at every point of the replay (before, between and after
// each statement, before and after each of the journal's marks) and started
// again: its movement row and its free-space change are in the database
// once, whatever the point. Runs on the embedded database and, with the
// "pg." prefix, on PostgreSQL.
#include "StationFixture.h"

#include <QFile>

using namespace parking;
using namespace parking::test;

namespace {

class ExactlyOnce : public StationFixture, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        seedInstallation(true, QStringLiteral("2"), true, QStringLiteral("PISCINA CUBIERTA"), 10, 20);
        // Subscriber 8 is inside since this morning; subscriber 7 is outside.
        db.exec(QStringLiteral("INSERT INTO Movimientos_Parking VALUES (3, 8, 7, '2026-03-04 08:00:00', NULL)"));
    }
    bool entrance() const { return GetParam() == 1; }
    int subscriber() const { return entrance() ? 7 : 8; }

    // The passage, written to the journal only: the database refuses it.
    void journalThePassage()
    {
        ASSERT_EQ(start(), StationController::StartUp::InService);
        faults->failEverything = true;
        MovementRecorder& r = controller->database().recorder();
        EXPECT_FALSE((entrance() ? r.recordEntrance(subscriber(), 7) : r.recordExit(subscriber(), 7)).left);
        faults->failEverything = false;
        ASSERT_EQ(controller->database().recorder().pending(), true);
    }

    // Started again on the journal as the kill left it: it drains at start.
    void restartAndCheck(const std::string& point)
    {
        faults->failSql = {};
        restartController();
        ASSERT_EQ(start(), StationController::StartUp::InService) << point;
        EXPECT_FALSE(controller->database().recorder().pending()) << point;
        const int free = db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt();
        EXPECT_EQ(free, entrance() ? 9 : 11) << point;
        if (entrance()) {
            EXPECT_EQ(db.scalar(QStringLiteral("SELECT COUNT(*) FROM Movimientos_Parking WHERE Codigo = 7")).toInt(), 1)
                << point;
        } else {
            EXPECT_EQ(db.scalar(QStringLiteral("SELECT COUNT(*) FROM Movimientos_Parking WHERE Codigo = 8 AND "
                                               "HORASALIDA IS NOT NULL")).toInt(), 1)
                << point;
        }
        EXPECT_EQ(db.scalar(QStringLiteral("SELECT COUNT(*) FROM DIARIO_APLICADO")).toInt(), 1) << point;
    }

    void resetDatabase()
    {
        db.exec(QStringLiteral("DELETE FROM DIARIO_APLICADO"));
        db.exec(QStringLiteral("DELETE FROM Movimientos_Parking WHERE Codigo = 7"));
        db.exec(QStringLiteral("UPDATE Movimientos_Parking SET HORASALIDA = NULL WHERE Codigo = 8"));
        db.exec(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 10"));
        QFile::remove(journalPath());
        faults->failSql = {};
        restartController();
    }
};

TEST_P(ExactlyOnce, AKillAtAnyStatementOfTheReplay)
{
    // The replay's statements, one kill point after each, until a replay
    // gets through with no kill left to make.
    for (int survive = 0;; ++survive) {
        resetDatabase();
        journalThePassage();
        int statements = 0;
        bool killed = false;
        faults->failSql = [&](const QString&) {
            killed = killed || ++statements > survive;
            return statements > survive;
        };
        controller->database().recorder().drain();
        const bool cut = killed;
        restartAndCheck("killed after statement " + std::to_string(survive));
        if (!cut)
            break;
        ASSERT_LT(survive, 40) << "the replay never got through";
    }
}

TEST_P(ExactlyOnce, AKillBeforeOrBetweenTheJournalsMarks)
{
    // The database has the unit; the journal does not know it yet (no
    // mark), or knows half of it (one of two marks).
    for (int marksKept : {0, 1}) {
        resetDatabase();
        journalThePassage();
        QFile file(journalPath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray beforeMarks = file.readAll();
        file.close();
        ASSERT_TRUE(controller->database().recorder().drain());
        controller.reset();
        // The journal as the kill left it: no mark, or the first one
        // written as the journal writes it.
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(beforeMarks);
        file.close();
        if (marksKept == 1) {
            WriteJournal reread(journalPath());
            ASSERT_EQ(reread.pending().size(), 2u);
            ASSERT_TRUE(reread.markOldestDone());
        }
        restartAndCheck("killed with " + std::to_string(marksKept) + " of the marks written");
    }
}

INSTANTIATE_TEST_SUITE_P(Passages, ExactlyOnce, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 1 ? "Entrance" : "Exit"; });

} // namespace

namespace {

// A database set up before DIARIO_APLICADO existed: replays as before, and
// the log says once what that means.
class WithoutUnitsTable : public StationFixture {};

TEST_F(WithoutUnitsTable, ReplaysAsBeforeAndSaysSoOnce)
{
    seedInstallation();
    db.exec(QStringLiteral("DROP TABLE DIARIO_APLICADO"));
    ASSERT_EQ(start(), StationController::StartUp::InService);
    MovementRecorder& r = controller->database().recorder();
    faults->failEverything = true;
    EXPECT_FALSE(r.recordEntrance(7, 7).left);
    EXPECT_FALSE(r.recordEntrance(9, 7).left);
    faults->failEverything = false;
    EXPECT_TRUE(r.drain());
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(), 8);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT COUNT(*) FROM Movimientos_Parking")).toInt(), 2);
    EXPECT_EQ(traceLines.filter(QStringLiteral("no tiene la tabla DIARIO_APLICADO")).size(), 1)
        << traceLines.join(QLatin1Char('\n')).toStdString();
}

} // namespace

namespace {

class TornJournal : public StationFixture {};

// A power cut in the middle of the journal's last line: the unit before it
// is replayed, the torn line is named in the log and never replayed.
TEST_F(TornJournal, TheWholeUnitsAreReplayedAndTheTornLineNamed)
{
    seedInstallation();
    {
        WriteJournal journal(journalPath());
        const QDateTime t(QDate(2026, 3, 4), QTime(9, 0), Qt::UTC);
        ASSERT_TRUE(journal.appendUnit({{WriteJournal::Kind::Entrance, 7, 7, t}, {WriteJournal::Kind::TakeSpace, 0, 0, t}},
                                       "00000000000000b1"));
        ASSERT_TRUE(journal.appendUnit({{WriteJournal::Kind::Entrance, 9, 7, t}, {WriteJournal::Kind::TakeSpace, 0, 0, t}},
                                       "00000000000000b2"));
    }
    QFile file(journalPath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() - 20)); // the last line loses its end
    file.close();
    restartController();
    ASSERT_EQ(start(), StationController::StartUp::InService);
    EXPECT_FALSE(controller->database().recorder().pending());
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT COUNT(*) FROM Movimientos_Parking WHERE Codigo = 7")).toInt(), 1);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT COUNT(*) FROM Movimientos_Parking WHERE Codigo = 9")).toInt(), 0)
        << "half a unit is not a passage: its barrier never opened";
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(), 9);
    EXPECT_EQ(traceLines.filter(QStringLiteral("DIARIO: línea dañada, no se repite")).size(), 2)
        << traceLines.join(QLatin1Char('\n')).toStdString();
}

} // namespace

// Calls on the database within their deadlines: a call the server does not
// answer in time fails at its deadline, the connection is set aside and the
// database counts as not answering (later calls fail at once) until a fresh
// connection answers; an answer that comes late changes nothing and is said
// once; and the database goes, at exit, even while a call never returns.
#include "Database.h"
#include "DatabaseError.h"
#include "DatabaseSession.h"
#include "FixedText.h"
#include "QtPrinters.h"
#include "SqliteConnection.h"
#include "TestSupport.h"
#include "WaitFor.h"

#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

using namespace parking;
using namespace parking::test;

namespace {

const QString Lector = QStringLiteral("SELECT * FROM Lector");

class Deadline : public ::testing::Test {
protected:
    Deadline()
        : database(
              [this](const QString&) -> std::shared_ptr<Connection> {
                  return std::make_shared<FaultyConnection>(faults,
                                                            std::make_shared<SqliteConnection>(db.serverClock(), db.folder()));
              },
              ui)
    {
        database.setRetryPause(std::chrono::milliseconds(0));
    }

    void connect()
    {
        DatabaseSettings settings{fixedText(QStringLiteral("sqlite:test.db"), 100), {}, db.folder()};
        settings.readWait = std::chrono::milliseconds(100);
        settings.writeWait = std::chrono::milliseconds(150);
        ASSERT_TRUE(database.connect(settings));
    }
    // A call of `kind`; its failure's message, or empty.
    QString read(DatabaseCall kind = DatabaseCall::Decision)
    {
        try {
            database.call(kind, [](Connection& c) { c.query(Lector, {}); });
            return {};
        } catch (const DatabaseError& e) {
            return e.message();
        }
    }

    TempDatabase db;
    std::shared_ptr<Faults> faults = std::make_shared<Faults>();
    RecordingDatabaseEvents ui;
    Database database;
};

TEST_F(Deadline, EachKindOfCallWaitsItsOwnDeadline)
{
    connect();
    EXPECT_EQ(database.deadline(DatabaseCall::Decision).count(), 100);
    EXPECT_EQ(database.deadline(DatabaseCall::CardLookUp).count(), 100);
    EXPECT_EQ(database.deadline(DatabaseCall::PassageWrite).count(), 150);
    EXPECT_EQ(database.deadline(DatabaseCall::Replay).count(), 150);
    EXPECT_EQ(database.deadline(DatabaseCall::FreeSpaces).count(), 150);
    EXPECT_EQ(database.deadline(DatabaseCall::Probe), Database::ProbeLimit);
    EXPECT_EQ(database.deadline(DatabaseCall::Reconnection), Database::ReconnectLimit);
}

TEST_F(Deadline, ACallNotAnsweredInTimeSetsTheConnectionAsideUntilAFreshOneAnswers)
{
    connect();
    faults->hold = std::make_shared<StatementHold>(Lector);
    EXPECT_EQ(read(), QStringLiteral("The database did not answer within 100 ms"));
    EXPECT_EQ(ui.states, (QStringList{QStringLiteral("deadline decision"), QStringLiteral("not answering")}));
    EXPECT_FALSE(database.answering());
    EXPECT_EQ(database.setAsideCount(), 1u);

    // Meanwhile every call fails at once, and nothing reaches a connection.
    const auto sent = faults->executed.size();
    EXPECT_EQ(read(DatabaseCall::PassageWrite), Database::NotAnswering);
    EXPECT_EQ(faults->executed.size(), sent);

    // The answer comes late: it changes nothing and is said once.
    faults->hold->release();
    WAIT_FOR(ui.notes.size() == 1, 10000);
    EXPECT_EQ(ui.notes.front(), QStringLiteral("late decision"));
    EXPECT_FALSE(database.answering());
    WAIT_FOR(database.setAsideCount() == 0, 10000);

    // The probe opens a fresh connection; once it answers, so do calls.
    const int opens = faults->opens;
    bool restored = false;
    ASSERT_TRUE(database.startProbe([&] { restored = true; }));
    WAIT_FOR(restored, 10000);
    EXPECT_EQ(faults->opens, opens + 1);
    EXPECT_TRUE(database.answering());
    EXPECT_EQ(ui.states.back(), QStringLiteral("answering"));
    EXPECT_EQ(read(), QString());
    EXPECT_EQ(ui.notes.size(), 1);
}

TEST_F(Deadline, AFailedCallIsAFailureNotAnOutage)
{
    connect();
    faults->failSql = [](const QString& sql) { return sql == Lector; };
    EXPECT_EQ(read(), QStringLiteral("ORA-01013: user requested cancel of current operation"));
    EXPECT_TRUE(database.answering());
    EXPECT_TRUE(ui.states.isEmpty()) << ui.states.join(QLatin1Char(',')).toStdString();
}

TEST_F(Deadline, AProbeNotAnsweredInTimeLooksForAFreshConnection)
{
    connect();
    faults->hold = std::make_shared<StatementHold>(Database::ProbeStatement);
    database.setProbeLimit(std::chrono::milliseconds(100));
    bool restored = false;
    ASSERT_TRUE(database.startProbe([&] { restored = true; }));
    // The probe's own limit passes; a fresh connection answers at once.
    WAIT_FOR(restored, 20000);
    EXPECT_TRUE(ui.states.contains(QStringLiteral("deadline probe")));
    EXPECT_TRUE(database.answering());
    EXPECT_EQ(read(), QString());
    EXPECT_EQ(database.setAsideCount(), 1u) << "the probed connection waits for its statement";
    faults->hold->release();
    WAIT_FOR(ui.notes.size() == 1, 10000);
}

TEST_F(Deadline, GoingAwayEndsACallThatWouldNeverReturn)
{
    auto database = std::make_unique<Database>(
        [this](const QString&) -> std::shared_ptr<Connection> {
            return std::make_shared<FaultyConnection>(faults, std::make_shared<SqliteConnection>(db.serverClock(), db.folder()));
        },
        ui);
    DatabaseSettings settings{fixedText(QStringLiteral("sqlite:test.db"), 100), {}, db.folder()};
    settings.readWait = std::chrono::milliseconds(100);
    ASSERT_TRUE(database->connect(settings));
    faults->hold = std::make_shared<StatementHold>(Lector);
    EXPECT_THROW(database->call(DatabaseCall::Decision, [](Connection& c) { c.query(Lector, {}); }), DatabaseError);
    ASSERT_TRUE(faults->hold->holding());
    // Never released: the destructor aborts the call and joins its thread.
    database.reset();
    EXPECT_EQ(faults->aborts, 1);
    EXPECT_FALSE(faults->hold->holding());
}

TEST_F(Deadline, WhatACallReturnsAndThrowsReachesItsCaller)
{
    connect();
    EXPECT_EQ(database.call(DatabaseCall::StartUp, [](Connection& c) { return c.query(Lector, {})->size(); }), 0u);
    EXPECT_THROW(database.call(DatabaseCall::StartUp, [](Connection& c) { c.query(QStringLiteral("SELECT nothing"), {}); }),
                 DatabaseError);
    EXPECT_TRUE(database.answering());
}

// A connection whose close can hang like one whose server is gone: it
// returns once aborted from another thread.
class ClosingConnection final : public Connection {
public:
    explicit ClosingConnection(bool hangs) : hangs_(hangs) {}
    void open(const QString&, const ConnectionOptions&) override {}
    bool isOpen() const override { return true; }
    void execute(const QString&) override {}
    std::unique_ptr<Recordset> query(const QString&, const Parameters&) override { throw DatabaseError(QStringLiteral("unused")); }
    void run(const QString&, const Parameters&) override {}
    void begin() override {}
    void commit() override {}
    void rollback() override {}
    void abort() override
    {
        std::lock_guard lock(mutex_);
        aborted = true;
        wake_.notify_all();
    }
    void close() override
    {
        std::unique_lock lock(mutex_);
        if (hangs_)
            wake_.wait(lock, [this] { return aborted; });
        closed = true;
    }
    bool aborted = false;
    bool closed = false;

private:
    const bool hangs_;
    std::mutex mutex_;
    std::condition_variable wake_;
};

TEST(DatabaseSessionClose, AClosingConnectionThatHangsIsCutSoItsOwnerGoesOn)
{
    for (const bool hangs : {false, true}) {
        SCOPED_TRACE(hangs ? "a close that hangs" : "a close that returns");
        auto connection = std::make_shared<ClosingConnection>(hangs);
        {
            DatabaseSession session(connection, {});
            session.post(DatabaseCall::Decision, [](Connection&) {});
        } // the owner (often the user-interface thread) lets it go: this returns
        EXPECT_TRUE(connection->closed);
        EXPECT_EQ(connection->aborted, hangs) << "only a close that hangs is cut";
    }
}

TEST(EmbeddedAbort, InterruptsAStatementThatRunsOnAnotherThread)
{
    TempDatabase db(QDateTime(QDate(2026, 3, 4), QTime(10, 0)), Backend::Embedded);
    auto c = db.openAnother();
    std::atomic<bool> failed = false;
    std::atomic<bool> ended = false;
    std::thread worker([&] {
        try {
            // Counts for ever unless interrupted.
            c->query(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT max(i) FROM n"),
                     {});
        } catch (const DatabaseError&) {
            failed = true;
        }
        ended = true;
    });
    // An abort before the statement starts does nothing: again until it ends.
    while (!ended) {
        c->abort();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    EXPECT_TRUE(failed);
}

} // namespace

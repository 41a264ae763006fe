#include "FixedText.h"
#include "QtPrinters.h"
#include "Database.h"
#include "DatabaseError.h"
#include "TestSupport.h"
#include "WaitFor.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <gtest/gtest.h>

using namespace parking;
using namespace parking::test;

namespace {

const QString Probe = QStringLiteral("SELECT USER FROM DUAL");

class DatabaseProbe : public ::testing::Test {
protected:
    DatabaseProbe()
        : database([this](const QString&) -> std::shared_ptr<Connection> {
                       return std::make_shared<FaultyConnection>(faults, std::make_shared<SqliteConnection>(db.serverClock(), db.folder()));
                   },
                   ui)
    {
        database.setRetryPause(std::chrono::milliseconds(0));
    }

    // [Conexion] as the configuration gives it: the data source as its
    // 100-character field.
    DatabaseSettings settings(const QString& sid) { return {fixedText(sid, 100), {}, db.folder()}; }

    // One probe carried to its end; the test's loop handles the events.
    void probe()
    {
        bool restored = false;
        ASSERT_TRUE(database.startProbe([&] { restored = true; }));
        WAIT_FOR(restored, 60000);
        EXPECT_FALSE(database.probing());
    }

    void connect()
    {
        ASSERT_TRUE(database.connect(settings(QStringLiteral("sqlite:test.db"))));
        faults->executed.clear();
        faults->opens = 0;
    }

    TempDatabase db;
    std::shared_ptr<Faults> faults = std::make_shared<Faults>();
    RecordingDatabaseEvents ui;
    Database database;
};

TEST_F(DatabaseProbe, StartUpOpensAndSendsNothingOfItsOwn)
{
    ASSERT_TRUE(database.connect(settings(QStringLiteral(" sqlite:test.db "))));
    EXPECT_TRUE(database.call(DatabaseCall::StartUp, [](Connection& c) { return c.isOpen(); }));
    EXPECT_TRUE(faults->executed.isEmpty()) << faults->executed.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(ui.events.isEmpty());
    EXPECT_EQ(database.connectionString().size(), 200);
    EXPECT_TRUE(database.connectionString().trimmed().endsWith(QStringLiteral("Data Source=sqlite:test.db")));
}

TEST_F(DatabaseProbe, BlankServiceNameEndsWithTheSidMessage)
{
    EXPECT_FALSE(database.connect(settings(QStringLiteral("    "))));
    EXPECT_EQ(ui.events, QStringList{QStringLiteral("no data source")});
    EXPECT_EQ(faults->opens, 0);
}

TEST_F(DatabaseProbe, UnreachableDatabaseEndsWithTheConnectionMessage)
{
    faults->openFailures = 1;
    EXPECT_FALSE(database.connect(settings(QStringLiteral("sqlite:test.db"))));
    EXPECT_EQ(ui.events, QStringList{QStringLiteral("no database")});
    ASSERT_EQ(ui.failures.size(), 1);
    EXPECT_FALSE(ui.failures.front().contains(QStringLiteral("r7Tq2xLm")));
}

TEST_F(DatabaseProbe, HealthyProbeSendsOneStatementAndShowsNothing)
{
    connect();
    probe();
    EXPECT_EQ(faults->executed, QStringList{Probe});
    EXPECT_EQ(faults->opens, 0);
    EXPECT_TRUE(ui.events.isEmpty());
}

struct Outage {
    const char* name;
    int probeFailures;
    int openFailures;
    int expectedOpens;
    bool windowShown;
};

class ProbeSequence : public DatabaseProbe, public ::testing::WithParamInterface<Outage> {};

TEST_P(ProbeSequence, ReconnectsUntilTheDatabaseAnswers)
{
    const Outage& o = GetParam();
    connect();
    faults->probeFailures = o.probeFailures;
    faults->openFailures = o.openFailures;
    probe();
    EXPECT_EQ(faults->opens, o.expectedOpens);
    // Not answering from the failed probe; reconnecting (the operator's
    // progress window) once a reconnection failed too; answering once a
    // connection opens.
    QStringList states;
    if (o.probeFailures > 0)
        states << QStringLiteral("not answering");
    if (o.windowShown)
        states << QStringLiteral("reconnecting");
    if (o.probeFailures > 0)
        states << QStringLiteral("answering");
    EXPECT_EQ(ui.states, states);
    EXPECT_TRUE(ui.events.isEmpty());
    EXPECT_TRUE(database.answering());
    EXPECT_TRUE(database.call(DatabaseCall::StartUp, [](Connection& c) { return c.isOpen(); }));
    // A connection that opens answers: the probe is not sent to it, nor to
    // one that failed to open.
    EXPECT_EQ(faults->executed.count(Probe), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeSequence, ::testing::Values(
    Outage{"Healthy", 0, 0, 0, false},
    Outage{"FirstReconnectionWorks", 1, 0, 1, false},
    Outage{"OneFailedReconnection", 1, 1, 2, true},
    Outage{"FiveFailedReconnections", 1, 5, 6, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DatabaseProbe, TickDuringAProbeIsIgnored)
{
    connect();
    faults->probeFailures = 1;
    faults->openFailures = 3;
    int restored = 0;
    ASSERT_TRUE(database.startProbe([&] { ++restored; }));
    int ticks = 0;
    while (database.probing()) {
        // Timer ticks while the probe runs start nothing of their own.
        if (ticks++ < 3) {
            EXPECT_FALSE(database.startProbe([&] { restored += 10; }));
        }
        QTest::qWait(10);
    }
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(ui.states, (QStringList{QStringLiteral("not answering"), QStringLiteral("reconnecting"),
                                      QStringLiteral("answering")}));
    EXPECT_EQ(faults->opens, 4);
}

TEST_F(DatabaseProbe, ALongOutageIsReportedOnceNotOnceASecond)
{
    connect();
    faults->probeFailures = 1;
    faults->openFailures = 30;
    probe();
    EXPECT_EQ(ui.failures, (QStringList{
        QStringLiteral("Probe failed: ORA-03113: end-of-file on communication channel"),
        QStringLiteral("Reconnection failed: ORA-12541: TNS:no listener"),
        QStringLiteral("Connection restored after 31 reconnection attempts")})) << ui.failures.join(QLatin1Char('\n')).toStdString();
}

TEST_F(DatabaseProbe, SecondOutageShowsTheWindowAgain)
{
    connect();
    faults->probeFailures = 1;
    faults->openFailures = 1;
    probe();
    faults->probeFailures = 1;
    faults->openFailures = 2;
    probe();
    EXPECT_EQ(ui.states.count(QStringLiteral("reconnecting")), 2);
    EXPECT_EQ(ui.states.count(QStringLiteral("answering")), 2);
}

TEST_F(DatabaseProbe, DuringAReconnectionOtherWorkFailsAtOnce)
{
    connect();
    faults->probeFailures = 1;
    faults->openFailures = 2;
    int failedQueries = 0;
    // What a station's handler does between the probe's steps.
    ASSERT_TRUE(database.startProbe());
    while (database.probing()) {
        try {
            database.call(DatabaseCall::Decision, [](Connection& c) { c.query(QStringLiteral("SELECT * FROM Lector"), {}); });
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.message(), Database::NotAnswering);
            ++failedQueries;
        }
        QTest::qWait(1);
    }
    EXPECT_GT(failedQueries, 0);
    EXPECT_NO_THROW(database.call(DatabaseCall::Decision,
                                  [](Connection& c) { c.query(QStringLiteral("SELECT * FROM Lector"), {}); }));
}

// A server that answers a statement only once the test lets it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    void set(bool value)
    {
        std::lock_guard lock(mutex);
        open = value;
        changed.notify_all();
    }
    void pass()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return open; });
    }
};

class GatedConnection final : public Connection {
public:
    explicit GatedConnection(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    void open(const QString&, const ConnectionOptions&) override { open_ = true; }
    bool isOpen() const override { return open_; }
    void execute(const QString&) override { gate_->pass(); }
    std::unique_ptr<Recordset> query(const QString&, const Parameters&) override { return nullptr; }
    void run(const QString&, const Parameters&) override {}
    void begin() override {}
    void commit() override {}
    void rollback() override {}

private:
    std::shared_ptr<Gate> gate_;
    std::atomic<bool> open_{false};
};

TEST(DatabaseWait, TheProbeReturnsAtOnceAndEventsRunWhileTheServerTakesItsTime)
{
    auto gate = std::make_shared<Gate>();
    RecordingDatabaseEvents ui;
    Database database([gate](const QString&) -> std::shared_ptr<Connection> { return std::make_shared<GatedConnection>(gate); },
                      ui);
    QTemporaryDir dir;
    ASSERT_TRUE(database.connect({fixedText(QStringLiteral("slow"), 100), {}, dir.path()}));

    // An event queued before the probe starts: a probe that ran an event
    // loop of its own (or waited in the call) would handle it, or block on
    // the closed gate, inside startProbe().
    gate->set(false);
    int handled = 0;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ++handled; }, Qt::QueuedConnection);
    bool restored = false;
    ASSERT_TRUE(database.startProbe([&] { restored = true; }));
    EXPECT_EQ(handled, 0) << "an event handled inside the probe's call";
    EXPECT_TRUE(database.probing());

    // The caller's loop goes on while the server takes its time.
    WAIT_FOR(handled == 1, 10000);
    EXPECT_FALSE(restored);
    gate->set(true);
    WAIT_FOR(restored, 10000);
    EXPECT_TRUE(ui.events.isEmpty()) << ui.events.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(ui.failures.isEmpty());
}

} // namespace

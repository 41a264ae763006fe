#pragma once
// Helpers shared by the test programs: temporary embedded databases, a
// connection that records what it is asked, and one that fails on demand.
#include "QtPrinters.h"

#include "Clock.h"
#include "Connection.h"
#include "DatabaseEvents.h"
#include "SqliteConnection.h"

#include <QStringList>

#include <condition_variable>
#include <mutex>

#include <functional>
#include <QTemporaryDir>

#include <memory>
#include <ostream>
#include <vector>

namespace parking::test {

enum class Backend { Embedded, PostgreSQL };

// The backend the behavioural suites run on: the embedded database, or the
// PostgreSQL test server when PARKING_TEST_BACKEND=postgresql (with
// ODBCINI naming its data source "parking_test").
Backend testBackend();

// A fresh database with the whole schema and no rows, on a manual server
// clock: an embedded file in a temporary folder, or the PostgreSQL test
// server's database emptied.
class TempDatabase {
public:
    explicit TempDatabase(const QDateTime& serverNow = QDateTime(QDate(2026, 3, 4), QTime(10, 0)),
                          Backend backend = testBackend());
    Backend backend() const { return backend_; }
    const QString& path() const { return path_; }
    QString folder() const { return dir_.path(); }
    // The SID of a configuration file that names this database.
    QString sid() const;
    QString connectionString() const;
    ManualClock& serverClock() { return serverClock_; }
    // The open connection; tests also use it to put rows in place.
    std::shared_ptr<Connection> connection() const { return connection_; }
    void exec(const QString& sql) const { connection_->execute(sql); }
    // The first column of the first row of `sql`, or a null QVariant.
    QVariant scalar(const QString& sql) const;
    // A new, closed connection object of this backend (what a factory makes).
    std::shared_ptr<Connection> makeConnection() const;
    // A new connection to the same database, open.
    std::shared_ptr<Connection> openAnother() const;
    // Replaces the test's own connection (after the server went away).
    void reopen() { connection_ = openAnother(); }

private:
    Backend backend_;
    QTemporaryDir dir_;
    QString path_;
    ManualClock serverClock_;
    std::shared_ptr<Connection> connection_;
};

struct RecordedCall {
    QString sql;
    int lock; // 0 for a command, 1 for a read
    friend bool operator==(const RecordedCall&, const RecordedCall&) = default;
};

// A statement with its "?" placeholders written as the values (texts
// quoted): what a query would have been had the values been pasted in.
QString withValues(const QString& sql, const Parameters& params);

// Passes every call to another connection and keeps a list of them.
class RecordingConnection final : public Connection {
public:
    explicit RecordingConnection(std::shared_ptr<Connection> inner) : inner_(std::move(inner)) {}
    void open(const QString& cs, const ConnectionOptions& o) override { inner_->open(cs, o); }
    bool isOpen() const override { return inner_->isOpen(); }
    Dialect dialect() const override { return inner_->dialect(); }
    void execute(const QString& sql) override;
    std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) override;
    void run(const QString& sql, const Parameters& params) override;
    void begin() override { inner_->begin(); }
    void commit() override { inner_->commit(); }
    void rollback() override { inner_->rollback(); }
    void abort() override { inner_->abort(); }
    std::vector<RecordedCall> calls;
    QStringList statements() const;

private:
    std::shared_ptr<Connection> inner_;
};

// A server that does not answer one statement until the test lets it: the
// first statement whose text (values written in) contains `pattern` waits
// in the connection, on the connection's own thread, until release() (then
// it runs, late) or the connection's abort() (then it fails).
class StatementHold {
public:
    explicit StatementHold(QString pattern) : pattern_(std::move(pattern)) {}
    // The connection's side: waits here if `sql` is the statement to hold.
    void pass(const QString& sql);
    void release();
    void abort();
    // Whether the statement has come and is waiting now.
    bool holding() const;

private:
    const QString pattern_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = true;
    bool held_ = false;
    bool released_ = false;
    bool aborted_ = false;
};

// The faults to inject, shared by every connection a FaultyFactory makes.
struct Faults {
    int probeFailures = 0; // the next N executions of the probe fail
    int openFailures = 0;  // the next N opens fail
    QStringList executed;  // every statement executed, in order
    int opens = 0;
    bool failEverything = false; // the database is gone: everything fails
    // Statements that fail while this says so (the rest go through).
    std::function<bool(const QString& sql)> failSql;
    // Called after a row set has been opened (to change rows under it).
    std::function<void(const QString& sql)> afterOpen;
    // Statements (and "COMMIT") the database carries out but whose answer
    // is lost on the way back (the connection drops after the server's
    // reply left it).
    std::function<bool(const QString& sql)> loseAnswer;
    // One statement the server does not answer until released.
    std::shared_ptr<StatementHold> hold;
    int aborts = 0; // abort() calls on any connection
};

class FaultyConnection final : public Connection {
public:
    FaultyConnection(std::shared_ptr<Faults> faults, std::shared_ptr<Connection> inner)
        : faults_(std::move(faults)), inner_(std::move(inner)) {}
    void open(const QString& cs, const ConnectionOptions& o) override;
    bool isOpen() const override { return open_ && inner_->isOpen(); }
    Dialect dialect() const override { return inner_->dialect(); }
    void execute(const QString& sql) override;
    std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) override;
    void run(const QString& sql, const Parameters& params) override;
    void begin() override;
    void commit() override;
    void rollback() override { inner_->rollback(); }
    void abort() override;

private:
    // Records the statement and throws the fault it meets, if any; the
    // statement as recorded.
    QString admit(const QString& sql, const Parameters& params);

    std::shared_ptr<Faults> faults_;
    std::shared_ptr<Connection> inner_;
    bool open_ = false;
};

// Records what the connection says happened.
class RecordingDatabaseEvents final : public DatabaseEvents {
public:
    void startUpFailed(StartUpFailure why) override
    {
        events << (why == StartUpFailure::NoDataSource ? QStringLiteral("no data source") : QStringLiteral("no database"));
    }
    void failed(const QString& what) override { failures << what; }
    void stateChanged(DatabaseState state) override
    {
        const char* names[] = {"answering", "not answering", "reconnecting"};
        states << QLatin1String(names[static_cast<int>(state)]);
    }
    void deadlineExceeded(DatabaseCall call) override { states << QStringLiteral("deadline ") + callLabel(call); }
    void lateAnswer(DatabaseCall call, std::chrono::milliseconds, const QString& error) override
    {
        notes << QStringLiteral("late ") + callLabel(call) + (error.isEmpty() ? QString() : QStringLiteral(": ") + error);
    }
    QStringList events; // start-up's failures
    QStringList failures;
    QStringList notes;  // answers that came late
    QStringList states; // deadlines passed, and the database's state as it changed
};

// Writes `text` to `path`.
void writeFile(const QString& path, const QString& text);

} // namespace parking::test

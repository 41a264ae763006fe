#pragma once
// The embedded database: an SQLite file named by the connection string's
// Data Source "sqlite:PATH". Runs the program's Oracle-dialect statements
// unchanged from the caller's point of view: SYSDATE reads the server clock
// given here, TRUNC and TO_CHAR work on ISO 8601 date texts, DUAL and USER
// answer the probe.
//
// Thread-safe: the probe may run on another thread while the user-interface
// thread uses the same connection.
#include "Connection.h"

#include <QString>

#include <map>
#include <memory>
#include <mutex>

struct sqlite3;
struct sqlite3_stmt;

namespace parking {

class Clock;

class SqliteConnection final : public Connection {
public:
    // Relative paths are taken from `baseFolder`; SYSDATE reads `serverClock`,
    // which must outlive the connection.
    SqliteConnection(const Clock& serverClock, QString baseFolder);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    void open(const QString& connectionString, const ConnectionOptions& options) override;
    bool isOpen() const override;
    Dialect dialect() const override { return Dialect::Embedded; }
    void execute(const QString& sql) override;
    std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) override;
    void run(const QString& sql, const Parameters& params) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    // Interrupts the statement that runs (sqlite3_interrupt); a wait for
    // another program's lock still ends at the busy timeout.
    void abort() override;

    // Creates an empty database file with the whole schema; fails if the
    // file exists already.
    static void createDatabase(const QString& path, const Clock& serverClock);

    // The file the Data Source names, resolved against `baseFolder`.
    static QString databasePath(const QString& dataSource, const QString& baseFolder);

public:
    // The open handle and its prepared statements.
    struct Handle {
        std::mutex mutex;
        sqlite3* db = nullptr;
        // Prepared statements of query(), by their text; finalised before
        // the handle closes.
        std::map<QString, sqlite3_stmt*> prepared;
        sqlite3* get() const; // the open handle; fails when closed
        void close();         // finalises the statements, closes the handle
        // The handle abort() may interrupt, under its own lock: `mutex` is
        // held by the call that abort() has to end.
        std::mutex interruptMutex;
        sqlite3* interruptible = nullptr;
        ~Handle() { close(); }
    };

private:

    void registerFunctions(sqlite3* db);
    // The prepared statement of `sql` with `params` bound; the handle's
    // mutex must be held.
    sqlite3_stmt* cached(const QString& sql, const Parameters& params);

    const Clock& serverClock_;
    QString baseFolder_;
    std::shared_ptr<Handle> handle_ = std::make_shared<Handle>();
};

// The schema of the embedded database, as shipped with the program.
QString embeddedSchemaSql();
// The demo installation's rows; dates relative to SYSDATE.
QString demoDataSql();

} // namespace parking

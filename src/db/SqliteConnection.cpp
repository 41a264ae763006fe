#include "SqliteConnection.h"

#include "Clock.h"
#include "ConnectionString.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "MemoryRecordset.h"
#include "OracleDialect.h"
#include "SqliteFunctions.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace parking {

namespace {

const QString SqlitePrefix = QStringLiteral("sqlite:");

// Finalises a statement when it goes out of scope.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

[[noreturn]] void fail(sqlite3* db, const QString& what)
{
    throw DatabaseError(what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db)));
}

// Runs every statement of `sql` to completion.
void runAll(sqlite3* db, const QString& sql)
{
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = utf8.constData();
    const char* end = tail + utf8.size();
    while (tail < end) {
        Statement s;
        const char* next = nullptr;
        if (sqlite3_prepare_v2(db, tail, static_cast<int>(end - tail), &s.stmt, &next) != SQLITE_OK)
            fail(db, QStringLiteral("SQL error"));
        tail = next;
        if (!s.stmt)
            continue; // only blanks or comments were left
        int rc;
        while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE)
            fail(db, QStringLiteral("SQL error"));
    }
}

// USER: the connection string's account, a value of a function rather
// than text pasted into the view's statement.
void registerAccount(sqlite3* db, const QString& user)
{
    auto* name = new QByteArray(user.toUtf8());
    const int rc = sqlite3_create_function_v2(
        db, "PARKING_ACCOUNT", 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC, name,
        [](sqlite3_context* context, int, sqlite3_value**) {
            const auto* account = static_cast<const QByteArray*>(sqlite3_user_data(context));
            sqlite3_result_text(context, account->constData(), static_cast<int>(account->size()), SQLITE_TRANSIENT);
        },
        nullptr, nullptr, [](void* p) { delete static_cast<QByteArray*>(p); });
    if (rc != SQLITE_OK)
        fail(db, QStringLiteral("SQL error"));
}

} // namespace

SqliteConnection::SqliteConnection(const Clock& serverClock, QString baseFolder)
    : serverClock_(serverClock), baseFolder_(std::move(baseFolder))
{
}

SqliteConnection::~SqliteConnection()
{
    std::lock_guard lock(handle_->mutex);
    handle_->close();
}

void SqliteConnection::Handle::close()
{
    {
        std::lock_guard lock(interruptMutex);
        interruptible = nullptr;
    }
    for (auto& [sql, stmt] : prepared)
        sqlite3_finalize(stmt);
    prepared.clear();
    sqlite3_close_v2(db);
    db = nullptr;
}

QString SqliteConnection::databasePath(const QString& dataSource, const QString& baseFolder)
{
    const QString path = dataSource.mid(SqlitePrefix.size());
    if (QFileInfo(path).isAbsolute() || baseFolder.isEmpty())
        return path;
    return QDir(baseFolder).filePath(path);
}

void SqliteConnection::registerFunctions(sqlite3* db)
{
    registerOracleFunctions(db, serverClock_);
}

void SqliteConnection::open(const QString& connectionString, const ConnectionOptions& options)
{
    const QString source = describeDataSource(connectionString);
    if (!source.startsWith(SqlitePrefix, Qt::CaseInsensitive)) {
        throw DatabaseError(QStringLiteral("Data Source \"%1\" is not an embedded database (sqlite:PATH)").arg(source));
    }
    const QString path = databasePath(source, baseFolder_);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   (options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                                       SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const QString why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close_v2(db);
        throw DatabaseError(QStringLiteral("Cannot open the embedded database %1: %2").arg(path, why));
    }
    try {
        // A wait of a quarter of a second for a lock held by another program
        // (an SQLite client open on the same file), never more: the station
        // must not freeze.
        sqlite3_busy_timeout(db, std::min(250, options.timeoutSeconds * 1000));
        runAll(db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
        // Write-ahead logging: one flush to disk per written row instead of
        // several, and readers never wait for the writer. Every commit is
        // still on disk before the call returns (synchronous FULL).
        if (!options.readOnly)
            runAll(db, QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL"));
        // A decision reads a few index pages of several tables; 32 MB keeps
        // the hot ones in the connection's own cache rather than asking the
        // kernel for them again at every read (2 MB by default).
        runAll(db, QStringLiteral("PRAGMA cache_size=-32768"));
        registerFunctions(db);
        registerAccount(db, connectionAttribute(connectionString, QStringLiteral("User ID")));
        // DUAL reads the database file, so that the probe notices a file
        // that has become unreadable or stays locked by another program.
        runAll(db, QStringLiteral("CREATE TEMP VIEW DUAL AS SELECT 'X' AS DUMMY, PARKING_ACCOUNT() AS USER "
                                  "FROM (SELECT count(*) FROM main.sqlite_master)"));
    } catch (const DatabaseError& e) {
        sqlite3_close_v2(db);
        throw DatabaseError(QStringLiteral("Cannot open the embedded database %1: %2").arg(path, e.message()));
    }
    std::lock_guard lock(handle_->mutex);
    handle_->close();
    handle_->db = db;
    std::lock_guard interruptLock(handle_->interruptMutex);
    handle_->interruptible = db;
}

void SqliteConnection::abort()
{
    std::lock_guard lock(handle_->interruptMutex);
    if (handle_->interruptible)
        sqlite3_interrupt(handle_->interruptible);
}

bool SqliteConnection::isOpen() const
{
    std::lock_guard lock(handle_->mutex);
    return handle_->db != nullptr;
}

sqlite3* SqliteConnection::Handle::get() const
{
    if (!db)
        throw DatabaseError(DatabaseFault::Closed);
    return db;
}

void SqliteConnection::execute(const QString& sql)
{
    std::lock_guard lock(handle_->mutex);
    runAll(handle_->get(), embeddedDayArithmetic(callBareSysdate(sql)));
}

namespace {

// Resets a cached statement for its next use, whatever happens meanwhile.
struct ResetAfterUse {
    sqlite3_stmt* s;
    ~ResetAfterUse()
    {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

} // namespace

sqlite3_stmt* SqliteConnection::cached(const QString& sql, const Parameters& params)
{
    sqlite3* db = handle_->get();
    sqlite3_stmt*& stmt = handle_->prepared[sql];
    if (!stmt) {
        const QByteArray utf8 = embeddedDayArithmetic(callBareSysdate(sql)).toUtf8();
        if (sqlite3_prepare_v3(db, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                               nullptr) != SQLITE_OK) {
            handle_->prepared.erase(sql);
            fail(db, QStringLiteral("SQL error"));
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i)
        bindValue(stmt, static_cast<int>(i) + 1, params[i]);
    return stmt;
}

std::unique_ptr<Recordset> SqliteConnection::query(const QString& sql, const Parameters& params)
{
    std::lock_guard lock(handle_->mutex);
    sqlite3_stmt* stmt = cached(sql, params);
    const ResetAfterUse reset{stmt};
    const int count = sqlite3_column_count(stmt);
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QString::fromUtf8(sqlite3_column_name(stmt, i));
    std::vector<MemoryRecordset::Row> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        MemoryRecordset::Row row;
        row.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            row.push_back(columnValue(stmt, i));
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        fail(handle_->db, QStringLiteral("SQL error"));
    return std::make_unique<MemoryRecordset>(names, std::move(rows));
}

void SqliteConnection::run(const QString& sql, const Parameters& params)
{
    std::lock_guard lock(handle_->mutex);
    sqlite3_stmt* stmt = cached(sql, params);
    const ResetAfterUse reset{stmt};
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail(handle_->db, QStringLiteral("SQL error"));
}

void SqliteConnection::begin()
{
    // The write lock from the start: the count read back inside is ours.
    run(QStringLiteral("BEGIN IMMEDIATE"), {});
}

void SqliteConnection::commit()
{
    run(QStringLiteral("COMMIT"), {});
}

void SqliteConnection::rollback()
{
    std::lock_guard lock(handle_->mutex);
    if (handle_->db && !sqlite3_get_autocommit(handle_->db))
        sqlite3_exec(handle_->db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteConnection::createDatabase(const QString& path, const Clock& serverClock)
{
    if (QFileInfo::exists(path))
        throw DatabaseError(QStringLiteral("%1 exists already").arg(path));
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const QString why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close_v2(db);
        throw DatabaseError(QStringLiteral("Cannot create %1: %2").arg(path, why));
    }
    sqlite3_close_v2(db);
    SqliteConnection connection(serverClock, {});
    connection.open(QStringLiteral("Data Source=sqlite:") + path, {});
    connection.execute(embeddedSchemaSql());
}

} // namespace parking

#include "SqliteConnection.h"

#include "Clock.h"
#include "ConnectionString.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "MemoryRecordset.h"
#include "OracleDialect.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace parking {

namespace {

const QString SqlitePrefix = QStringLiteral("sqlite:");

QString textOf(sqlite3_value* v)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                             sqlite3_value_bytes(v));
}

void resultText(sqlite3_context* ctx, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

// The stored form "YYYY-MM-DD hh:mm:ss" (or its first ten characters),
// read without going through QDateTime: TRUNC and TO_CHAR run once per row
// of the entry history and must stay cheap.
struct Stamp {
    int year, month, day, hour, minute, second;
};

bool digitsAt(const unsigned char* s, int from, int count)
{
    for (int i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
    }
    return true;
}

int number(const unsigned char* s, int from, int count)
{
    int v = 0;
    for (int i = from; i < from + count; ++i)
        v = v * 10 + (s[i] - '0');
    return v;
}

bool quickStamp(sqlite3_value* v, Stamp* out)
{
    const auto* s = sqlite3_value_text(v);
    const int n = sqlite3_value_bytes(v);
    if (!s || (n != 19 && n != 10) || !digitsAt(s, 0, 4) || s[4] != '-' || !digitsAt(s, 5, 2) || s[7] != '-' ||
        !digitsAt(s, 8, 2))
        return false;
    *out = {number(s, 0, 4), number(s, 5, 2), number(s, 8, 2), 0, 0, 0};
    if (n == 19) {
        if (s[10] != ' ' || !digitsAt(s, 11, 2) || s[13] != ':' || !digitsAt(s, 14, 2) || s[16] != ':' || !digitsAt(s, 17, 2))
            return false;
        out->hour = number(s, 11, 2);
        out->minute = number(s, 14, 2);
        out->second = number(s, 17, 2);
    }
    return out->month >= 1 && out->month <= 12 && out->day >= 1 && out->day <= 31 && out->hour < 24 &&
           out->minute < 60 && out->second < 60;
}

void sysdateFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    const auto* clock = static_cast<const Clock*>(sqlite3_user_data(ctx));
    resultText(ctx, dateText(clock->now()));
}

void truncFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    sqlite3_value* v = argv[0];
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        sqlite3_result_null(ctx);
        return;
    case SQLITE_INTEGER:
        sqlite3_result_int64(ctx, sqlite3_value_int64(v));
        return;
    case SQLITE_FLOAT:
        if (argc == 1) {
            sqlite3_result_double(ctx, std::trunc(sqlite3_value_double(v)));
            return;
        }
        break;
    default:
        break;
    }
    Stamp quick;
    if (quickStamp(v, &quick)) {
        char text[20];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d 00:00:00", quick.year, quick.month, quick.day);
        sqlite3_result_text(ctx, text, 19, SQLITE_TRANSIENT);
        return;
    }
    const QDateTime t = parseDateText(textOf(v));
    if (!t.isValid()) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, dateText(t.date().startOfDay()));
}

void toCharFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    sqlite3_value* v = argv[0];
    if (sqlite3_value_type(v) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    if (argc == 1 || sqlite3_value_type(v) == SQLITE_INTEGER || sqlite3_value_type(v) == SQLITE_FLOAT) {
        resultText(ctx, textOf(v));
        return;
    }
    Stamp quick;
    if (quickStamp(v, &quick)) {
        const auto* format = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
        char text[16];
        if (format && std::strcmp(format, "DD/MM/YYYY") == 0) {
            std::snprintf(text, sizeof text, "%02d/%02d/%04d", quick.day, quick.month, quick.year);
            sqlite3_result_text(ctx, text, 10, SQLITE_TRANSIENT);
            return;
        }
        if (format && std::strcmp(format, "MMYYYY") == 0) {
            std::snprintf(text, sizeof text, "%02d%04d", quick.month, quick.year);
            sqlite3_result_text(ctx, text, 6, SQLITE_TRANSIENT);
            return;
        }
    }
    const QDateTime t = parseDateText(textOf(v));
    if (!t.isValid()) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, oracleToChar(t, textOf(argv[1])));
}

// TO_DATE(text, 'YYYY-MM-DD HH24:MI:SS'): the date-time the text names, as stored.
void toDateFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const QDateTime t = parseDateText(textOf(argv[0]));
    if (!t.isValid()) {
        sqlite3_result_error(ctx, "TO_DATE: not a date", -1);
        return;
    }
    resultText(ctx, dateText(t));
}

QVariant columnValue(sqlite3_stmt* stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                          sqlite3_column_bytes(stmt, i)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, i)),
                                   sqlite3_column_bytes(stmt, i)));
    default:
        return {};
    }
}

void bindValue(sqlite3_stmt* stmt, int index, const QVariant& v)
{
    if (v.isNull()) {
        sqlite3_bind_null(stmt, index);
        return;
    }
    if (isWholeNumber(v)) {
        sqlite3_bind_int64(stmt, index, v.toLongLong());
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(stmt, index, v.toDouble());
        return;
    case QMetaType::QDateTime:
        bindValue(stmt, index, dateText(v.toDateTime()));
        return;
    default: {
        const QByteArray utf8 = v.toString().toUtf8();
        sqlite3_bind_text(stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    }
}

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

QString quotedName(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

SqliteConnection::SqliteConnection(const Clock& serverClock, QString baseFolder)
    : serverClock_(serverClock), baseFolder_(std::move(baseFolder))
{
}

SqliteConnection::~SqliteConnection()
{
    std::lock_guard lock(handle_->mutex);
    sqlite3_close_v2(handle_->db);
    handle_->db = nullptr;
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
    const int flags = SQLITE_UTF8;
    auto* clock = const_cast<Clock*>(&serverClock_);
    sqlite3_create_function_v2(db, "SYSDATE", 0, flags, clock, sysdateFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TRUNC", 1, flags | SQLITE_DETERMINISTIC, nullptr, truncFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TRUNC", 2, flags | SQLITE_DETERMINISTIC, nullptr, truncFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TO_DATE", 2, flags | SQLITE_DETERMINISTIC, nullptr, toDateFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TO_CHAR", 1, flags | SQLITE_DETERMINISTIC, nullptr, toCharFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TO_CHAR", 2, flags | SQLITE_DETERMINISTIC, nullptr, toCharFunction, nullptr, nullptr, nullptr);
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
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
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
        runAll(db, QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL"));
        registerFunctions(db);
        QString user = connectionAttribute(connectionString, QStringLiteral("User ID"));
        user.replace(QLatin1Char('\''), QStringLiteral("''"));
        // DUAL reads the database file, so that the probe notices a file
        // that has become unreadable or stays locked by another program.
        runAll(db, QStringLiteral("CREATE TEMP VIEW DUAL AS SELECT 'X' AS DUMMY, '%1' AS USER "
                                  "FROM (SELECT count(*) FROM main.sqlite_master)").arg(user));
    } catch (const DatabaseError& e) {
        sqlite3_close_v2(db);
        throw DatabaseError(QStringLiteral("Cannot open the embedded database %1: %2").arg(path, e.message()));
    }
    std::lock_guard lock(handle_->mutex);
    sqlite3_close_v2(handle_->db);
    handle_->db = db;
}

bool SqliteConnection::isOpen() const
{
    std::lock_guard lock(handle_->mutex);
    return handle_->db != nullptr;
}

sqlite3* SqliteConnection::Handle::get() const
{
    if (!db)
        throw DatabaseError(QStringLiteral("Operation is not allowed when the object is closed"));
    return db;
}

void SqliteConnection::execute(const QString& sql)
{
    std::lock_guard lock(handle_->mutex);
    runAll(handle_->get(), callBareSysdate(sql));
}

std::unique_ptr<Recordset> SqliteConnection::openRecordset(const QString& sql, LockType lockType)
{
    std::lock_guard lock(handle_->mutex);
    sqlite3* db = handle_->get();
    const QString translated = callBareSysdate(sql);

    Statement s;
    bool withRowid = false;
    if (lockType == LockType::Optimistic) {
        // Fetch the rowid too, to find the row again on update. A statement
        // over more than one table, or a view, has no single rowid: it
        // opens read-only.
        const QString trimmed = translated.trimmed();
        if (trimmed.startsWith(QLatin1String("SELECT "), Qt::CaseInsensitive)) {
            const QByteArray withKey =
                (QStringLiteral("SELECT rowid AS \"__rowid__\", ") + trimmed.mid(7)).toUtf8();
            withRowid = sqlite3_prepare_v2(db, withKey.constData(), static_cast<int>(withKey.size()),
                                           &s.stmt, nullptr) == SQLITE_OK;
            if (!withRowid) {
                sqlite3_finalize(s.stmt);
                s.stmt = nullptr;
            }
        }
    }
    if (!withRowid) {
        const QByteArray utf8 = translated.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &s.stmt, nullptr) != SQLITE_OK)
            fail(db, QStringLiteral("SQL error"));
    }
    if (!s.stmt)
        throw DatabaseError(QStringLiteral("SQL error: empty statement"));

    const int first = withRowid ? 1 : 0;
    const int count = sqlite3_column_count(s.stmt);
    QStringList names;
    QStringList tables;
    QStringList origins;
    for (int i = first; i < count; ++i) {
        names << QString::fromUtf8(sqlite3_column_name(s.stmt, i));
        const char* table = sqlite3_column_table_name(s.stmt, i);
        const char* origin = sqlite3_column_origin_name(s.stmt, i);
        tables << (table ? QString::fromUtf8(table) : QString());
        origins << (origin ? QString::fromUtf8(origin) : QString());
    }
    std::vector<MemoryRecordset::Row> rows;
    std::vector<MemoryRecordset::Row> hidden;
    int rc;
    while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
        MemoryRecordset::Row row;
        row.reserve(static_cast<std::size_t>(count - first));
        for (int i = first; i < count; ++i)
            row.push_back(columnValue(s.stmt, i));
        rows.push_back(std::move(row));
        if (withRowid)
            hidden.push_back({columnValue(s.stmt, 0)});
    }
    if (rc != SQLITE_DONE)
        fail(db, QStringLiteral("SQL error"));
    if (!withRowid)
        return std::make_unique<MemoryRecordset>(names, std::move(rows));

    auto writer = [handle = handle_, tables, origins](const MemoryRecordset::Row& key,
                                         const std::vector<MemoryRecordset::Change>& changes) {
        const QString table = tables.value(changes.front().column);
        QStringList sets;
        QStringList guards;
        for (const auto& c : changes) {
            if (tables.value(c.column).isEmpty() || tables.value(c.column) != table)
                throw DatabaseError(QStringLiteral("The row set cannot be updated: column is not of one table"));
            const QString column = quotedName(origins.value(c.column));
            sets << column + QStringLiteral(" = ?");
            guards << column + QStringLiteral(" IS ?");
        }
        const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ? AND %3")
                                .arg(quotedName(table), sets.join(QStringLiteral(", ")),
                                     guards.join(QStringLiteral(" AND ")));
        std::lock_guard lock(handle->mutex);
        sqlite3* db = handle->get();
        Statement u;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &u.stmt, nullptr) != SQLITE_OK)
            fail(db, QStringLiteral("SQL error"));
        int index = 1;
        for (const auto& c : changes)
            bindValue(u.stmt, index++, c.value);
        bindValue(u.stmt, index++, key.front());
        for (const auto& c : changes)
            bindValue(u.stmt, index++, c.original);
        if (sqlite3_step(u.stmt) != SQLITE_DONE)
            fail(db, QStringLiteral("Update failed"));
        if (sqlite3_changes(db) != 1) {
            throw UpdateConflict(QStringLiteral(
                "Row cannot be located for updating. Some values may have been changed since it was last read."));
        }
    };
    return std::make_unique<MemoryRecordset>(names, std::move(rows), std::move(hidden), writer);
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

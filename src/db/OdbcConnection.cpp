#include "OdbcConnection.h"

#include "Clock.h"
#include "ConnectionString.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "MemoryRecordset.h"
#include "OdbcSupport.h"
#include "OracleDialect.h"

#include <QDateTime>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace parking {

using namespace odbc;

struct OdbcConnection::Handles {
    std::timed_mutex mutex;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool open = false;
    bool postgres = false;
    QString dbms;
    // Statements of query(), prepared once, by their text.
    std::map<QString, SQLHSTMT> prepared;

    ~Handles() { release(); }
    // Frees every handle, once.
    void release()
    {
        for (auto& [sql, stmt] : prepared)
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        prepared.clear();
        if (dbc != SQL_NULL_HDBC) {
            if (open)
                SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
            dbc = SQL_NULL_HDBC;
        }
        open = false;
        if (env != SQL_NULL_HENV) {
            SQLFreeHandle(SQL_HANDLE_ENV, env);
            env = SQL_NULL_HENV;
        }
    }
};

namespace {

struct Statement {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ~Statement()
    {
        if (stmt != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
};

// Holds the connection for one call. When another thread has it (the probe),
// waits a moment for it, then fails rather than hold the window up.
std::unique_lock<std::timed_mutex> claim(OdbcConnection::Handles& h)
{
    std::unique_lock lock(h.mutex, OdbcConnection::BusyWait);
    if (!lock.owns_lock())
        throw DatabaseError(QStringLiteral("The connection is busy waiting for the server"));
    if (!h.open)
        throw DatabaseError(DatabaseFault::Closed);
    return lock;
}

// Every statement's time limit. PostgreSQL's driver would send the server
// a SET before and after each statement whose limit differs from the last
// one's (its own catalogue queries have none), so there the limit is the
// session's, set once at connection; Oracle's driver keeps it on the
// client, at no cost to the server.
void limitTime(const OdbcConnection::Handles& h, SQLHSTMT stmt)
{
    if (!h.postgres)
        SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(OdbcConnection::QueryTimeoutSeconds)), 0);
}

void prepareStatement(OdbcConnection::Handles& h, Statement& s, const QString& sql)
{
    const QByteArray text = (h.postgres ? callBareSysdate(sql) : sql).toUtf8();
    // Each statement is its own serializable transaction; one the server
    // rolled back for a concurrent client's sake runs again.
    for (int attempt = 1;; ++attempt) {
        if (s.stmt != SQL_NULL_HSTMT) {
            SQLFreeHandle(SQL_HANDLE_STMT, s.stmt);
            s.stmt = SQL_NULL_HSTMT;
        }
        check(SQLAllocHandle(SQL_HANDLE_STMT, h.dbc, &s.stmt), SQL_HANDLE_DBC, h.dbc, QStringLiteral("SQLAllocHandle"));
        limitTime(h, s.stmt);
        const SQLRETURN rc = SQLExecDirect(s.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.constData())),
                                           static_cast<SQLINTEGER>(text.size()));
        if (rc == SQL_NO_DATA)
            return;
        try {
            check(rc, SQL_HANDLE_STMT, s.stmt, QStringLiteral("SQL error"));
            return;
        } catch (const SerializationFailure&) {
            if (attempt >= OdbcConnection::SerializationRetries)
                throw;
        }
    }
}

} // namespace

namespace {

// What SQLDriverConnect gets: the data source, whose account (the
// installation's own, else the data source's own UID= and PWD= in
// odbc.ini, which the driver reads when the string names none, else the
// built-in one), and the driver's logs off.
QByteArray driverConnectionString(const QString& connectionString, const ConnectionOptions& options)
{
    const QString dsn = describeDataSource(connectionString);
    const bool dataSourceAccount = !options.credentials && odbc::dataSourceHasUser(dsn);
    const QString user = options.credentials ? options.credentials->user
                                             : connectionAttribute(connectionString, QStringLiteral("User ID"));
    const QString password = options.credentials ? options.credentials->password
                                                 : connectionAttribute(connectionString, QStringLiteral("Password"));
    // Values are braced only where they need it: drivers look the data
    // source up by its name as written.
    auto braced = [](const QString& v) -> QString {
        if (!v.contains(QLatin1Char(';')) && !v.contains(QLatin1Char('{')) && !v.contains(QLatin1Char('}')))
            return v;
        return QLatin1Char('{') + QString(v).replace(QLatin1Char('}'), QStringLiteral("}}")) + QLatin1Char('}');
    };
    // CommLog and Debug: psqlODBC's own logs, which Debian's driver
    // registration turns on, stay off while the station is connected.
    // (The driver still writes a line to /tmp as its last connection
    // closes; the service's private /tmp takes those away.) Other drivers
    // ignore both keywords.
    const QString account = dataSourceAccount ? QString()
                                               : QStringLiteral(";UID=") + braced(user) + QStringLiteral(";PWD=") +
                                                     braced(password);
    return (QStringLiteral("DSN=") + braced(dsn) + account + QStringLiteral(";CommLog=0;Debug=0;")).toUtf8();
}

} // namespace

OdbcConnection::OdbcConnection() : handles_(std::make_shared<Handles>()) {}

OdbcConnection::~OdbcConnection() = default;

void OdbcConnection::open(const QString& connectionString, const ConnectionOptions& options)
{
    auto h = std::make_shared<Handles>();
    check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h->env), SQL_HANDLE_ENV, h->env, QStringLiteral("ODBC environment"));
    SQLSetEnvAttr(h->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    check(SQLAllocHandle(SQL_HANDLE_DBC, h->env, &h->dbc), SQL_HANDLE_ENV, h->env, QStringLiteral("ODBC connection"));
    SQLSetConnectAttr(h->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(options.timeoutSeconds)), 0);
    SQLSetConnectAttr(h->dbc, SQL_ATTR_CONNECTION_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(options.timeoutSeconds)), 0);

    const QString dsn = describeDataSource(connectionString);
    const QByteArray odbc = driverConnectionString(connectionString, options);
    const std::vector<SocketId> socketsBefore = connectedStreamSockets();
    {
        std::lock_guard lock(socketMutex_);
        socketsBeforeLogin_ = socketsBefore;
        port_ = dataSourcePort(dsn);
    }
    // However the login ends, abort() stops looking for its socket.
    struct LoginEnds {
        OdbcConnection& c;
        ~LoginEnds()
        {
            std::lock_guard lock(c.socketMutex_);
            c.socketsBeforeLogin_.reset();
        }
    } loginEnds{*this};
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnect(h->dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(odbc.constData())),
                                          static_cast<SQLSMALLINT>(odbc.size()), out, sizeof out, &outLength,
                                          SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        // The driver's words only: the password is not in them.
        throw DatabaseError(QStringLiteral("Cannot connect to data source \"%1\": %2")
                                .arg(dsn, diagnostics(SQL_HANDLE_DBC, h->dbc)));
    }
    h->open = true;
    // The server's ordinary isolation: a free-space change is one statement
    // that reads and writes the row at once, so no station waits on
    // another's snapshot or fails for it.
    SQLSetConnectAttr(h->dbc, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_TXN_READ_COMMITTED)), 0);
    SQLCHAR name[128] = {};
    SQLSMALLINT nameLength = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(h->dbc, SQL_DBMS_NAME, name, sizeof name, &nameLength)))
        h->dbms = QString::fromUtf8(reinterpret_cast<char*>(name));
    h->postgres = h->dbms.contains(QLatin1String("PostgreSQL"), Qt::CaseInsensitive);
    if (h->postgres) {
        Statement s;
        prepareStatement(*h, s, QStringLiteral("SET statement_timeout = %1").arg(QueryTimeoutSeconds * 1000));
    }
    const std::optional<SocketId> socket = h->postgres ? newDatabaseSocket(socketsBefore, port_) : std::nullopt;
    {
        std::lock_guard lock(handles_->mutex);
        handles_.swap(h);
    }
    std::lock_guard lock(socketMutex_);
    socket_ = socket;
}

void OdbcConnection::abort()
{
    std::lock_guard lock(socketMutex_);
    // A login that a stopped server never answers has its socket already.
    if (!socket_ && socketsBeforeLogin_)
        socket_ = newDatabaseSocket(*socketsBeforeLogin_, port_);
    if (socket_)
        shutDownSocket(*socket_);
}

void OdbcConnection::close()
{
    const auto h = handles_;
    std::lock_guard lock(h->mutex);
    h->release();
}

bool OdbcConnection::isOpen() const
{
    std::unique_lock lock(handles_->mutex, std::try_to_lock);
    return !lock.owns_lock() || handles_->open; // busy means in use, hence open
}

Dialect OdbcConnection::dialect() const
{
    const auto h = handles_;
    if (h->postgres)
        return Dialect::PostgreSQL;
    return h->dbms.contains(QLatin1String("Oracle"), Qt::CaseInsensitive) ? Dialect::Oracle : Dialect::Other;
}

void OdbcConnection::execute(const QString& sql)
{
    auto h = handles_;
    auto lock = claim(*h);
    Statement s;
    prepareStatement(*h, s, sql);
}

namespace {

SQLHSTMT preparedStatement(OdbcConnection::Handles& h, const QString& sql)
{
    SQLHSTMT& stmt = h.prepared[sql];
    if (stmt != SQL_NULL_HSTMT)
        return stmt;
    const QByteArray text = (h.postgres ? callBareSysdate(sql) : sql).toUtf8();
    check(SQLAllocHandle(SQL_HANDLE_STMT, h.dbc, &stmt), SQL_HANDLE_DBC, h.dbc, QStringLiteral("SQLAllocHandle"));
    limitTime(h, stmt);
    const SQLRETURN rc = SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.constData())),
                                    static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(rc)) {
        const SQLHSTMT failed = stmt;
        h.prepared.erase(sql);
        try {
            check(rc, SQL_HANDLE_STMT, failed, QStringLiteral("SQL error"));
        } catch (...) {
            SQLFreeHandle(SQL_HANDLE_STMT, failed);
            throw;
        }
    }
    return stmt;
}

// Runs the prepared statement of `sql` with `params`, then `afterExecute`
// on it; the statement is left ready for its next use. One that failed is
// prepared afresh next time (the table it names may have changed under it).
void executePrepared(OdbcConnection::Handles& h, const QString& sql, const Parameters& params,
                     const std::function<void(SQLHSTMT)>& afterExecute)
{
    const SQLHSTMT stmt = preparedStatement(h, sql);
    try {
        const std::vector<Bound> values = bindParameters(stmt, params);
        for (int attempt = 1;; ++attempt) {
            const SQLRETURN rc = SQLExecute(stmt);
            if (rc == SQL_NO_DATA) // an UPDATE that found no row
                break;
            try {
                check(rc, SQL_HANDLE_STMT, stmt, QStringLiteral("SQL error"));
                break;
            } catch (const SerializationFailure&) {
                SQLFreeStmt(stmt, SQL_CLOSE);
                if (attempt >= OdbcConnection::SerializationRetries)
                    throw;
            }
        }
        afterExecute(stmt);
        SQLFreeStmt(stmt, SQL_CLOSE);
        SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    } catch (...) {
        h.prepared.erase(sql);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        throw;
    }
}

} // namespace

std::unique_ptr<Recordset> OdbcConnection::query(const QString& sql, const Parameters& params)
{
    auto h = handles_;
    auto lock = claim(*h);
    std::unique_ptr<Recordset> out;
    executePrepared(*h, sql, params, [&out](SQLHSTMT stmt) {
        ResultColumns columns = describeResult(stmt);
        out = std::make_unique<MemoryRecordset>(columns.names, fetchAll(stmt, columns.types));
    });
    return out;
}

void OdbcConnection::run(const QString& sql, const Parameters& params)
{
    auto h = handles_;
    auto lock = claim(*h);
    executePrepared(*h, sql, params, [](SQLHSTMT) {});
}

void OdbcConnection::begin()
{
    auto h = handles_;
    auto lock = claim(*h);
    check(SQLSetConnectAttr(h->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, h->dbc, QStringLiteral("BEGIN"));
}

void OdbcConnection::commit()
{
    auto h = handles_;
    auto lock = claim(*h);
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, h->dbc, SQL_COMMIT);
    SQLSetConnectAttr(h->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    check(rc, SQL_HANDLE_DBC, h->dbc, QStringLiteral("COMMIT"));
}

void OdbcConnection::rollback()
{
    auto h = handles_;
    std::unique_lock lock(h->mutex, BusyWait);
    if (!lock.owns_lock() || !h->open)
        return;
    SQLEndTran(SQL_HANDLE_DBC, h->dbc, SQL_ROLLBACK);
    SQLSetConnectAttr(h->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

} // namespace parking

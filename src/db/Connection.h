#pragma once
// The database connection as the rest of the program uses it: open with a
// connection string, run a text command, run a statement with bound values
// and read its rows, and transactions. Every statement reaches a backend
// exactly as the caller wrote it; a backend may translate it internally to
// its own dialect, nothing above this layer does.
//
// Row sets are client-side: the rows are fetched when the statement runs
// and can be read after the connection is gone.
//
// Every failure is a DatabaseError.
#include "Credentials.h"

#include <optional>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace parking {

struct ConnectionOptions {
    int timeoutSeconds = 15; // login timeout
    // The installation's own account; none: the data source's or the
    // built-in one.
    std::optional<Credentials> credentials = std::nullopt;
    // Read only, and nothing written beside the file (the embedded
    // database: a replica another thread replaces whole).
    bool readOnly = false;
};

class Recordset {
public:
    virtual ~Recordset() = default;
    // The rows, in the order the server gave them.
    virtual std::size_t size() const = 0;
    bool hasRow() const { return size() > 0; }
    // Row `row`'s value of the named column (names compared without regard
    // to case); a null QVariant for Null. Fails for a row that is not there
    // or an unknown column.
    virtual QVariant field(const QString& name, std::size_t row = 0) const = 0;
    // The same by the column's place in the statement (0 first), for
    // statements whose columns the caller lists itself.
    virtual QVariant at(std::size_t row, std::size_t column) const = 0;
};

// Which server a connection talks to, where a statement can be written in
// fewer round trips on one than the others allow.
enum class Dialect { Embedded, PostgreSQL, Oracle, Other };

// Values for a statement's "?" placeholders, in order: whole numbers
// (qlonglong) or texts.
using Parameters = std::vector<QVariant>;

class Connection {
public:
    virtual ~Connection() = default;
    virtual void open(const QString& connectionString, const ConnectionOptions& options) = 0;
    virtual bool isOpen() const = 0;
    // Known once open.
    virtual Dialect dialect() const { return Dialect::Other; }
    virtual void execute(const QString& sql) = 0;
    // A read-only row set of a statement whose varying values are "?"
    // placeholders bound to `params`: the statement is prepared once per
    // connection and reused, and no value is ever pasted into its text.
    virtual std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) = 0;
    // A command (INSERT, UPDATE) with bound values, prepared once and reused
    // like query().
    virtual void run(const QString& sql, const Parameters& params) = 0;
    // A transaction: what is written between begin() and commit() reaches
    // the database together or not at all (rollback(), or a failure). Outside
    // one, every statement commits by itself.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // Ends a call that another thread is waiting on in this connection, as
    // soon as the backend can (a server that stopped answering): that call
    // then fails with a DatabaseError. Safe from any thread and at any
    // time; the connection is of no use afterwards. A backend that cannot
    // do this leaves the call to its own time limit.
    virtual void abort() {}
    // Ends the session with the server now, from the thread that used the
    // connection (statements, then the login); nothing is used after it.
    // A close the server never answers (the path to it gone) returns once
    // abort() is called from another thread.
    virtual void close() {}
};

} // namespace parking

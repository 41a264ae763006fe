#pragma once
// The ODBC plumbing the connection uses: diagnostics as errors, column
// values read into QVariants, parameters bound. Internal to the database
// layer.
#include "DatabaseError.h"
#include "MemoryRecordset.h"

#include <QStringList>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

#include <vector>

namespace parking::odbc {

QString diagnostics(SQLSMALLINT type, SQLHANDLE handle);

// The server rolled the statement back for a concurrent session's sake.
class SerializationFailure : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

// Throws DatabaseError (or SerializationFailure) unless `rc` succeeded.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const QString& what);

QVariant readText(SQLHSTMT stmt, SQLUSMALLINT column);
QVariant readValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type);

// The names and SQL types of a result's columns.
struct ResultColumns {
    QStringList names;
    std::vector<SQLSMALLINT> types;
};
ResultColumns describeResult(SQLHSTMT stmt);
std::vector<MemoryRecordset::Row> fetchAll(SQLHSTMT stmt, const std::vector<SQLSMALLINT>& types);

// A parameter's value, kept alive until the statement has run: the driver
// holds pointers into it, which stay good when the vector holding them is
// moved (its elements stay where they are).
struct Bound {
    SQLBIGINT number = 0;
    QByteArray text;
    SQL_TIMESTAMP_STRUCT time{};
    SQLLEN indicator = 0;
};
[[nodiscard]] std::vector<Bound> bindParameters(SQLHSTMT stmt, const Parameters& params);

// Whether the ODBC data source `dsn` names its own user in odbc.ini
// (UID=, Username= or User=).
bool dataSourceHasUser(const QString& dsn);

// The TCP port the ODBC data source `dsn` names in odbc.ini (Port=), or
// PostgreSQL's 5432 when it names none.
int dataSourcePort(const QString& dsn);

} // namespace parking::odbc

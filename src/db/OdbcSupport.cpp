#include "OdbcSupport.h"

#include "Clock.h"
#include "FieldValue.h"

#include <QDateTime>
#include <QRegularExpression>

#include <odbcinst.h>

namespace parking::odbc {

QString diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    QStringList out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR text[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length)))
            break;
        out << QStringLiteral("%1: %2").arg(QString::fromLatin1(reinterpret_cast<char*>(state)),
                                            QString::fromUtf8(reinterpret_cast<char*>(text)).trimmed());
    }
    return out.isEmpty() ? QStringLiteral("ODBC call failed") : out.join(QStringLiteral("; "));
}

// A statement the server rolled back because it could not order it with
// another client's (serialization failure): running it again is safe.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const QString& what)
{
    if (SQL_SUCCEEDED(rc))
        return;
    const QString message = what + QStringLiteral(": ") + diagnostics(type, handle);
    // SQLSTATE 40001 on most servers; Oracle's driver reports ORA-08177.
    if (message.contains(QLatin1String(": 40001:")) || message.contains(QLatin1String("ORA-08177")))
        throw SerializationFailure(message);
    // SQLSTATE class 08: the connection failed or was lost (the server
    // away, not the statement's fault).
    static const QRegularExpression connectionClass(QStringLiteral(": 08[0-9A-Z]{3}: "));
    if (message.contains(connectionClass))
        throw DatabaseError(DatabaseFault::Unreachable, message);
    throw DatabaseError(message);
}

// A statement handle freed when it goes out of scope.
// A text column, read in pieces of any length.
QVariant readText(SQLHSTMT stmt, SQLUSMALLINT column)
{
    SQLLEN indicator = 0;
    QByteArray bytes;
    char buffer[1024];
    for (;;) {
        const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        check(rc, SQL_HANDLE_STMT, stmt, QStringLiteral("SQLGetData"));
        if (indicator == SQL_NULL_DATA)
            return {};
        const qsizetype got = (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))
                                  ? static_cast<qsizetype>(sizeof buffer - 1)
                                  : static_cast<qsizetype>(indicator);
        bytes.append(buffer, got);
        if (rc == SQL_SUCCESS)
            break;
    }
    return QVariant(QString::fromUtf8(bytes));
}

QVariant readValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type)
{
    SQLLEN indicator = 0;
    switch (type) {
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT: {
        SQLBIGINT v = 0;
        check(SQLGetData(stmt, column, SQL_C_SBIGINT, &v, 0, &indicator), SQL_HANDLE_STMT, stmt, QStringLiteral("SQLGetData"));
        return indicator == SQL_NULL_DATA ? QVariant() : QVariant(static_cast<qlonglong>(v));
    }
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: {
        double v = 0;
        check(SQLGetData(stmt, column, SQL_C_DOUBLE, &v, 0, &indicator), SQL_HANDLE_STMT, stmt, QStringLiteral("SQLGetData"));
        if (indicator == SQL_NULL_DATA)
            return {};
        if (v == static_cast<double>(static_cast<qlonglong>(v)) && v > -9e15 && v < 9e15)
            return QVariant(static_cast<qlonglong>(v));
        return QVariant(v);
    }
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE: {
        SQL_TIMESTAMP_STRUCT t{};
        check(SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator), SQL_HANDLE_STMT, stmt,
              QStringLiteral("SQLGetData"));
        if (indicator == SQL_NULL_DATA)
            return {};
        return QVariant(wallTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second)));
    }
    case SQL_TYPE_TIME: {
        SQL_TIME_STRUCT t{};
        check(SQLGetData(stmt, column, SQL_C_TYPE_TIME, &t, sizeof t, &indicator), SQL_HANDLE_STMT, stmt,
              QStringLiteral("SQLGetData"));
        if (indicator == SQL_NULL_DATA)
            return {};
        return QVariant(QTime(t.hour, t.minute, t.second));
    }
    default:
        return readText(stmt, column);
    }
}

// The single table and the condition of "SELECT cols FROM table WHERE cond":
// the only shape of row set the program updates.
ResultColumns describeResult(SQLHSTMT stmt)
{
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, QStringLiteral("SQLNumResultCols"));
    ResultColumns columns;
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        SQLCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, type = 0, decimals = 0, nullable = 0;
        SQLULEN size = 0;
        check(SQLDescribeCol(stmt, i, name, sizeof name, &nameLength, &type, &size, &decimals, &nullable),
              SQL_HANDLE_STMT, stmt, QStringLiteral("SQLDescribeCol"));
        columns.names << QString::fromUtf8(reinterpret_cast<char*>(name));
        columns.types.push_back(type);
    }
    return columns;
}

std::vector<MemoryRecordset::Row> fetchAll(SQLHSTMT stmt, const std::vector<SQLSMALLINT>& types)
{
    std::vector<MemoryRecordset::Row> rows;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            return rows;
        check(rc, SQL_HANDLE_STMT, stmt, QStringLiteral("SQLFetch"));
        MemoryRecordset::Row row;
        for (SQLUSMALLINT i = 1; i <= types.size(); ++i)
            row.push_back(readValue(stmt, i, types[i - 1]));
        rows.push_back(std::move(row));
    }
}

std::vector<Bound> bindParameters(SQLHSTMT stmt, const Parameters& params)
{
    std::vector<Bound> values(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        Bound& b = values[i];
        const QVariant& v = params[i];
        const auto column = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc;
        if (v.typeId() == QMetaType::QDateTime) {
            // A date-time as the server's own type; an invalid one is a null
            // of that type, so COALESCE(?, SYSDATE) resolves on every server.
            const QDateTime t = v.toDateTime();
            b.indicator = t.isValid() ? 0 : SQL_NULL_DATA;
            if (t.isValid()) {
                const QDate d = t.date();
                const QTime h = t.time();
                b.time = {static_cast<SQLSMALLINT>(d.year()), static_cast<SQLUSMALLINT>(d.month()),
                          static_cast<SQLUSMALLINT>(d.day()), static_cast<SQLUSMALLINT>(h.hour()),
                          static_cast<SQLUSMALLINT>(h.minute()), static_cast<SQLUSMALLINT>(h.second()), 0};
            }
            rc = SQLBindParameter(stmt, column, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, 0, &b.time,
                                  0, &b.indicator);
        } else if (v.isNull()) {
            b.indicator = SQL_NULL_DATA;
            rc = SQLBindParameter(stmt, column, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0, &b.indicator);
        } else if (isWholeNumber(v)) {
            b.number = v.toLongLong();
            rc = SQLBindParameter(stmt, column, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &b.number, 0, nullptr);
        } else {
            b.text = v.toString().toUtf8();
            b.indicator = b.text.size();
            rc = SQLBindParameter(stmt, column, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  static_cast<SQLULEN>(std::max<qsizetype>(1, b.text.size())), 0, b.text.data(),
                                  b.indicator, &b.indicator);
        }
        check(rc, SQL_HANDLE_STMT, stmt, QStringLiteral("SQLBindParameter"));
    }
    return values;
}


bool dataSourceHasUser(const QString& dsn)
{
    const QByteArray section = dsn.toUtf8();
    for (const char* key : {"UID", "Username", "User"}) {
        char value[256] = {};
        const int n = SQLGetPrivateProfileString(section.constData(), key, "", value, sizeof value, "odbc.ini");
        if (n > 0 && value[0] != '\0')
            return true;
    }
    return false;
}

int dataSourcePort(const QString& dsn)
{
    char value[32] = {};
    SQLGetPrivateProfileString(dsn.toUtf8().constData(), "Port", "", value, sizeof value, "odbc.ini");
    bool ok = false;
    const int port = QByteArray(value).trimmed().toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : 5432;
}

} // namespace parking::odbc

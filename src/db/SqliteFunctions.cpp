// The Oracle functions the station's statements use, for the embedded
// database: SYSDATE on the server clock, TRUNC, TO_CHAR and TO_DATE over
// the stored date text.
#include "SqliteFunctions.h"

#include "Clock.h"
#include "FieldValue.h"
#include "OracleDialect.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

namespace parking {

namespace {

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

// The stored text "YYYY-MM-DD hh:mm:ss" or "YYYY-MM-DD", read without any
// time-zone work; nullopt for anything else.
std::optional<Stamp> quickStamp(sqlite3_value* v)
{
    const auto* s = sqlite3_value_text(v);
    const int n = sqlite3_value_bytes(v);
    if (!s || (n != 19 && n != 10) || !digitsAt(s, 0, 4) || s[4] != '-' || !digitsAt(s, 5, 2) || s[7] != '-' ||
        !digitsAt(s, 8, 2))
        return std::nullopt;
    Stamp out{number(s, 0, 4), number(s, 5, 2), number(s, 8, 2), 0, 0, 0};
    if (n == 19) {
        if (s[10] != ' ' || !digitsAt(s, 11, 2) || s[13] != ':' || !digitsAt(s, 14, 2) || s[16] != ':' || !digitsAt(s, 17, 2))
            return std::nullopt;
        out.hour = number(s, 11, 2);
        out.minute = number(s, 14, 2);
        out.second = number(s, 17, 2);
    }
    if (out.month >= 1 && out.month <= 12 && out.day >= 1 && out.day <= 31 && out.hour < 24 && out.minute < 60 &&
        out.second < 60)
        return out;
    return std::nullopt;
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
    // TRUNC(date, 'MM'): the first of its month; any other format, the day.
    const auto* format = argc == 2 ? reinterpret_cast<const char*>(sqlite3_value_text(argv[1])) : nullptr;
    const bool month = format && std::strcmp(format, "MM") == 0;
    if (const auto quick = quickStamp(v)) {
        char text[20];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d 00:00:00", quick->year, quick->month, month ? 1 : quick->day);
        sqlite3_result_text(ctx, text, 19, SQLITE_TRANSIENT);
        return;
    }
    const QDateTime t = parseDateText(textOf(v));
    if (!t.isValid()) {
        sqlite3_result_null(ctx);
        return;
    }
    const QDate day = month ? QDate(t.date().year(), t.date().month(), 1) : t.date();
    resultText(ctx, dateText(wallTime(day, QTime(0, 0))));
}

// ADD_DAYS(date, n) and ADD_MONTHS(date, n) as Oracle's date + n and
// ADD_MONTHS: the last day of a month stays the last day of the target month.
void addFunction(sqlite3_context* ctx, sqlite3_value** argv, bool months)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const QDateTime t = parseDateText(textOf(argv[0]));
    if (!t.isValid()) {
        sqlite3_result_null(ctx);
        return;
    }
    const int n = sqlite3_value_int(argv[1]);
    QDate d = t.date();
    if (!months) {
        d = d.addDays(n);
    } else {
        const bool lastDay = d.day() == d.daysInMonth();
        d = d.addMonths(n);
        if (lastDay)
            d = QDate(d.year(), d.month(), d.daysInMonth());
    }
    resultText(ctx, dateText(wallTime(d, t.time())));
}

void addDaysFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    addFunction(ctx, argv, false);
}

void addMonthsFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    addFunction(ctx, argv, true);
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
    if (const auto quick = quickStamp(v)) {
        const auto* format = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
        char text[16];
        if (format && std::strcmp(format, "DD/MM/YYYY") == 0) {
            std::snprintf(text, sizeof text, "%02d/%02d/%04d", quick->day, quick->month, quick->year);
            sqlite3_result_text(ctx, text, 10, SQLITE_TRANSIENT);
            return;
        }
        if (format && std::strcmp(format, "MMYYYY") == 0) {
            std::snprintf(text, sizeof text, "%02d%04d", quick->month, quick->year);
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

} // namespace

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
    if (v.isNull() || (v.typeId() == QMetaType::QDateTime && !v.toDateTime().isValid())) {
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

void registerOracleFunctions(sqlite3* db, const Clock& serverClock)
{
    const int flags = SQLITE_UTF8;
    auto* clock = const_cast<Clock*>(&serverClock);
    // Deterministic: a constant of the statement, so the clock is read (and
    // formatted) once per statement run, not once per row, and a range on
    // an indexed column against it can use the index.
    sqlite3_create_function_v2(db, "SYSDATE", 0, flags | SQLITE_DETERMINISTIC, clock, sysdateFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "TRUNC", 1, flags | SQLITE_DETERMINISTIC, nullptr, truncFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TRUNC", 2, flags | SQLITE_DETERMINISTIC, nullptr, truncFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "ADD_DAYS", 2, flags | SQLITE_DETERMINISTIC, nullptr, addDaysFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "ADD_MONTHS", 2, flags | SQLITE_DETERMINISTIC, nullptr, addMonthsFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TO_DATE", 2, flags | SQLITE_DETERMINISTIC, nullptr, toDateFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TO_CHAR", 1, flags | SQLITE_DETERMINISTIC, nullptr, toCharFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "TO_CHAR", 2, flags | SQLITE_DETERMINISTIC, nullptr, toCharFunction, nullptr, nullptr, nullptr);
}

} // namespace parking

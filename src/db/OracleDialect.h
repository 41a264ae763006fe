#pragma once
// The few pieces of Oracle's dialect the statements use, for backends that
// speak another one: the bare pseudo-column SYSDATE, TRUNC of a date and
// TO_CHAR of a date with a format. Dates travel as ISO 8601 text
// "YYYY-MM-DD hh:mm:ss".
#include <QDateTime>
#include <QString>

namespace parking {

// `sql` with every bare SYSDATE (any case, outside quoted strings, quoted
// names and comments, not already followed by "(") written as the call
// SYSDATE().
QString callBareSysdate(const QString& sql);

// For the embedded database, which has no date arithmetic: `sql` with every
// "TRUNC(SYSDATE) + N" (N whole days, blanks anywhere, outside quoted
// strings, quoted names and comments) written as "ADD_DAYS(TRUNC(SYSDATE), N)".
QString embeddedDayArithmetic(const QString& sql);

// A date or date-time text: "YYYY-MM-DD hh:mm:ss", "YYYY-MM-DDThh:mm:ss",
// "YYYY-MM-DD" or a time of day "hh:mm:ss" (on 1899-12-30, the day zero of
// time-only values). Invalid when the text is none of these.
QDateTime parseDateText(const QString& text);

// The ISO 8601 text stored in date columns.
QString dateText(const QDateTime& t);

// Oracle's TO_CHAR(date, format) for the elements YYYY, MM, DD, HH24, HH,
// MI and SS; any other character is copied.
QString oracleToChar(const QDateTime& t, const QString& format);

} // namespace parking

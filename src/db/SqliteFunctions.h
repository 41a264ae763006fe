#pragma once
// Oracle's date functions for the embedded database, so that the station's
// statements run there unchanged: SYSDATE (read from `serverClock`, which
// must outlive the connection), TRUNC, TO_CHAR and TO_DATE.
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace parking {

class Clock;

void registerOracleFunctions(sqlite3* db, const Clock& serverClock);

// A result column as a QVariant (Null as a null QVariant).
QVariant columnValue(sqlite3_stmt* stmt, int i);
// Binds a value to a statement's parameter (whole numbers as integers,
// dates as their stored text).
void bindValue(sqlite3_stmt* stmt, int index, const QVariant& v);

} // namespace parking

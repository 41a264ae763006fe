#pragma once
// Oracle's date functions for the embedded database, so that the station's
// statements run there unchanged: SYSDATE (read from `serverClock`, which
// must outlive the connection), TRUNC, TO_CHAR and TO_DATE.
struct sqlite3;

namespace parking {

class Clock;

void registerOracleFunctions(sqlite3* db, const Clock& serverClock);

} // namespace parking

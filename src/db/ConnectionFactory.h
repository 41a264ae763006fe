#pragma once
// Chooses the backend for a connection string by its Data Source:
// "sqlite:PATH" is the embedded database; any other name is an ODBC data
// source of a database server.
#include "Database.h"

namespace parking {

class Clock;

// `baseFolder`: where relative embedded-database paths start (the
// configuration file's folder). `serverClock` must outlive every connection.
ConnectionFactory makeConnectionFactory(const Clock& serverClock, const QString& baseFolder);

} // namespace parking

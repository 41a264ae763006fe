#pragma once
// The access decision's facts of one subscriber, read in one statement
// (one round trip to a distant server): tagged rows joined by UNION ALL,
// each branch one kind of fact. Values that the decision converts are kept
// as read (see AccessFacts). A database error reaches the caller unchanged.
#include "AccessFacts.h"
#include "Connection.h"

#include <QString>

#include <cstdint>

namespace parking::records {

// `siteInstallation`: the station's own installation (its free spaces).
AccessFacts loadAccessFacts(Connection& connection, std::int32_t subscriber, std::int32_t installation,
                            std::int32_t siteInstallation);

// The one statement, as the server is sent it (values as "?"), for the
// tests that check it.
QString accessFactsStatement();

} // namespace parking::records

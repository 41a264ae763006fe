#pragma once
// The statements of a passage sent once before the first passage, so that
// the server has parsed and planned them and the first car at the barrier
// waits no longer than the next: through a link of 20 ms round trips the
// first entrance otherwise pays several more for the preparing.
#include "Connection.h"

#include <cstdint>

namespace parking::records {

// Reads a decision's facts and a card for nobody, and on PostgreSQL (where
// a passage is one statement) runs an entrance's and an exit's write for an
// installation that cannot exist, which change nothing. Throws DatabaseError.
void warmUpStatements(Connection& c, std::int16_t site);

} // namespace parking::records

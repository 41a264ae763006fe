#include "StatementWarmUp.h"

#include "AccessFactsRecords.h"
#include "CardRecords.h"
#include "DatabaseError.h"
#include "PassageRecords.h"

#include <limits>

namespace parking::records {

void warmUpStatements(Connection& c, std::int16_t site)
{
    loadAccessFacts(c, 0, 0, site);
    static_cast<void>(lookUpCard(c, QString())); // what it finds of nobody is nothing
    if (c.dialect() != Dialect::PostgreSQL)
        return;
    // Every row the write would touch hangs on the count's row of this
    // installation: with none, nothing is written, and the write says so.
    constexpr std::int16_t NoSite = std::numeric_limits<std::int16_t>::min();
    for (const bool entrance : {true, false}) {
        try {
            writePassage(c, Passage{entrance, NoSite, 0, 0, QStringLiteral("warm-up")});
        } catch (const DatabaseError&) {
            // "There is no installation": as intended.
        }
    }
}

} // namespace parking::records

#pragma once
// Who holds a card: the subscriber and installation of its ABONADOS row.
#include "Connection.h"
#include "Result.h"

#include <QString>

#include <cstdint>

namespace parking::records {

struct CardHolder {
    std::int32_t subscriber = 0;
    std::uint8_t installation = 0;
};

// The card's holder: nobody (0, 0) for a card no row holds; the failure
// says why a row that holds it cannot be used (a code or installation that
// is no such number: the card counts as held by nobody). `cardCode`: the
// hexadecimal card code, bound as a value.
Result<CardHolder> lookUpCard(Connection& c, const QString& cardCode);

} // namespace parking::records

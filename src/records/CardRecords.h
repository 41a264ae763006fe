#pragma once
// Who holds a card: the subscriber and installation of its ABONADOS row.
#include "Connection.h"

#include <QString>

#include <cstdint>

namespace parking::records {

struct CardHolder {
    std::int32_t subscriber = 0;
    std::uint8_t installation = 0;
};

// The card's holder: nobody (0, 0) for a card no row holds. `fault` says
// why a row that holds it could not be used (a code or installation that
// is no such number); the holder is then nobody too.
struct CardLookUp {
    CardHolder holder;
    QString fault;
};

// `cardCode`: the hexadecimal card code, bound as a value.
CardLookUp lookUpCard(Connection& c, const QString& cardCode);

} // namespace parking::records

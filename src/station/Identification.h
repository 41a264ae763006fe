#pragma once
// Reading what a reader reports: a track holds the subscriber code and the
// subscriber's installation at fixed places; a card number is turned into
// the card code looked up in ABONADOS.
#include "StationRole.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace parking {

struct TrackIdentity {
    std::int32_t subscriber = 0;
    std::uint8_t installation = 0;
};

// 1-based position of the five subscriber characters for a track of
// `length` characters read at `station`.
int trackStart(StationRole station, qsizetype length);

// The leading number of `text`, read leniently: blanks, tabs and line feeds
// anywhere are skipped; a sign, digits, one decimal point and an exponent
// are read; reading stops at the first other character. No number gives 0.
// nullopt when the value does not fit a 32-bit integer once rounded.
std::optional<std::int32_t> lenientWholeNumber(const QString& text);

// The track's identity; nullopt when characters 4 and 5 are not a whole
// number from 0 to 255 (or the subscriber field is out of range).
std::optional<TrackIdentity> decodeTrack(StationRole station, const QString& track);

// The card number of characters 2 to 14 of a card text; nullopt when they
// are not decimal digits (blanks around them are allowed).
std::optional<double> cardNumber(const QString& cardText);

} // namespace parking

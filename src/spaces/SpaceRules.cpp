#include "SpaceRules.h"

#include "WholeNumber.h"

#include <algorithm>

namespace parking::spaces {

int afterEntrance(int freeSpaces)
{
    return std::max(0, freeSpaces - 1);
}

int afterExit(int freeSpaces, int capacity)
{
    return std::min(capacity, freeSpaces + 1);
}

Typed readTypedCount(const QString& text)
{
    // An empty box holds nothing to set, and digits beyond any count are
    // above the capacity: both are refused like any count above it.
    const auto whole = toWhole16(text);
    const bool digitsOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    const std::optional<std::int16_t> count = whole && *whole >= 0 ? whole : std::nullopt;
    return {count, !count && !digitsOnly};
}

} // namespace parking::spaces

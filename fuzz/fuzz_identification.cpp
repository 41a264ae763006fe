// What a reader reports: tracks and card numbers.
#include "FuzzSupport.h"
#include "Identification.h"
#include "Station.h"

#include <cmath>

using namespace parking;
using namespace parking::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = text(data, size);
    for (const StationRole station : BothStations) {
        const auto identity = decodeTrack(station, input);
        if (identity)
            require(decodeTrack(station, input)->subscriber == identity->subscriber, "decoding is repeatable");
    }
    if (const auto n = lenientWholeNumber(input))
        require(lenientWholeNumber(QString::number(*n)) == n, "a whole number reads back from its own text");
    if (const auto number = cardNumber(input)) {
        require(*number >= 0 && *number < 1e13 && std::floor(*number) == *number, "a card number is 13 digits at most");
        const QString code = cardCodeText(*number);
        bool ok = false;
        require(code.toULongLong(&ok, 16) == static_cast<qulonglong>(*number) && ok && code == code.toUpper(),
                "the card code is the number in upper-case hexadecimal");
    }
    return 0;
}

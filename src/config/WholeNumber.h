#pragma once
// Text-to-number conversion of the whole-number settings: decimal digits with
// an optional sign and blanks around them; a fraction (point or comma) is
// rounded to the nearest whole number, halves to the even one. Anything else,
// and any value outside -32768..32767, is not a 16-bit whole number.
#include <QString>

#include <cstdint>
#include <optional>

namespace parking {

std::optional<std::int16_t> toWhole16(const QString& text);

// Nearest integer, halves to even, of a finite value.
double roundHalfEven(double value);

} // namespace parking

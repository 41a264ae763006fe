#pragma once
// Conversions of field values to the program's types, with the rules the
// callers rely on: numbers round to the nearest whole number (halves to
// even), a value out of the target's range or a Null is an error.
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <cstdint>

namespace parking {

// Whether a value holds a whole number (of any width) or a number.
bool isWholeNumber(const QVariant& value);
bool isNumber(const QVariant& value);

std::int16_t toInt16(const QVariant& value);
std::int32_t toInt32(const QVariant& value);
std::uint8_t toByte(const QVariant& value);
double toDouble(const QVariant& value);
// Text of the value: a whole number without decimals, text as it is.
QString toText(const QVariant& value);
// A date-time value or a date text; invalid for Null or anything else.
QDateTime toDateTime(const QVariant& value);

} // namespace parking

#pragma once
// How a raw card read (osdp_RAW: a number of bits, left-justified) becomes
// the card text the stations look up: "C" and 13 decimal digits. The port
// text's fmt= option chooses the format:
//   raw        every bit, as one unsigned number (the default)
//   wiegand26  H10301: even parity, 8-bit facility, 16-bit number, odd parity
//   wiegand34  H10306: even parity, 16-bit facility, 16-bit number, odd parity
//   wiegand37  H10302: even parity, 35-bit number, odd parity
//   csn        a card serial number of 32 to 64 bits, no parity
// With a facility code the number is facility × 100000 + card number (so
// 123/45678 reads 12345678, as printed on the card). A read of the wrong
// length or with a failed parity is a misread; a number that needs more
// than 13 digits is refused, never shortened into another card's number.
#include "OsdpCodec.h"
#include "Result.h"

#include <QString>

#include <optional>

namespace parking::osdp {

enum class CardFormat { Raw, Wiegand26, Wiegand34, Wiegand37, Csn };

std::optional<CardFormat> parseCardFormat(const QString& name);
QString cardFormatName(CardFormat format);

// The card text ("C" and 13 digits), or why not (for the event log).
Result<QString> readCard(CardFormat format, int bits, const Bytes& data);

} // namespace parking::osdp

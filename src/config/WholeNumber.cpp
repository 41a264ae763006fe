#include "WholeNumber.h"

#include <cmath>

namespace parking {

double roundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

std::optional<std::int16_t> toWhole16(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
        while (i < t.size() && t[i].isSpace())
            ++i;
    }
    QString digits;
    bool separatorSeen = false;
    bool anyDigit = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits += c;
            anyDigit = true;
        } else if ((c == QLatin1Char('.') || c == QLatin1Char(',')) && !separatorSeen) {
            digits += QLatin1Char('.');
            separatorSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit || digits.size() > 40)
        return std::nullopt;
    bool ok = false;
    double value = digits.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    value = roundHalfEven(negative ? -value : value);
    if (value < -32768.0 || value > 32767.0)
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

} // namespace parking

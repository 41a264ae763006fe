#include "Identification.h"

#include <cmath>

namespace parking {

namespace {

// Where the subscriber's five characters start (1-based), by the track's
// length: the readers at the two stations write tracks of 17 and other
// lengths differently; a 16-character track is the same at both.
constexpr qsizetype CommonLength = 16;
constexpr int CommonStart = 11;
constexpr qsizetype ShortLength = 17;
constexpr int EntranceShortStart = 12;
constexpr int EntranceOtherStart = 13;
constexpr int ExitShortStart = 13;
constexpr int ExitOtherStart = 10;

} // namespace

int trackStart(StationRole station, qsizetype length)
{
    if (length == CommonLength)
        return CommonStart;
    if (station == StationRole::Entrance)
        return length == ShortLength ? EntranceShortStart : EntranceOtherStart;
    return length == ShortLength ? ExitShortStart : ExitOtherStart;
}

std::optional<std::int32_t> lenientWholeNumber(const QString& text)
{
    QString compact;
    for (QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            compact += c;
    }
    qsizetype i = 0;
    const qsizetype n = compact.size();
    auto digit = [&](qsizetype k) { return k < n && compact[k] >= QLatin1Char('0') && compact[k] <= QLatin1Char('9'); };
    QString number;
    if (i < n && (compact[i] == QLatin1Char('+') || compact[i] == QLatin1Char('-')))
        number += compact[i++];
    bool any = false;
    while (digit(i)) {
        number += compact[i++];
        any = true;
    }
    if (i < n && compact[i] == QLatin1Char('.')) {
        number += compact[i++];
        while (digit(i)) {
            number += compact[i++];
            any = true;
        }
    }
    if (!any)
        return 0;
    if (i < n && (compact[i] == QLatin1Char('E') || compact[i] == QLatin1Char('e') || compact[i] == QLatin1Char('D') ||
                  compact[i] == QLatin1Char('d'))) {
        qsizetype k = i + 1;
        QString exponent = QStringLiteral("e");
        if (k < n && (compact[k] == QLatin1Char('+') || compact[k] == QLatin1Char('-')))
            exponent += compact[k++];
        if (digit(k)) {
            while (digit(k))
                exponent += compact[k++];
            number += exponent;
        }
    }
    bool ok = false;
    const double value = std::nearbyint(number.toDouble(&ok));
    if (!ok || !std::isfinite(value) || value < -2147483648.0 || value > 2147483647.0)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<TrackIdentity> decodeTrack(StationRole station, const QString& track)
{
    const int start = trackStart(station, track.size());
    const auto subscriber = lenientWholeNumber(track.mid(start - 1, 5));
    const QString installationText = track.mid(3, 2).trimmed();
    bool ok = !installationText.isEmpty();
    for (QChar c : installationText)
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int installation = ok ? installationText.toInt() : -1;
    if (!subscriber || installation < 0 || installation > 255)
        return std::nullopt;
    return TrackIdentity{*subscriber, static_cast<std::uint8_t>(installation)};
}

std::optional<double> cardNumber(const QString& cardText)
{
    // Decimal digits only (blanks around them allowed): a sign, a point or
    // an exponent would turn a noisy line into someone else's card.
    const QString digits = cardText.mid(1, 13).trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    return digits.toDouble();
}

} // namespace parking

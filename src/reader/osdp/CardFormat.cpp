#include "CardFormat.h"

namespace parking::osdp {

namespace {

constexpr std::uint64_t CardNumberLimit = 10'000'000'000'000ULL; // 13 digits
constexpr std::uint64_t FacilityFactor = 100'000;

struct Layout {
    int bits;
    int facilityFrom, facilityBits; // facilityBits 0: none
    int numberFrom, numberBits;
    int evenTo;   // bit 0 is even parity over bits 1..evenTo
    int oddFrom;  // the last bit is odd parity over bits oddFrom..bits-2
};

constexpr Layout Wiegand26{26, 1, 8, 9, 16, 12, 13};
constexpr Layout Wiegand34{34, 1, 16, 17, 16, 16, 17};
constexpr Layout Wiegand37{37, 0, 0, 1, 35, 18, 18};

class Bits {
public:
    Bits(int count, const Bytes& data) : count_(count), data_(data) {}
    int at(int i) const { return (data_[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1; }
    std::uint64_t field(int from, int count) const
    {
        std::uint64_t value = 0;
        for (int i = from; i < from + count; ++i)
            value = (value << 1) | static_cast<std::uint64_t>(at(i));
        return value;
    }
    int ones(int from, int to) const
    {
        int n = 0;
        for (int i = from; i <= to; ++i)
            n += at(i);
        return n;
    }
    int count() const { return count_; }

private:
    int count_;
    const Bytes& data_;
};

QString hexOf(const Bytes& data)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())).toHex());
}

QString cardText(std::uint64_t number)
{
    return QStringLiteral("C%1").arg(number, 13, 10, QLatin1Char('0'));
}

Result<QString> wiegand(const Layout& l, CardFormat format, const Bits& b)
{
    const QString name = cardFormatName(format);
    if (b.count() != l.bits)
        return failure(QStringLiteral("lectura errónea: %1 bits, fmt=%2 espera %3; no se busca")
                                  .arg(b.count())
                                  .arg(name)
                                  .arg(l.bits));
    const bool evenOk = (b.at(0) + b.ones(1, l.evenTo)) % 2 == 0;
    const bool oddOk = (b.ones(l.oddFrom, l.bits - 2) + b.at(l.bits - 1)) % 2 == 1;
    if (!evenOk || !oddOk)
        return failure(QStringLiteral("lectura errónea: falla la paridad (fmt=%1); no se busca").arg(name));
    const std::uint64_t number = b.field(l.numberFrom, l.numberBits);
    if (l.facilityBits == 0)
        return cardText(number);
    return cardText(b.field(l.facilityFrom, l.facilityBits) * FacilityFactor + number);
}

Result<QString> tooLong(std::uint64_t value, int bits, CardFormat format)
{
    return failure(QStringLiteral("tarjeta de %1 bits (fmt=%2): su número %3 tiene %4 cifras y no cabe en las 13 del código; "
                           "no se busca. Caben: fmt=wiegand26, wiegand34, wiegand37, o fmt=csn con un número de serie "
                           "de 32 bits (configure así el lector)")
                .arg(bits)
                .arg(cardFormatName(format))
                .arg(value)
                .arg(QString::number(value).size()));
}

} // namespace

std::optional<CardFormat> parseCardFormat(const QString& name)
{
    for (CardFormat f : {CardFormat::Raw, CardFormat::Wiegand26, CardFormat::Wiegand34, CardFormat::Wiegand37,
                         CardFormat::Csn}) {
        if (cardFormatName(f) == name)
            return f;
    }
    return std::nullopt;
}

QString cardFormatName(CardFormat format)
{
    switch (format) {
    case CardFormat::Raw:
        return QStringLiteral("raw");
    case CardFormat::Wiegand26:
        return QStringLiteral("wiegand26");
    case CardFormat::Wiegand34:
        return QStringLiteral("wiegand34");
    case CardFormat::Wiegand37:
        return QStringLiteral("wiegand37");
    case CardFormat::Csn:
        return QStringLiteral("csn");
    }
    return {};
}

Result<QString> readCard(CardFormat format, int bits, const Bytes& data)
{
    if (bits <= 0 || data.size() < static_cast<std::size_t>((bits + 7) / 8))
        return failure(QStringLiteral("lectura errónea: %1 bits en %2 bytes; no se busca").arg(bits).arg(data.size()));
    const Bits b(bits, data);
    switch (format) {
    case CardFormat::Wiegand26:
        return wiegand(Wiegand26, format, b);
    case CardFormat::Wiegand34:
        return wiegand(Wiegand34, format, b);
    case CardFormat::Wiegand37:
        return wiegand(Wiegand37, format, b);
    case CardFormat::Csn: {
        if (bits < 32 || bits > 64)
            return failure(QStringLiteral("lectura errónea: %1 bits, fmt=csn espera de 32 a 64; no se busca").arg(bits));
        const std::uint64_t value = b.field(0, bits);
        if (value >= CardNumberLimit)
            return tooLong(value, bits, format);
        return cardText(value);
    }
    case CardFormat::Raw:
        break;
    }
    if (bits > 64)
        return failure(QStringLiteral("tarjeta no utilizable: %1 bits, datos %2").arg(bits).arg(hexOf(data)));
    const std::uint64_t value = b.field(0, bits);
    if (value >= CardNumberLimit)
        return failure(QStringLiteral("tarjeta no utilizable: %1 bits, datos %2").arg(bits).arg(hexOf(data)));
    return cardText(value);
}

} // namespace parking::osdp

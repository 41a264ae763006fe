#include "FieldValue.h"

#include "Clock.h"

#include "DatabaseError.h"
#include "OracleDialect.h"

#include <cmath>
#include <limits>

namespace parking {

namespace {

double wholeNumber(const QVariant& value, double low, double high)
{
    if (value.isNull())
        throw DatabaseError(DatabaseFault::NullValue);
    const double d = toDouble(value);
    const double r = std::nearbyint(d);
    if (!std::isfinite(r) || r < low || r > high)
        throw DatabaseError(QStringLiteral("Overflow: %1").arg(value.toString()));
    return r;
}

} // namespace

bool isWholeNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::SChar:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant& value)
{
    return isWholeNumber(value) || value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

double toDouble(const QVariant& value)
{
    if (value.isNull())
        throw DatabaseError(DatabaseFault::NullValue);
    bool ok = false;
    const double d = value.toString().trimmed().toDouble(&ok);
    if (value.typeId() == QMetaType::QString && !ok)
        throw DatabaseError(QStringLiteral("Type mismatch: %1").arg(value.toString()));
    if (ok)
        return d;
    bool ok2 = false;
    const double v = value.toDouble(&ok2);
    if (!ok2)
        throw DatabaseError(QStringLiteral("Type mismatch: %1").arg(value.toString()));
    return v;
}

std::int16_t toInt16(const QVariant& value)
{
    return static_cast<std::int16_t>(wholeNumber(value, -32768.0, 32767.0));
}

std::int32_t toInt32(const QVariant& value)
{
    return static_cast<std::int32_t>(wholeNumber(value, -2147483648.0, 2147483647.0));
}

std::uint8_t toByte(const QVariant& value)
{
    return static_cast<std::uint8_t>(wholeNumber(value, 0.0, 255.0));
}

QString toText(const QVariant& value)
{
    if (value.isNull())
        throw DatabaseError(DatabaseFault::NullValue);
    if (value.typeId() == QMetaType::Double) {
        const double d = value.toDouble();
        if (d == std::floor(d) && std::fabs(d) < 1e15)
            return QString::number(static_cast<qint64>(d));
    }
    return value.toString();
}

QDateTime toDateTime(const QVariant& value)
{
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDateTime)
        return wallTime(value.toDateTime());
    if (value.typeId() == QMetaType::QDate)
        return wallTime(value.toDate(), QTime(0, 0));
    if (value.typeId() == QMetaType::QTime)
        return wallTime(QDate(1899, 12, 30), value.toTime());
    return parseDateText(value.toString());
}

} // namespace parking

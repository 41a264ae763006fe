#include "FreeSpaceCounter.h"

#include "DatabaseError.h"
#include "FieldValue.h"

namespace parking::records {

std::int16_t FreeSpaceCounter::change(const QString& newValue)
{
    const QString code = QString::number(installation_);
    connection_.run(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = ") + newValue +
                        QStringLiteral(" WHERE CodInstalacion = ?"),
                    {qlonglong(installation_)});
    auto row = connection_.query(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES WHERE CodInstalacion = ?"),
                                 {qlonglong(installation_)});
    if (!row->hasRow())
        throw DatabaseError(QStringLiteral("There is no installation %1").arg(code));
    return toInt16(row->field(QStringLiteral("Plazas_Libres")));
}

QString FreeSpaceCounter::takeOne()
{
    return QStringLiteral("CASE WHEN PLAZAS_LIBRES - 1 < 0 THEN 0 ELSE PLAZAS_LIBRES - 1 END");
}

QString FreeSpaceCounter::giveOne()
{
    return QStringLiteral("CASE WHEN PLAZAS_LIBRES + 1 > PLAZAS_PARKING THEN PLAZAS_PARKING ELSE PLAZAS_LIBRES + 1 END");
}

std::int16_t FreeSpaceCounter::decrement()
{
    return change(takeOne());
}

std::int16_t FreeSpaceCounter::increment()
{
    return change(giveOne());
}

std::optional<std::int16_t> FreeSpaceCounter::set(std::int16_t requested)
{
    const Parameters code{qlonglong(installation_)};
    auto row = connection_.query(QStringLiteral("SELECT PLAZAS_LIBRES,PLAZAS_PARKING FROM INSTALACIONES WHERE CodInstalacion = ?"),
                                 code);
    const std::int16_t capacity = toInt16(row->field(QStringLiteral("Plazas_Parking")));
    if (requested < 0 || capacity < requested)
        return std::nullopt;
    connection_.run(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = ? WHERE CodInstalacion = ?"),
                    {qlonglong(requested), qlonglong(installation_)});
    auto now = connection_.query(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES WHERE CodInstalacion = ?"), code);
    return toInt16(now->field(QStringLiteral("Plazas_Libres")));
}

} // namespace parking::records

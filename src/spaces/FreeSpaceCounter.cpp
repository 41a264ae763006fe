#include "FreeSpaceCounter.h"

#include "DatabaseError.h"
#include "FieldValue.h"

namespace parking {

template <class Change>
std::int16_t FreeSpaceCounter::change(const QString& sql, Change compute)
{
    for (int attempt = 1;; ++attempt) {
        auto row = connection_.openRecordset(sql, LockType::Optimistic);
        const std::int16_t value = compute(*row);
        row->setField(QStringLiteral("Plazas_Libres"), value);
        try {
            row->update();
            return value;
        } catch (const UpdateConflict&) {
            if (attempt >= MaxAttempts)
                throw;
        }
    }
}

std::int16_t FreeSpaceCounter::decrement()
{
    return change(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES WHERE (CodInstalacion=") +
                      QString::number(installation_) + QStringLiteral(")"),
                  [](Recordset& row) {
                      const int v = toInt16(row.field(QStringLiteral("Plazas_Libres"))) - 1;
                      return static_cast<std::int16_t>(v < 0 ? 0 : v);
                  });
}

std::int16_t FreeSpaceCounter::increment()
{
    return change(QStringLiteral("SELECT PLAZAS_LIBRES,PLAZAS_PARKING FROM INSTALACIONES WHERE (CodInstalacion=") +
                      QString::number(installation_) + QStringLiteral(")"),
                  [](Recordset& row) {
                      const int n = toInt16(row.field(QStringLiteral("Plazas_Libres"))) + 1;
                      const std::int16_t c = toInt16(row.field(QStringLiteral("Plazas_Parking")));
                      // Adding one to 32767 overflows, as the 16-bit count would.
                      if (n > 32767)
                          throw DatabaseError(QStringLiteral("Overflow"));
                      return static_cast<std::int16_t>(n > c ? c : n);
                  });
}

std::optional<std::int16_t> FreeSpaceCounter::set(std::int16_t requested)
{
    const QString code = QString::number(installation_);
    const QString select = QStringLiteral("SELECT PLAZAS_LIBRES,PLAZAS_PARKING FROM INSTALACIONES WHERE (CodInstalacion=") +
                           code + QStringLiteral(")");
    auto row = connection_.openRecordset(select, LockType::Optimistic);
    const std::int16_t capacity = toInt16(row->field(QStringLiteral("Plazas_Parking")));
    if (requested < 0 || capacity < requested)
        return std::nullopt;
    connection_.execute(QStringLiteral(" UPDATE INSTALACIONES SET PLAZAS_LIBRES = ") + QString::number(requested) +
                        QStringLiteral(" WHERE CodInstalacion = ") + code);
    auto now = connection_.openRecordset(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES WHERE (CodInstalacion=") +
                                             code + QStringLiteral(")"),
                                         LockType::Optimistic);
    return toInt16(now->field(QStringLiteral("Plazas_Libres")));
}

} // namespace parking

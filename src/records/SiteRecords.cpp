#include "SiteRecords.h"

#include "FieldValue.h"

namespace parking::records {

namespace {

// A text column that may be Null: Null reads as the empty text.
QString textOrEmpty(const QVariant& value)
{
    return value.isNull() ? QString() : toText(value);
}

} // namespace

std::optional<ReaderRow> loadReaderRow(Connection& c, std::int16_t installation)
{
    const auto rs = c.query(QStringLiteral("SELECT Lectores, PARKING_ENTRADA, PARKING_SALIDA, MsjOk, MsjIDMal, "
                                           "MsjHorarioMal, MsjImpagado, MsjBaja FROM Lector WHERE CodInstalacion = ?"),
                            {qlonglong(installation)});
    if (!rs->hasRow())
        return std::nullopt;
    auto text = [&](const char* column) { return textOrEmpty(rs->field(QLatin1String(column))); };
    const QVariant readers = rs->field(QStringLiteral("Lectores"));
    return ReaderRow{readers.isNull() ? std::nullopt : std::optional(toDouble(readers)), text("PARKING_ENTRADA"),
                     text("PARKING_SALIDA"),
                     {text("MsjOk"), text("MsjIDMal"), text("MsjHorarioMal"), text("MsjImpagado"), text("MsjBaja")}};
}

std::optional<SiteRow> loadSiteRow(Connection& c, std::int16_t installation)
{
    const auto rs = c.query(
        QStringLiteral("SELECT Codinstalacion,Nombre,Plazas_Parking,Plazas_Libres FROM Instalaciones WHERE CodInstalacion = ?"),
        {qlonglong(installation)});
    if (!rs->hasRow())
        return std::nullopt;
    SiteRow row;
    row.name = toText(rs->field(QStringLiteral("Nombre")));
    row.freeSpaces = toInt16(rs->field(QStringLiteral("Plazas_Libres")));
    const QVariant capacity = rs->field(QStringLiteral("Plazas_Parking"));
    if (!capacity.isNull())
        row.capacity = toInt16(capacity);
    return row;
}

QList<SubscriberCard> loadSubscriberCards(Connection& c)
{
    QList<SubscriberCard> cards;
    const auto rs = c.query(QStringLiteral("SELECT Codigo, CodInstalacion, Nombre, CODTARJETA FROM ABONADOS ORDER BY Codigo"), {});
    for (std::size_t row = 0; row < rs->size(); ++row) {
        cards.append({toInt32(rs->field(QStringLiteral("Codigo"), row)), toInt32(rs->field(QStringLiteral("CodInstalacion"), row)),
                      rs->field(QStringLiteral("Nombre"), row).toString(), textOrEmpty(rs->field(QStringLiteral("CODTARJETA"), row))});
    }
    return cards;
}

void setReaderPorts(Connection& c, std::int16_t installation, const QString& entrance, const QString& exit)
{
    c.run(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = ?, PARKING_SALIDA = ? WHERE CodInstalacion = ?"),
          {entrance, exit, qlonglong(installation)});
}

} // namespace parking::records

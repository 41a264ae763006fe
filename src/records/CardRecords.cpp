#include "CardRecords.h"

#include "DatabaseError.h"
#include "FieldValue.h"

namespace parking::records {

Result<CardHolder> lookUpCard(Connection& c, const QString& cardCode)
{
    auto rs = c.query(QStringLiteral("SELECT CODINSTALACION,CODIGO FROM ABONADOS WHERE CODTARJETA = ?"), {cardCode});
    if (!rs->hasRow())
        return CardHolder{};
    try {
        return CardHolder{toInt32(rs->field(QStringLiteral("Codigo"))), toByte(rs->field(QStringLiteral("CodInstalacion")))};
    } catch (const DatabaseError& e) {
        return failure(e.message());
    }
}

} // namespace parking::records

#include "CardRecords.h"

#include "DatabaseError.h"
#include "FieldValue.h"

namespace parking::records {

CardLookUp lookUpCard(Connection& c, const QString& cardCode)
{
    auto rs = c.query(QStringLiteral("SELECT CODINSTALACION,CODIGO FROM ABONADOS WHERE CODTARJETA = ?"), {cardCode});
    if (!rs->hasRow())
        return {};
    // A row whose code or installation cannot be used counts as a card
    // held by nobody.
    try {
        return {{toInt32(rs->field(QStringLiteral("Codigo"))), toByte(rs->field(QStringLiteral("CodInstalacion")))}, {}};
    } catch (const DatabaseError& e) {
        return {{}, e.message()};
    }
}

} // namespace parking::records

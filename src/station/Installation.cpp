#include "Installation.h"

#include "DatabaseError.h"
#include "FieldValue.h"

namespace parking {

QString Installation::readerMessage(const char* column) const
{
    if (!readerRow_)
        throw DatabaseError(QStringLiteral("There is no reader configuration row"));
    const QVariant value = readerRow_->field(QLatin1String(column));
    return fixedText(value.isNull() ? QString() : toText(value), MessageWidth);
}

} // namespace parking

#include "ConnectionString.h"

#include <QStringList>

namespace parking {

QString buildConnectionString(const QString& sid)
{
    static const QString prefix = QStringLiteral(
        "Provider=OraOLEDB.Oracle.1;Password=r7Tq2xLm;Persist Security Info=True;User ID=vexlor1;Data Source=");
    return fixedText(prefix + sid.trimmed(), ConnectionStringWidth);
}

QString connectionAttribute(const QString& connectionString, const QString& key)
{
    const auto parts = connectionString.split(QLatin1Char(';'));
    for (const QString& part : parts) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq > 0 && part.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return part.mid(eq + 1).trimmed();
    }
    return {};
}

QString describeDataSource(const QString& connectionString)
{
    return connectionAttribute(connectionString, QStringLiteral("Data Source"));
}

} // namespace parking

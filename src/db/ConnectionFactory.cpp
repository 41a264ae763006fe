#include "ConnectionFactory.h"

#include "ConnectionString.h"
#include "OdbcConnection.h"
#include "SqliteConnection.h"

namespace parking {

ConnectionFactory makeConnectionFactory(const Clock& serverClock, const QString& baseFolder)
{
    return [&serverClock, baseFolder](const QString& connectionString) -> std::shared_ptr<Connection> {
        if (describeDataSource(connectionString).startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
            return std::make_shared<SqliteConnection>(serverClock, baseFolder);
        return std::make_shared<OdbcConnection>();
    };
}

} // namespace parking

#include "ConnectionFactory.h"

#include "SqliteConnection.h"

namespace parking {

ConnectionFactory makeConnectionFactory(const Clock& serverClock, const QString& baseFolder)
{
    return [&serverClock, baseFolder](const QString&) -> std::shared_ptr<Connection> {
        return std::make_shared<SqliteConnection>(serverClock, baseFolder);
    };
}

} // namespace parking

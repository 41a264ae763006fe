#include "DemoReaders.h"

#include "DatabaseError.h"
#include "SqliteConnection.h"

#include <QFileInfo>

namespace parking {

std::unique_ptr<osdp::EmulatorHost> startDemoReaders(const QString& databasePath, const Clock& serverClock)
{
    auto host = std::make_unique<osdp::EmulatorHost>();
    if (!host->openPseudoTerminal())
        throw DatabaseError(QStringLiteral("No pseudo-terminal for the demo's readers"));
    host->add(1);
    host->add(2);
    SqliteConnection connection(serverClock, QFileInfo(databasePath).absolutePath());
    connection.open(QStringLiteral("Data Source=sqlite:") + databasePath, {});
    const QString port = QStringLiteral("osdp:") + host->slavePath();
    connection.execute(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = '%1?addr=1&sc=install', "
                                      "PARKING_SALIDA = '%1?addr=2&sc=install'")
                           .arg(port));
    return host;
}

} // namespace parking

#include "DemoSite.h"

#include "DatabaseError.h"
#include "SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace parking {

namespace {

const char DemoIni[] = R"([Conexion]
BASEDATOS=SQL
PRVBD=OraOLEDB.Oracle.1
SID=sqlite:demo.db
SVR=ODBC.DLL
BD=PARKING

[Form]
Left=0
Top=0
Width=11190
Height=6660

[Listados]
RptPath=Rpts

[FicherosASCII]
PathASCII=ASCII

[Impresoras]
ImpresoraTickets=Ticket
PuertoCajon=COM1
Instalacion=1

[Fotos]
FotoPath=Fotos
DefPath=Fotos

[SinConexion]
Decidir=1
)";

} // namespace

QString defaultDemoFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("parking-station/demo"));
}

DemoSite createDemoSite(const QString& folder, const Clock& serverClock)
{
    DemoSite site{folder, QDir(folder).filePath(QStringLiteral("Rivalto.ini")),
                  QDir(folder).filePath(QStringLiteral("demo.db"))};
    if (!QDir().mkpath(folder))
        throw DatabaseError(QStringLiteral("Cannot create the demo folder %1").arg(folder));
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(site.databasePath + QLatin1String(suffix));
    // The demo's readers are new each time: so are their keys.
    QFile::remove(QDir(folder).filePath(QStringLiteral("claves-lectores")));
    SqliteConnection::createDatabase(site.databasePath, serverClock);
    SqliteConnection connection(serverClock, folder);
    connection.open(QStringLiteral("Data Source=sqlite:") + site.databasePath, {});
    connection.execute(demoDataSql());

    QSaveFile ini(site.configPath);
    if (!ini.open(QIODevice::WriteOnly) || ini.write(DemoIni) < 0 || !ini.commit())
        throw DatabaseError(QStringLiteral("Cannot write %1").arg(site.configPath));
    return site;
}

} // namespace parking

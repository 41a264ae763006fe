#include "StationFixture.h"
#include "WaitFor.h"

namespace parking::test {

StationFixture::StationFixture()
{
    configPath = writeSiteConfig(db.folder(), db.sid(), 3);
    restartController();
}

void StationFixture::restartController()
{
    controller.reset();
    controller = std::make_unique<StationController>(
        configuration(journalPath()), workstationClock,
        [this](const QString&) -> std::shared_ptr<Connection> {
            recording = std::make_shared<RecordingConnection>(db.makeConnection());
            return std::make_shared<FaultyConnection>(faults, recording);
        },
        timers);
    controller->setTraceSink([this](const QString& line) { traceLines << line; });
}

Configuration StationFixture::configuration(const QString& journal, bool logs) const
{
    Configuration config = readConfiguration(loadConfiguration(configPath));
    config.journalFile = journal;
    config.database.readWait = readWait;
    config.database.writeWait = writeWait;
    if (!logs)
        config.logFolder.clear();
    return config;
}

QString StationFixture::journalPath() const
{
    return journalFile.isEmpty() ? QDir(db.folder()).filePath(QStringLiteral("parking.journal")) : journalFile;
}

void StationFixture::seedInstallation(bool lectorRow, const QString& lectores, bool installationRow,
                                      const QString& name, int freeSpaces, int capacity)
{
    if (lectorRow) {
        db.exec(QStringLiteral("INSERT INTO Lector VALUES (3, %1, 'sim:in', 'sim:out', 'BIENVENIDO', 'TARJETA NO VALIDA', "
                               "'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')").arg(lectores));
    }
    if (installationRow) {
        db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, '%1', %2, %3)")
                    .arg(QString(name).replace(QLatin1Char('\''), QStringLiteral("''"))).arg(capacity).arg(freeSpaces));
    }
}

StationController::StartUp StationFixture::start()
{
    const auto loaded = loadConfiguration(configPath);
    return controller->start(loaded ? QString() : loaded.error().reason);
}

void StationFixture::probe()
{
    controller->monitor().probe();
    WAIT_FOR(!controller->monitor().database().probing(), 60000);
}

QStringList StationFixture::takeTrace()
{
    QStringList out;
    out.swap(traceLines);
    return out;
}

} // namespace parking::test

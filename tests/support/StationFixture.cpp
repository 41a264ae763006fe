#include "StationFixture.h"

namespace parking::test {

StationFixture::StationFixture()
{
    configPath = QDir(db.folder()).filePath(QStringLiteral("Rivalto.ini"));
    writeFile(configPath, QStringLiteral("[Conexion]\nSID=") + db.sid() + QStringLiteral("\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n"
                                         "[Impresoras]\nInstalacion=3\n"));
    restartController();
}

void StationFixture::restartController()
{
    controller.reset();
    controller = std::make_unique<StationController>(
        settings, workstationClock,
        [this](const QString&) -> std::shared_ptr<Connection> {
            recording = std::make_shared<RecordingConnection>(db.makeConnection());
            return std::make_shared<FaultyConnection>(faults, recording);
        },
        StationController::Paths{configPath, db.folder(), QDir(db.folder()).filePath(QStringLiteral("log")),
                                 journalPath(),
                                 QDir(db.folder()).filePath(QStringLiteral("claves-lectores"))},
        timers);
    controller->setTraceSink([this](const QString& line) { traceLines << line; });
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
    return controller->start();
}

QStringList StationFixture::takeTrace()
{
    QStringList out;
    out.swap(traceLines);
    return out;
}

} // namespace parking::test

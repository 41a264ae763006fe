// What a reload applies to running stations, and what it leaves for a
// restart: on the real embedded database, with simulated readers.
#include "QtPrinters.h"
#include "StationFixture.h"

#include <QDir>
#include <QTemporaryDir>

using namespace parking;
using namespace parking::test;
using namespace std::chrono_literals;

namespace {

class Reconfigure : public StationFixture {
protected:
    void SetUp() override
    {
        seedInstallation();
        ASSERT_EQ(start(), StationController::StartUp::InService);
        takeTrace();
    }
    QStringList opened() const { return traceLines.filter(QStringLiteral(".OpenPortRem(")); }
};

TEST_F(Reconfigure, NothingChangedTouchesNothing)
{
    const auto r = controller->reconfigure(configuration(journalPath()));
    EXPECT_TRUE(r.applied.isEmpty()) << r.applied.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(r.restartNeeded.isEmpty());
    EXPECT_TRUE(opened().isEmpty()) << "a reader was opened again for nothing";
}

TEST_F(Reconfigure, AChangedReaderIsOpenedAgainTheOtherKeepsItsLineAndTheMessagesApply)
{
    db.exec(QStringLiteral("UPDATE Lector SET PARKING_SALIDA = 'sim:salida-nueva', MsjOk = 'ADELANTE'"));
    const auto r = controller->reconfigure(configuration(journalPath()));
    EXPECT_EQ(r.applied, (QStringList{QStringLiteral("mensajes de Lector"), QStringLiteral("lector de salida: sim:salida-nueva")}));
    EXPECT_EQ(opened(), QStringList{QStringLiteral("KBIOMAXctl2.OpenPortRem(sim:salida-nueva)")});
    EXPECT_EQ(controller->installation().grantedMessage().trimmed(), QStringLiteral("ADELANTE"));
}

TEST_F(Reconfigure, TheLogFolderAndOfflineSettingsApplyTheDatabaseAndInstallationWaitForARestart)
{
    QTemporaryDir logs;
    Configuration next = configuration(journalPath());
    next.logFolder = logs.path();
    next.replica.decide = true;
    next.replica.refresh = 60s;
    next.database.dataSource = QStringLiteral("otra");
    next.installation = 7;
    next.journalFile = QDir(logs.path()).filePath(QStringLiteral("otro.journal"));
    const auto r = controller->reconfigure(next);
    EXPECT_EQ(r.applied, (QStringList{QStringLiteral("[Registro] Carpeta"), QStringLiteral("[SinConexion]")}));
    EXPECT_EQ(r.restartNeeded, (QStringList{QStringLiteral("[Conexion] SID"), QStringLiteral("[Impresoras] Instalacion"),
                                            QStringLiteral("[Registro] Diario")}));
    controller->log().write(QStringLiteral("una línea"));
    EXPECT_EQ(QDir(logs.path()).entryList({QStringLiteral("parking-*.log")}).size(), 1) << "the log did not move";
    EXPECT_TRUE(controller->database().replica().enabled());
    EXPECT_EQ(controller->database().replica().settings().refresh, 60s);
    EXPECT_EQ(controller->installation().code(), 3) << "the installation changed without a restart";
    // A second reload of the same file finds only what still waits.
    const auto again = controller->reconfigure(next);
    EXPECT_TRUE(again.applied.isEmpty()) << again.applied.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(again.restartNeeded.size(), 3);
}

TEST_F(Reconfigure, WithTheDatabaseAwayTheReadersStayAsTheyWere)
{
    db.exec(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = 'sim:entrada-nueva'"));
    faults->failEverything = true;
    Configuration next = configuration(journalPath());
    next.unitKeyDays = 30;
    const auto r = controller->reconfigure(next);
    ASSERT_EQ(r.applied.size(), 2) << r.applied.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(r.applied[0], QStringLiteral("[Registro] DiasClavesDiario"));
    EXPECT_TRUE(r.applied[1].startsWith(QStringLiteral("fila de Lector no leída"))) << r.applied[1].toStdString();
    EXPECT_TRUE(r.applied[1].endsWith(QStringLiteral("los lectores siguen como estaban")));
    EXPECT_TRUE(opened().isEmpty());
}

} // namespace

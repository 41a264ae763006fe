#pragma once
// A station controller on a real database with one installation's rows,
// simulated readers, a manual clock, simulated timers and the trace kept.
#include "SiteConfig.h"
#include "StationController.h"
#include "TestSupport.h"
#include "Timer.h"

#include <QDir>

#include <gtest/gtest.h>

namespace parking::test {

class StationFixture : public ::testing::Test {
protected:
    StationFixture();
    // The rows of one installation (code 3) with the given Lector/installation
    // options; call before start().
    void seedInstallation(bool lectorRow = true, const QString& lectores = QStringLiteral("2"),
                          bool installationRow = true, const QString& name = QStringLiteral("PISCINA CUBIERTA"),
                          int freeSpaces = 10, int capacity = 20);
    StationController::StartUp start();
    // One probe, as the timer's tick starts it, carried to its end (the
    // journal handed over if the database answers).
    void probe();
    // A new controller on the same database and files, as after the
    // program was stopped (or killed) and started again; not started.
    void restartController();
    QString journalPath() const;
    // The site's configuration file as loaded, with `journal` for the
    // journal and, unless `logs`, no log file.
    Configuration configuration(const QString& journal, bool logs = true) const;
    QString journalFile; // empty: parking.journal beside the database
    // [Conexion] Espera= and EsperaEscritura= of the next controller.
    std::chrono::milliseconds readWait = DatabaseSettings::DefaultReadWait;
    std::chrono::milliseconds writeWait = DatabaseSettings::DefaultWriteWait;
    // The trace lines since the last call.
    QStringList takeTrace();

    TempDatabase db;
    ManualClock workstationClock{QDateTime(QDate(2026, 3, 4), QTime(10, 0))};
    // Declared before the station: its timers go first.
    ManualTimers timers;
    QString configPath;
    std::unique_ptr<StationController> controller;
    QStringList traceLines;
    // Every connection the station opens goes through these.
    std::shared_ptr<Faults> faults = std::make_shared<Faults>();
    std::shared_ptr<RecordingConnection> recording; // the latest connection's record
};

} // namespace parking::test

#pragma once
// Wires the station core together: the event log, the connection monitor,
// what the two stations share, and the two stations. It starts them
// (start-up reads the configuration, the database's reader and
// installation rows, opens both readers), closes them, and carries out the
// operator's actions: a barrier opened by hand and the free-space setting.
// The widgets window and the headless run both drive one of these; what
// happens goes as facts to the StationEvents listening.
#include "ConnectionMonitor.h"
#include "EventLog.h"
#include "Configuration.h"
#include "Station.h"
#include "StationEvents.h"
#include "StatusBoard.h"
#include "ReaderHub.h"
#include "Timer.h"
#include "WriteJournal.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <memory>

namespace parking {

class StationController : public QObject {
    Q_OBJECT
public:
    enum class StartUp {
        InService,    // both stations in service
        NoStations,   // the installation runs no readers (or start-up failed): window open, stations idle
        WindowClosed, // no reader configuration or installation row: the window closed
        Fatal         // no configuration or no database: the program must end
    };

    // `config`: what the configuration file says; a fault in it ends start().
    StationController(Configuration config, const Clock& workstationClock, ConnectionFactory factory,
                      TimerSource& timers, QObject* parent = nullptr,
                      const SteadyClock& steadyClock = systemSteadyClock());
    ~StationController() override;

    // The window: it hears every fact, after the trace and the status board.
    void setView(StationEvents* view);
    // The ordered stream of everything the stations did: every event-log
    // line as written, and a "> " line for each command or thing shown.
    void setTraceSink(std::function<void(const QString&)> sink);

    // Brings both stations into service. `configurationFault`: why the
    // configuration file cannot be used (the program ends, saying so).
    StartUp start(const QString& configurationFault = {});
    // "Salir" or the close box; once.
    void close();

    // What a reload applied ("[Registro] Carpeta", "lector de entrada:
    // osdp:...") and what waits for a restart ("[Conexion] SID").
    struct Reconfigured {
        QStringList applied;
        QStringList restartNeeded;
    };
    // Applies what changed in `next` (read again from the file) while the
    // stations keep serving, between two passages: the log folder, the
    // offline settings, the readers' key file, and the reader row read
    // again (a reader whose port text changed, or every secure one when
    // the keys changed, is closed and opened again; the others keep their
    // channel; the display messages). The database's settings, the
    // installation, the journal and the replica's file wait for a restart.
    Reconfigured reconfigure(const Configuration& next);

    // The operator's actions.
    void openBarrierByHand(StationRole station);
    void openBarrierByHand(int station) { openBarrierByHand(roleOf(station)); }
    // "Actualiza": sets the count to the whole number in `text` (the
    // free-space box's text, as the operator typed it); the count set, or
    // nullopt when it was refused (the alert said so, and the box is
    // emptied).
    std::optional<std::int16_t> setFreeSpacesByHand(const QString& text);

    Station& station(StationRole role) { return *stations_[roleIndex(role)]; }
    const Station& station(StationRole role) const { return *stations_[roleIndex(role)]; }
    // Station 1 is the entrance; any other number is the exit.
    Station& station(int number) { return station(roleOf(number)); }
    const Station& station(int number) const { return station(roleOf(number)); }
    ReaderControl& reader(int number) { return station(number).reader(); }

    EventLog& log() { return log_; }
    const EventLog& log() const { return log_; }
    const Installation& installation() const { return installation_; }
    Installation& installation() { return installation_; }
    const GridWriter& grid() const { return grid_; }
    GridWriter& grid() { return grid_; }
    StationDatabase& database() { return database_; }
    ConnectionMonitor& monitor() { return monitor_; }
    // Safe to read from any thread.
    const StatusBoard& status() const { return status_; }
    bool inService() const { return inService_; }

    // How long one slice of the journal's replay after a probe may take.
    static constexpr std::chrono::milliseconds DrainSlice{200};

signals:
    // The window has gone; the program ends.
    void closed();

private:
    StartUp bringIntoService();
    void drainSlice();
    void closeOnMissingRow(const QString& table);
    void refreshReplica();
    void replicaChanged();
    void applyReplicaSettings(const ReplicaSettings& next);
    void reopenReader(StationRole role, const QString& portText);

    Configuration config_;
    TimerSource& timers_;
    std::array<QString, 2> ports_;  // each reader's port text as opened
    QByteArray keyFileDigest_;      // the key file as the readers were opened with it
    StationOutputs outputs_;
    std::unique_ptr<TraceView> trace_;
    StationEvents* view_ = nullptr;
    EventLog log_;
    StatusBoard status_;
    StatusBoardView statusView_{status_};
    WriteJournal journal_;
    ConnectionMonitor monitor_;
    Installation installation_;
    GridWriter grid_;
    StationDatabase database_;
    ReaderHub hub_;
    std::array<std::unique_ptr<Station>, 2> stations_;
    std::unique_ptr<Timer> replicaTimer_; // with [SinConexion] Decidir=1
    bool inService_ = false;
    bool closed_ = false;
};

} // namespace parking

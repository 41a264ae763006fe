#pragma once
// Keeps the station's database connection alive: opens it at start-up,
// probes it on a timer, and once the database answers again hands the
// writes waiting in the journal to whoever drains them (afterProbe). The
// waiting itself happens on the connection's own thread, owned and joined
// by the Database.
//
// What the connection says happened becomes the stations' facts (the
// database's state, with since when; an alert at start-up) and event-log
// lines (what failed, an answer that came late). Never a password.
#include "Clock.h"
#include "Database.h"
#include "DatabaseEvents.h"
#include "EventLog.h"
#include "Timer.h"

#include <functional>
#include <memory>

namespace parking {

class StationEvents;

class ConnectionMonitor final : public DatabaseEvents {
public:
    static constexpr std::chrono::milliseconds ProbeInterval{4000};

    ConnectionMonitor(ConnectionFactory factory, EventLog& log, const Clock& clock, TimerSource& timers,
                      StationEvents& outputs);

    // Called after every probe that found the database answering.
    void setAfterProbe(std::function<void()> afterProbe) { afterProbe_ = std::move(afterProbe); }

    bool connect(const DatabaseSettings& settings);
    void startProbing() { probeTimer_->start(); }
    void stopProbing() { probeTimer_->stop(); }
    bool probeTimerActive() const { return probeTimer_->isActive(); }
    // Starts one probe (the timer's tick) unless one runs; returns at once.
    // What waits in the journal is handed over once the database answers.
    void probe();

    Database& database() { return database_; }

    // DatabaseEvents
    void startUpFailed(StartUpFailure why) override;
    void failed(const QString& what) override;
    void stateChanged(DatabaseState state) override;
    void probeFailed() override;
    void deadlineExceeded(DatabaseCall call) override;
    void lateAnswer(DatabaseCall call, std::chrono::milliseconds after, const QString& error) override;

private:
    EventLog& log_;
    const Clock& clock_;
    StationEvents& outputs_;
    std::function<void()> afterProbe_;
    std::unique_ptr<Timer> probeTimer_;
    // Last: its sessions' threads are joined before the rest goes.
    Database database_;
};

} // namespace parking

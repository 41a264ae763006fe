#pragma once
// Keeps the station's database connection alive: opens it at start-up,
// probes it on a timer, shows the progress window while it reconnects, and
// once the database answers again hands the writes waiting in the journal
// to whoever drains them (afterProbe). The waiting itself happens on the
// Database's one worker thread, owned and joined there.
//
// What the connection routines show goes to the view and the trace; what
// failed goes to the event log. Never a password.
#include "ConnectionUi.h"
#include "Database.h"
#include "EventLog.h"
#include "StatusBoard.h"
#include "Timer.h"

#include <functional>
#include <memory>

namespace parking {

class StationView;

class ConnectionMonitor final : public ConnectionUi {
public:
    static constexpr std::chrono::milliseconds ProbeInterval{4000};

    ConnectionMonitor(ConnectionFactory factory, EventLog& log, TimerSource& timers, StationView& outputs);

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

    // ConnectionUi
    void showFatal(const QString& text, const QString& title) override;
    void showProgress() override;
    void hideProgress() override;
    void reportFailure(const QString& what) override;
    void probeFailed() override;
    void note(const QString& line) override;
    void deadlineExceeded(DatabaseCall call) override;
    void answeringChanged(bool answering) override;
    void stalled() override;

private:
    EventLog& log_;
    StationView& outputs_;
    std::function<void()> afterProbe_;
    std::unique_ptr<Timer> probeTimer_;
    // Last: its worker thread is joined before the rest goes.
    Database database_;
};

} // namespace parking

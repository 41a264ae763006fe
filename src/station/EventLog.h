#pragma once
// The event log: every line the stations log goes through here once, and
// from here to the day's log file and, as an event, to the subscribers
// (the window's log, which forgets past WindowLimit characters; the trace).
//
// guard() runs a handler so that a database or device fault ends that
// handler with a log line instead of reaching the event loop.
#include "Clock.h"
#include "LogFile.h"

#include <QString>

#include <functional>

namespace parking {

class StationView;

class EventLog {
public:
    // The window's log is emptied when a line arrives while it holds more.
    static constexpr qsizetype WindowLimit = 5000;

    EventLog(QString logFolder, const Clock& clock, StationView& outputs);

    void write(const QString& line);
    const QString& text() const { return text_; }

    // Runs `handler`; a failure is logged as "ERROR en WHERE: ..." and ends
    // it; false then. Running out of memory is not handled here.
    bool guard(const QString& where, const std::function<void()>& handler);

private:
    const Clock& clock_;
    LogFile file_;
    bool fileFailing_ = false;
    QString text_;
    StationView& outputs_;
};

} // namespace parking

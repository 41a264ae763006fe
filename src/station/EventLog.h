#pragma once
// The event log: every line the stations log goes through here once, and
// from here to the day's log file and, as an event, to the subscribers
// (the window's log, the trace).
//
// guard() runs a handler so that a database or device fault ends that
// handler with a log line instead of reaching the event loop.
#include "Clock.h"
#include "LogFile.h"

#include <QString>

#include <functional>

namespace parking {

class StationEvents;

class EventLog {
public:
    EventLog(QString logFolder, const Clock& clock, StationEvents& outputs);

    void write(const QString& line);
    // The log file's folder from the next line on (a reload).
    void setFolder(const QString& folder) { file_.setFolder(folder); }
    const QString& folder() const { return file_.folder(); }

    // Runs `handler`; a failure is logged as "ERROR en WHERE: ..." and ends
    // it; false then. Running out of memory is not handled here.
    bool guard(const QString& where, const std::function<void()>& handler);

private:
    const Clock& clock_;
    LogFile file_;
    bool fileFailing_ = false;
    StationEvents& outputs_;
};

} // namespace parking

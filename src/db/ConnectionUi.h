#pragma once
// What the connection routines need of the operator's side: the fatal
// start-up message, the connection progress window, and a report of what
// failed (for the event log).
// The widgets window and the headless trace each provide one.
#include "DatabaseCall.h"

#include <QString>

namespace parking {

class ConnectionUi {
public:
    virtual ~ConnectionUi() = default;
    // A message box with the stop icon; the program ends when it is closed.
    virtual void showFatal(const QString& text, const QString& title) = 0;
    virtual void showProgress() = 0;
    virtual void hideProgress() = 0;
    // What failed, for the event log and the log file. Never a password.
    virtual void reportFailure(const QString& what) = 0;
    // A probe found the database not answering (counted for monitoring).
    virtual void probeFailed() {}
    // A line for the event log as it stands (an answer that came too late).
    virtual void note(const QString& /*line*/) {}
    // A call was not answered within its deadline (counted by kind).
    virtual void deadlineExceeded(DatabaseCall /*call*/) {}
    // Whether the database answers: false from a deadline passed or a
    // failed probe until a fresh connection answers.
    virtual void answeringChanged(bool /*answering*/) {}
    // A call's deadline passed: the connection is set aside, and a probe
    // should find a fresh one now rather than at its next tick.
    virtual void stalled() {}
};

} // namespace parking

#pragma once
// What the connection routines need of the operator's side: the fatal
// start-up message, the connection progress window, and a report of what
// failed (for the event log).
// The widgets window and the headless trace each provide one.
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
};

} // namespace parking

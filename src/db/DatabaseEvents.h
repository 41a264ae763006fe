#pragma once
// What the database connection says happened, as facts: start-up could
// not connect, a connection routine failed (for the event log), whether
// the database answers, a probe failed, a call passed its deadline, an
// answer came back after it. How any of it is shown, and in which words,
// is the listener's business.
#include "DatabaseCall.h"

#include <QString>

#include <chrono>

namespace parking {

// Whether the database answers: from a failed probe, or a call past its
// deadline, it does not; once a reconnection has failed too, the outage is
// certain and the program is reconnecting, until a fresh connection answers.
enum class DatabaseState { Answering, NotAnswering, Reconnecting };

// Why start-up could not connect; the program ends.
enum class StartUpFailure {
    NoDataSource, // [Conexion] SID= is empty
    NoDatabase,   // the credentials cannot be read, or the database cannot be reached
};

class DatabaseEvents {
public:
    virtual ~DatabaseEvents() = default;
    virtual void startUpFailed(StartUpFailure /*why*/) {}
    // What failed, in the words of the driver or the file (never a
    // password), for the event log.
    virtual void failed(const QString& /*what*/) {}
    virtual void stateChanged(DatabaseState /*state*/) {}
    virtual void probeFailed() {}
    virtual void deadlineExceeded(DatabaseCall /*call*/) {}
    // A call given up at its deadline ended `after` its start: its answer
    // (or its failure, `error`; empty: it succeeded) changes nothing.
    virtual void lateAnswer(DatabaseCall /*call*/, std::chrono::milliseconds /*after*/, const QString& /*error*/) {}
};

} // namespace parking

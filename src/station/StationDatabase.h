#pragma once
// The stations' way to the database: a call within its deadline for one
// handler's work, and the movement recorder once the database is connected.
#include "Clock.h"
#include "ConnectionMonitor.h"
#include "EventLog.h"
#include "MovementRecorder.h"
#include "Replica.h"

#include <cstdint>
#include <memory>

namespace parking {

class StationDatabase {
public:
    StationDatabase(ConnectionMonitor& monitor, EventLog& log, const Clock& clock, const SteadyClock& steadyClock,
                    std::int16_t installation, const ReplicaSettings& replica = {})
        : monitor_(monitor), log_(log), clock_(clock), steadyClock_(steadyClock), installation_(installation),
          replica_(replica, installation, monitor.database(), clock, steadyClock,
                   [&log](const QString& line) { log.write(line); })
    {
    }

    // Runs `work` on the connection within the deadline of `kind`
    // (Database::call): throws DatabaseError when there is no connection,
    // when the database does not answer, or past the deadline.
    template <typename Work>
    auto call(DatabaseCall kind, Work work)
    {
        return monitor_.database().call(kind, std::move(work));
    }

    // The recorder exists once the database is connected; recorder() throws
    // DatabaseError before.
    void connectRecorder(WriteJournal& journal);
    MovementRecorder& recorder() const;
    bool connected() const { return recorder_ != nullptr; }
    // Whether the database answers now (a call that failed while it does
    // was a fault of its own, not an outage).
    bool answering() const { return monitor_.database().answering(); }
    Replica& replica() { return replica_; }

private:
    ConnectionMonitor& monitor_;
    EventLog& log_;
    const Clock& clock_;
    const SteadyClock& steadyClock_;
    const std::int16_t installation_;
    std::unique_ptr<MovementRecorder> recorder_;
    Replica replica_;
};

} // namespace parking

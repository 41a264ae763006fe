#pragma once
// The stations' way to the database: the connection for one handler's
// work, and the movement recorder once the database is connected.
#include "Clock.h"
#include "ConnectionMonitor.h"
#include "EventLog.h"
#include "MovementRecorder.h"

#include <cstdint>
#include <memory>

namespace parking {

class StationDatabase {
public:
    StationDatabase(ConnectionMonitor& monitor, EventLog& log, const Clock& clock, std::int16_t installation)
        : monitor_(monitor), log_(log), clock_(clock), installation_(installation)
    {
    }

    // The connection for one handler's work. Throws DatabaseError when
    // there is none.
    std::shared_ptr<Connection> connection() const;

    // The recorder exists once the database is connected; recorder() throws
    // DatabaseError before.
    void connectRecorder(WriteJournal& journal);
    MovementRecorder& recorder() const;
    bool connected() const { return recorder_ != nullptr; }

private:
    ConnectionMonitor& monitor_;
    EventLog& log_;
    const Clock& clock_;
    const std::int16_t installation_;
    std::unique_ptr<MovementRecorder> recorder_;
};

} // namespace parking

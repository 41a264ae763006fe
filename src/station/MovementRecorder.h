#pragma once
// Writes what a passage leaves in the database: the stay's row in
// Movimientos_Parking and the free-space count. Once the barrier is to
// open, a write that fails does not stop it: the write goes to the journal
// and is replayed, in order and once, when the database answers again.
// While anything waits in the journal, later writes queue behind it.
#include "Clock.h"
#include "Database.h"
#include "WriteJournal.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace parking {

class MovementRecorder {
public:
    MovementRecorder(Database& database, std::int16_t installation, WriteJournal& journal, const Clock& clock,
                     std::function<void(const QString&)> log);

    // The movement row as the passage writes it: an entrance (station 1)
    // inserts, any other station closes today's open row. Throws on failure.
    void recordMovement(std::int32_t subscriber, std::uint8_t subscriberInstallation, std::uint8_t station);

    // A passage's writes, which never fail: the movement row (an entrance's
    // insert, an exit's closing of the stay) and the free-space change, in
    // one transaction (one flush on the embedded database). The new count,
    // or nullopt when both were journalled.
    std::optional<std::int16_t> recordEntrance(std::int32_t subscriber, std::uint8_t subscriberInstallation);
    std::optional<std::int16_t> recordExit(std::int32_t subscriber, std::uint8_t subscriberInstallation);

    // Replays what waits in the journal, oldest first, until one fails.
    // True when the journal is empty afterwards.
    bool drain();
    bool pending() const { return !journal_.empty(); }

private:
    using Kind = WriteJournal::Kind;
    std::optional<std::int16_t> recordPassage(Kind movement, std::int32_t subscriber, std::uint8_t installation);
    void writeMovement(Connection& c, std::int32_t subscriber, std::uint8_t subscriberInstallation, std::uint8_t station);
    void journal(Kind kind, std::int32_t subscriber, std::uint8_t installation, const QDateTime& when);
    void replay(const WriteJournal::Entry& e);

    Database& database_;
    std::int16_t installation_;
    WriteJournal& journal_;
    const Clock& clock_;
    std::function<void(const QString&)> log_;
    bool drainFailing_ = false;
};

} // namespace parking

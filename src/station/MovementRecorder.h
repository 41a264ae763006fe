#pragma once
// Writes what a passage leaves in the database: the stay's row in
// Movimientos_Parking and the free-space count. Once the barrier is to
// open, a write that fails does not stop it: the write goes to the journal
// and is replayed, in order and once, when the database answers again: a
// passage's two writes are one unit, written in one transaction together
// with the unit's key in DIARIO_APLICADO, so that a replay cut short after
// its commit is not written again.
// While anything waits in the journal, later writes queue behind it.
#include "Clock.h"
#include "Database.h"
#include "WriteJournal.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parking {

class MovementRecorder {
public:
    MovementRecorder(Database& database, std::int16_t installation, WriteJournal& journal, const Clock& clock,
                     std::function<void(const QString&)> log);

    // A passage's writes: the movement row (an entrance's insert, an exit's
    // closing of the stay) and the free-space change, in one transaction
    // (one flush on the embedded database), or else both in the journal.
    struct Recorded {
        std::optional<std::int16_t> left; // the new count; nullopt: not in the database
        bool kept = true;                 // false: neither the database nor the journal has it
    };
    Recorded recordEntrance(std::int32_t subscriber, std::uint8_t subscriberInstallation);
    Recorded recordExit(std::int32_t subscriber, std::uint8_t subscriberInstallation);

    // Replays what waits in the journal, oldest first, until one fails.
    // True when the journal is empty afterwards.
    bool drain();

    // Whether the database keeps passage keys (DIARIO_APLICADO), asked of
    // its catalogue once; a database fault goes up.
    void lookForUnitsTable() { unitsRecorded(*database_.connection()); }

    // Deletes at most one batch of passage keys older than `days` from
    // DIARIO_APLICADO, at most once an hour until none is left that old.
    // A database that refuses is told once in the log and asked again an
    // hour later; nothing is thrown.
    void pruneUnitKeys(int days);
    static constexpr int UnitKeyBatch = 500;
    bool pending() const { return !journal_.empty(); }

private:
    using Kind = WriteJournal::Kind;
    Recorded recordPassage(Kind movement, std::int32_t subscriber, std::uint8_t installation);
    void writeMovement(Connection& c, std::int32_t subscriber, std::uint8_t subscriberInstallation, Kind movement);
    // The passage's movement and the count's change together; the new count.
    std::int16_t writePassage(Connection& c, Kind movement, std::int32_t subscriber, std::uint8_t installation,
                              const QString& unit);
    std::int16_t writePassageAtOnce(Connection& c, Kind movement, std::int32_t subscriber, std::uint8_t installation,
                                    const QString& unit);
    // One journalled write's statements.
    void replay(Connection& c, const WriteJournal::Entry& e);
    // A unit's writes, once: with its key in DIARIO_APLICADO when the
    // database has that table, else as before (each write on its own).
    void replayUnit(const std::vector<WriteJournal::Entry>& entries);
    // Whether the database has DIARIO_APLICADO (asked once; said once).
    bool unitsRecorded(Connection& c);

    Database& database_;
    std::int16_t installation_;
    WriteJournal& journal_;
    const Clock& clock_;
    std::function<void(const QString&)> log_;
    bool drainFailing_ = false;
    std::optional<bool> unitsTable_;
    QDateTime nextPrune_;
    bool pruneFailing_ = false;
};

} // namespace parking

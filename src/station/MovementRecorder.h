#pragma once
// Writes what a passage leaves in the database: the stay's row in
// Movimientos_Parking and the free-space count. Once the barrier is to
// open, a write that fails (or is not answered within its deadline) does
// not stop it: the write goes to the journal and is replayed, in order and
// once, when the database answers again: a passage's two writes are one
// unit, written in one transaction together with the unit's key in
// DIARIO_APLICADO, so that a replay cut short after its commit, or a write
// given up that committed all the same, is not written again.
// While anything waits in the journal, later writes queue behind it.
//
// The statements are the records layer's; every one runs through
// Database::call, within its deadline.
#include "Clock.h"
#include "Database.h"
#include "WriteJournal.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parking {

class MovementRecorder {
public:
    // `steadyClock` measures how much of a deadline a replay has used.
    MovementRecorder(Database& database, std::int16_t installation, WriteJournal& journal, const Clock& clock,
                     std::function<void(const QString&)> log, const SteadyClock& steadyClock = systemSteadyClock());

    // A passage's writes: the movement row (an entrance's insert, an exit's
    // closing of the stay) and the free-space change, in one transaction
    // (one flush on the embedded database), or else both in the journal.
    // What waits in the journal is replayed first, for as long as the
    // write's own deadline allows; what is left of it then keeps the
    // passage behind it, in the journal.
    struct Recorded {
        std::optional<std::int16_t> left; // the new count; nullopt: not in the database
        bool kept = true;                 // false: neither the database nor the journal has it
    };
    Recorded recordEntrance(std::int32_t subscriber, std::uint8_t subscriberInstallation);
    Recorded recordExit(std::int32_t subscriber, std::uint8_t subscriberInstallation);

    // Replays what waits in the journal, oldest first, until one fails or,
    // with a `budget`, until that much time has gone (between two units).
    // Each unit is a call of `kind` (start-up's replay may wait longer).
    enum class Drained { All, Failed, Paused };
    Drained drainFor(std::optional<std::chrono::milliseconds> budget, DatabaseCall kind = DatabaseCall::Replay);
    // All of it; true when the journal is empty afterwards.
    bool drain(DatabaseCall kind = DatabaseCall::Replay) { return drainFor(std::nullopt, kind) == Drained::All; }

    // Whether the database keeps passage keys (DIARIO_APLICADO), asked of
    // its catalogue once, as a call of `kind`; a database fault goes up.
    void lookForUnitsTable(DatabaseCall kind = DatabaseCall::StartUp);

    // Deletes at most one batch of passage keys older than `days` from
    // DIARIO_APLICADO, at most once an hour until none is left that old.
    // A database that refuses is told once in the log and asked again an
    // hour later; nothing is thrown.
    void pruneUnitKeys(int days);
    bool pending() const { return !journal_.empty(); }

private:
    using Kind = WriteJournal::Kind;
    Recorded recordPassage(Kind movement, std::int32_t subscriber, std::uint8_t installation);
    // A unit's writes, once, through the records layer.
    void replayUnit(const std::vector<WriteJournal::Entry>& entries, DatabaseCall kind);
    void unitsTableFound(bool found);

    Database& database_;
    std::int16_t installation_;
    WriteJournal& journal_;
    const Clock& clock_;
    const SteadyClock& steadyClock_;
    std::function<void(const QString&)> log_;
    bool drainFailing_ = false;
    std::optional<bool> unitsTable_;
    QDateTime nextPrune_;
    bool pruneFailing_ = false;
};

} // namespace parking

#pragma once
// The statements of what a passage leaves in the database: the stay's row
// in Movimientos_Parking, the free-space count and the passage's key in
// DIARIO_APLICADO, written live or replayed from the journal, and the
// pruning of old keys. Each function is one piece of work on a connection,
// with everything it needs passed in by value: it may run on the
// connection's own thread after its caller stopped waiting for it.
//
// Every server's difference is here: on PostgreSQL a live passage is one
// statement (one round trip), elsewhere one transaction; each catalogue has
// its own question for the keys' table.
#include "Connection.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace parking::records {

// What a journalled write does.
enum class WriteKind { Entrance, Exit, TakeSpace, GiveSpace };

// A passage written live: `unit` is its key, empty where the database
// keeps no keys.
struct Passage {
    bool entrance = true;
    std::int16_t site = 0; // the station's installation
    std::int32_t subscriber = 0;
    std::uint8_t subscriberInstallation = 0;
    QString unit;
};

// The passage's movement and the count's change together; the new count.
std::int16_t writePassage(Connection& c, const Passage& passage);

// One write of the journal, at its own time.
struct JournalledWrite {
    WriteKind kind = WriteKind::Entrance;
    std::int32_t subscriber = 0;
    std::uint8_t installation = 0;
    QDateTime when;
};

// A unit's writes, once: with its key in DIARIO_APLICADO in the same
// transaction when `unit` is given (a unit whose key is there already was
// written whole and is not written again), else each write on its own.
void replayUnit(Connection& c, std::int16_t site, const std::vector<JournalledWrite>& writes, const QString& unit);

// Whether the database has DIARIO_APLICADO, in its own catalogue's words.
bool hasUnitsTable(Connection& c);

// Deletes one batch of keys dated before `before`; whether older keys are
// left after it.
bool pruneUnitKeys(Connection& c, const QDateTime& before);
constexpr int UnitKeyBatch = 500;

} // namespace parking::records

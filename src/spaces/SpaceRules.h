#pragma once
// The free-space count's rules, with no database: what an entrance and an
// exit leave of it, and what the operator may set it to. The records
// layer's statements apply the same rules on the server, atomically
// (records::FreeSpaceCounter); these say them where the program must know
// the answer without asking (a passage kept in the journal, the count
// typed by the operator).
#include <QString>

#include <cstdint>
#include <optional>

namespace parking::spaces {

// One space taken: never below 0 (a count already below is 0 after it).
int afterEntrance(int freeSpaces);
// One space given back: never above the capacity.
int afterExit(int freeSpaces, int capacity);

// What the operator typed into "Actualiza Plazas", read as a count to set:
// a whole number from 0 up; whether the capacity allows it is the
// database's to say.
struct Typed {
    std::optional<std::int16_t> count; // nullopt: nothing to set
    // The text was more than digits (worth a log line): not an empty box,
    // nor digits beyond any count.
    bool malformed = false;
};
Typed readTypedCount(const QString& text);

} // namespace parking::spaces

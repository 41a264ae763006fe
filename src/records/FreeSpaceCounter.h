#pragma once
// The statements of the installation's free-space count
// (INSTALACIONES.PLAZAS_LIBRES), by the rules of spaces::: one space taken
// at each granted entrance, never below 0; one given back at each exit,
// never above the capacity; set by the operator up to the capacity.
//
// Each change is one UPDATE that computes the new count from the one in the
// row, keeping its bounds, so two workstations changing it at once can
// neither lose a change nor wait on each other's snapshot; the new count is
// read back after it (in the caller's transaction, when there is one).
#include "Connection.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace parking::records {

class FreeSpaceCounter {
public:
    FreeSpaceCounter(Connection& connection, std::int16_t installation)
        : connection_(connection), installation_(installation) {}

    // The new count. Throws DatabaseError when the row cannot be read or
    // written.
    std::int16_t decrement();
    std::int16_t increment();

    // The operator's setting of a count from 0 up. Returns the count now in
    // the database, or nullopt when the setting was refused (above the
    // capacity) and nothing was written.
    std::optional<std::int16_t> set(std::int16_t requested);

    // The new count as SQL, from the row's own: one taken (never below 0,
    // a count already below is set to 0, as it always was), one given back
    // (never above the capacity).
    static QString takeOne();
    static QString giveOne();

private:
    std::int16_t change(const QString& newValue);

    Connection& connection_;
    std::int16_t installation_;
};

} // namespace parking::records

#pragma once
// The installation's free-space count (INSTALACIONES.PLAZAS_LIBRES): one
// space taken at each granted entrance, never below 0; one given back at
// each exit, never above the capacity; set by the operator up to the
// capacity.
//
// Each change reads the row, changes it and writes it back through an
// optimistic update. When another workstation changed the row in between,
// the change is read and made again, so no entrance or exit is ever lost
// from the count.
#include "Connection.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace parking {

class FreeSpaceCounter {
public:
    static constexpr int MaxAttempts = 20;

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

private:
    template <class Change>
    std::int16_t change(const QString& sql, Change compute);

    Connection& connection_;
    std::int16_t installation_;
};

} // namespace parking

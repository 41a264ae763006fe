#pragma once
// What a station guards. The configuration names stations by number; this
// is the one place a number becomes a role: station 1 guards the entrance,
// every other number the exit.
#include <cstddef>

namespace parking {

enum class StationRole { Entrance, Exit };

constexpr StationRole roleOf(int station)
{
    return station == 1 ? StationRole::Entrance : StationRole::Exit;
}

// The index of a station's entry in a pair kept for both.
constexpr std::size_t stationIndex(int station)
{
    return roleOf(station) == StationRole::Entrance ? 0 : 1;
}

} // namespace parking

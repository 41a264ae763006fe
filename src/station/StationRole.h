#pragma once
// What a station guards. The configuration, scripts, the log and the trace
// name stations by number; this is the one place a number becomes a role
// and a role a number: station 1 guards the entrance, every other number
// the exit.
#include <array>
#include <cstddef>
#include <optional>

namespace parking {

enum class StationRole { Entrance, Exit };

inline constexpr std::array<StationRole, 2> BothStations{StationRole::Entrance, StationRole::Exit};

constexpr StationRole roleOf(int station)
{
    return station == 1 ? StationRole::Entrance : StationRole::Exit;
}

// A number given from outside (a request of the remote console): only 1 or
// 2 name a station there.
constexpr std::optional<StationRole> strictRoleOf(int station)
{
    if (station == 1 || station == 2)
        return roleOf(station);
    return std::nullopt;
}

// The number the log, the trace and the metrics name the station by.
constexpr int stationNumber(StationRole role)
{
    return role == StationRole::Entrance ? 1 : 2;
}

// The index of a station's entry in a pair kept for both.
constexpr std::size_t roleIndex(StationRole role)
{
    return role == StationRole::Entrance ? 0 : 1;
}

constexpr std::size_t stationIndex(int station)
{
    return roleIndex(roleOf(station));
}

} // namespace parking

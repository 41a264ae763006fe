#pragma once
// What a call on the database is for: each kind has its own deadline, and
// the metrics count the calls that passed it by kind.
#include <QString>

#include <array>

namespace parking {

enum class DatabaseCall {
    Decision,     // an entrance's facts, read in one statement
    CardLookUp,   // a card's holder
    PassageWrite, // a passage's movement and count
    Replay,       // a journalled unit written again, old keys pruned
    FreeSpaces,   // the operator's free-space setting
    StartUp,      // start-up's rows, the demo's lists
    Probe,        // the probe's statement
    Reconnection, // a new connection's login
    Replica       // the local replica's refresh, on a connection of its own
};

inline constexpr std::array<DatabaseCall, 9> AllDatabaseCalls{
    DatabaseCall::Decision, DatabaseCall::CardLookUp, DatabaseCall::PassageWrite,
    DatabaseCall::Replay,   DatabaseCall::FreeSpaces, DatabaseCall::StartUp,
    DatabaseCall::Probe,    DatabaseCall::Reconnection, DatabaseCall::Replica};

// The metrics' label for a kind ("decision", "card", ...).
inline QString callLabel(DatabaseCall call)
{
    switch (call) {
    case DatabaseCall::Decision:
        return QStringLiteral("decision");
    case DatabaseCall::CardLookUp:
        return QStringLiteral("card");
    case DatabaseCall::PassageWrite:
        return QStringLiteral("passage");
    case DatabaseCall::Replay:
        return QStringLiteral("replay");
    case DatabaseCall::FreeSpaces:
        return QStringLiteral("spaces");
    case DatabaseCall::StartUp:
        return QStringLiteral("startup");
    case DatabaseCall::Probe:
        return QStringLiteral("probe");
    case DatabaseCall::Reconnection:
        return QStringLiteral("connect");
    case DatabaseCall::Replica:
        return QStringLiteral("replica");
    }
    return QStringLiteral("other");
}

} // namespace parking

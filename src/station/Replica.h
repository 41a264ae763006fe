#pragma once
// The local replica of what an entrance's decision reads ([SinConexion]):
// refreshed from the server every Refresco= seconds on a connection and a
// thread of its own (Database::runAside), never on a passage's path, and
// read when the server does not answer a decision in time. A refresh
// builds a whole new file beside the old one and renames it into place, so
// a decision reads the whole new copy or the whole previous one, and a
// refresh cut short (an outage, a kill) leaves the previous one deciding.
//
// A refresh is incremental (every table read again but the entries, and
// the entries since the previous refresh) unless the copy is missing, the
// month turned, or the last complete refresh is older than CompleteEvery.
//
// The replica's SYSDATE is the workstation's clock corrected by the offset
// to the server's measured at the refresh. Past EdadMaxima= hours since the
// last complete refresh, or without a replica, there is no offline
// decision.
#include "AccessFacts.h"
#include "CardRecords.h"
#include "Clock.h"
#include "Configuration.h"
#include "Database.h"
#include "ReplicaRecords.h"
#include "Result.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace parking {

class Replica {
public:
    // `log` gets the replica's log lines; `changed` runs after each refresh
    // and each load (its state for the status page).
    Replica(ReplicaSettings settings, std::int16_t installation, Database& database, const Clock& clock,
            const SteadyClock& steadyClock, std::function<void(const QString&)> log);
    ~Replica();
    Replica(const Replica&) = delete;
    Replica& operator=(const Replica&) = delete;

    bool enabled() const { return settings_.decide; }
    // Runs after each refresh and load (the replica's state for the status page).
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }
    const ReplicaSettings& settings() const { return settings_; }
    // Whether it decides, how often it refreshes and how old it may be,
    // from now on (a reload); the file stays the one opened.
    void setSettings(const ReplicaSettings& settings);

    // Opens the replica already on disk, if any (at start-up).
    void load();
    // Starts a refresh unless one runs; returns at once.
    void refresh();
    bool refreshing() const { return refreshing_; }
    // Whether the next refresh is a complete one.
    bool nextIsComplete() const;

    // The facts of an offline decision, or why there are none.
    Result<AccessFacts> facts(std::int32_t subscriber, std::int32_t installation, std::int16_t site);
    // A card's holder from the replica, or why it cannot say.
    Result<records::CardHolder> cardHolder(const QString& cardCode);

    // What the replica says of itself (nothing: no usable replica).
    const std::optional<records::ReplicaInfo>& info() const { return info_; }
    // Seconds since the last refresh, by the workstation's clock.
    std::optional<qint64> ageSeconds() const;
    // How long the last refresh took.
    std::optional<std::chrono::duration<double>> lastRefreshTook() const { return lastTook_; }

    // The longest a replica goes without a complete refresh while the
    // server answers (half of EdadMaxima= when that is shorter).
    static constexpr std::chrono::minutes CompleteEvery{60};

private:
    class ServerClock;
    Result<Connection*> usable();
    void refreshed(std::exception_ptr error, SteadyClock::TimePoint started, bool complete);

    ReplicaSettings settings_;
    std::int16_t installation_;
    Database& database_;
    const Clock& clock_;
    const SteadyClock& steadyClock_;
    std::function<void(const QString&)> log_;
    std::function<void()> changed_;
    std::unique_ptr<ServerClock> serverClock_;
    std::unique_ptr<Connection> connection_;
    std::optional<records::ReplicaInfo> info_;
    std::optional<std::chrono::duration<double>> lastTook_;
    bool refreshing_ = false;
    bool forceComplete_ = false; // the last incremental refresh failed
};

} // namespace parking

#pragma once
// What the status page and the metrics show: a snapshot of the stations,
// the database and the count, kept current from the stations' facts as
// they happen (on the user-interface thread) and copied whole by whoever
// serves it (on another thread). Reading it never waits on the database or
// on a passage: the lock is held only for a copy or a small change.
//
// Nothing here can open a barrier or change the count; it only watches.
// Of a subscriber it keeps what the access grid shows: the code and the
// display message, never a name. How any of it is written out (JSON, the
// metrics' names) is the web front end's business.
#include "Clock.h"
#include "StationEvents.h"

#include <QDateTime>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace parking {

struct StatusGridRow {
    QTime time;
    StationRole station = StationRole::Entrance;
    std::int32_t subscriber = 0;
    QString text;
    bool red = false;
};

struct StationStatus {
    bool readerOnline = false;
    QDateTime readerSince; // when it last went online or offline; invalid before the first
    SecureChannelState secureChannel = SecureChannelState::None;
    QString display; // what the display was last given
    std::uint64_t offlineTransitions = 0;
    // What a supervised reader says of itself (unknown: none said yet).
    std::optional<bool> tamper;
    std::optional<bool> powerOk;
    bool installKeyOnly = false;            // answers only the install key while a key is stored
    std::map<Outcome, std::uint64_t> passages; // every outcome the station can have, from zero
};

// The outcomes a station can have: at the exit only Granted and Error.
std::vector<Outcome> outcomesOf(StationRole station);

// The rights decision's latency, in Prometheus's histogram buckets.
struct DecisionHistogram {
    static constexpr std::array<double, 11> Bounds{0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                                   0.05,   0.1,   0.25,   0.5,   1.0};
    std::array<std::uint64_t, Bounds.size()> buckets{}; // per bucket, not cumulative
    std::uint64_t count = 0;
    double sum = 0;
    void add(double seconds);
};

struct StatusSnapshot {
    QString version;
    QDateTime startedAt;
    QString installation;
    int capacity = -1;   // -1: not read yet
    int freeSpaces = -1; // -1: not read yet
    bool inService = false;
    std::array<StationStatus, 2> stations; // by roleIndex
    bool databaseConnected = false;        // the database answers
    QDateTime outageSince;                 // invalid: no outage now
    std::uint64_t probeFailures = 0;
    double pastOutageSeconds = 0; // of the outages that ended
    std::map<DatabaseCall, std::uint64_t> deadlinesExceeded; // every kind, from zero
    std::size_t journalPending = 0;
    // The local replica ([SinConexion] Decidir=1).
    bool replicaEnabled = false;
    QDateTime replicaRefreshedAt;           // invalid: no usable replica
    std::optional<double> replicaRefreshSeconds; // how long the last refresh took
    QDateTime replicaCompleteAt;            // the last complete refresh
    qint64 replicaMaxAgeSeconds = 0;
    std::uint64_t offlineDecisionsThisOutage = 0;   // since the outage began
    std::map<bool, std::uint64_t> offlineDecisions; // by granted, from zero
    std::deque<StatusGridRow> grid; // newest first
    DecisionHistogram decisions;

    const StationStatus& station(StationRole role) const { return stations[roleIndex(role)]; }
    // Every outage's seconds, the one going on included.
    double outageSeconds(const QDateTime& now) const;
};

class StatusBoard {
public:
    // As many grid rows as the operator window shows.
    static constexpr std::size_t GridRows = 23;

    StatusBoard(const Clock& clock, QString version);

    StatusSnapshot snapshot() const;
    const Clock& clock() const { return clock_; }

    void setInstallation(const QString& name, int capacity);
    void setFreeSpaces(int value);
    void setInService(bool inService);

    void setReaderOnline(StationRole station, bool online);
    void setSecureChannel(StationRole station, SecureChannelState state);
    void setDisplay(StationRole station, const QString& text);
    void setReaderCondition(StationRole station, std::optional<bool> tamper, std::optional<bool> powerOk,
                            bool installKeyOnly);
    void countPassage(StationRole station, Outcome outcome);
    void decisionTook(double seconds);

    // Whether the database answers, since `since` (the clock's now when
    // not given).
    void setDatabaseConnected(bool connected, const QDateTime& since = {});
    void probeFailed();
    void deadlineExceeded(DatabaseCall call);
    void setJournalPending(std::size_t pending);
    void addGridRow(const StatusGridRow& row);
    void setReplica(const ReplicaState& state);
    void countOfflineDecision(bool granted);

private:
    StationStatus& station(StationRole role) { return s_.stations[roleIndex(role)]; }

    const Clock& clock_;
    mutable std::mutex mutex_;
    StatusSnapshot s_;
};

// The status board as a listener of the stations' facts.
class StatusBoardView final : public StationEvents {
public:
    explicit StatusBoardView(StatusBoard& board) : board_(board) {}
    void readerOnline(StationRole station, bool online) override { board_.setReaderOnline(station, online); }
    void secureChannelChanged(StationRole station, SecureChannelState state) override
    {
        board_.setSecureChannel(station, state);
    }
    void readerConditionChanged(StationRole station, const ReaderCondition& c) override
    {
        board_.setReaderCondition(station, c.known ? std::optional(c.tamper) : std::nullopt,
                                  c.known ? std::optional(c.powerOk) : std::nullopt, c.installKeyOnly);
    }
    void readerActed(StationRole station, const ReaderAction& action) override
    {
        if (action.kind == ReaderAction::Kind::Shown)
            board_.setDisplay(station, action.text);
    }
    void passageEnded(StationRole station, Outcome outcome) override { board_.countPassage(station, outcome); }
    void decisionMade(std::chrono::duration<double> time) override { board_.decisionTook(time.count()); }
    void freeSpacesChanged(int freeSpaces) override { board_.setFreeSpaces(freeSpaces); }
    void installationRead(const QString& name, int capacity, int) override { board_.setInstallation(name, capacity); }
    void inServiceChanged(bool inService) override { board_.setInService(inService); }
    void gridRowWritten(int, const AccessRow& a, bool red) override
    {
        board_.addGridRow({a.time, a.station, a.subscriber, a.text, red});
    }
    void databaseStateChanged(DatabaseState state, const QDateTime& since) override
    {
        board_.setDatabaseConnected(state == DatabaseState::Answering, since);
    }
    void probeFailed() override { board_.probeFailed(); }
    void databaseDeadlineExceeded(DatabaseCall call) override { board_.deadlineExceeded(call); }
    void journalPendingChanged(std::size_t pending) override { board_.setJournalPending(pending); }
    void replicaChanged(const ReplicaState& state) override { board_.setReplica(state); }
    void offlineDecision(StationRole, Outcome outcome) override
    {
        board_.countOfflineDecision(outcome == Outcome::Granted);
    }

private:
    StatusBoard& board_;
};

} // namespace parking

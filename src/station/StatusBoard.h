#pragma once
// What the status page and the metrics show: a snapshot of the stations,
// the database and the count, kept current by the stations as things
// happen (on the user-interface thread) and copied whole by whoever serves
// it (on another thread). Reading it never waits on the database or on a
// passage: the lock is held only for a copy or a small change.
//
// Nothing here can open a barrier or change the count; it only watches.
// Of a subscriber it keeps what the access grid shows: the code and the
// display message, never a name.
#include "AccessResult.h"
#include "StationView.h"
#include "Clock.h"

#include <QDateTime>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

namespace parking {

struct StatusGridRow {
    QTime time;
    int station = 0;
    std::int32_t subscriber = 0;
    QString text;
    bool red = false;
};

struct StationStatus {
    bool readerOnline = false;
    QDateTime readerSince;  // when it last went online or offline; invalid before the first
    QString secureChannel;  // "none", "off", "established", "waiting"
    QString display;        // what the display was last given
    std::uint64_t offlineTransitions = 0;
    // What a supervised reader says of itself (unknown: none said yet).
    std::optional<bool> tamper;
    std::optional<bool> powerOk;
    bool installKeyOnly = false; // answers only the install key while a key is stored
    std::map<QString, std::uint64_t> passages; // outcome -> count
};

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
    std::array<StationStatus, 2> stations;
    bool databaseConnected = false;
    QDateTime outageSince; // invalid: no outage now
    std::uint64_t probeFailures = 0;
    std::map<DatabaseCall, std::uint64_t> deadlinesExceeded; // every kind, from zero
    double pastOutageSeconds = 0; // of the outages that ended
    std::size_t journalPending = 0;
    std::deque<StatusGridRow> grid; // newest first
    DecisionHistogram decisions;

    // Every outage's seconds, the one going on included.
    double outageSeconds(const QDateTime& now) const;
};

// The outcome names of passages, as the metrics label them.
namespace outcome {
inline const QString Granted = QStringLiteral("granted");
inline const QString Full = QStringLiteral("full");
inline const QString Error = QStringLiteral("error");
} // namespace outcome
// "granted", or the refusal's name ("unknown_subscriber", ...).
QString outcomeName(AccessResult result);

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

    void setReaderOnline(int station, bool online);
    void setSecureChannel(int station, const QString& state);
    void setDisplay(int station, const QString& text);
    void setReaderCondition(int station, std::optional<bool> tamper, std::optional<bool> powerOk, bool installKeyOnly);
    void countPassage(int station, const QString& outcomeName);
    void decisionTook(double seconds);

    void setDatabaseConnected(bool connected);
    void probeFailed();
    void deadlineExceeded(DatabaseCall call);
    void setJournalPending(std::size_t pending);
    void addGridRow(const StatusGridRow& row);

private:
    StationStatus& station(int number);

    const Clock& clock_;
    mutable std::mutex mutex_;
    StatusSnapshot s_;
};

// The status board as a subscriber of the stations' events: the lights,
// the count, the grid and the database's state as they are shown.
class StatusBoardView final : public StationView {
public:
    explicit StatusBoardView(StatusBoard& board) : board_(board) {}
    void setLights(int station, bool greenVisible, bool) override { board_.setReaderOnline(station, greenVisible); }
    void setFreeSpacesCaption(int freeSpaces) override { board_.setFreeSpaces(freeSpaces); }
    void gridRowWritten(int, const AccessRow& a, bool red) override
    {
        board_.addGridRow({a.time, a.station, a.subscriber, a.text, red});
    }
    void displayShown(int station, const QString& text) override { board_.setDisplay(station, text); }
    void secureChannelChanged(int station, const QString& state) override { board_.setSecureChannel(station, state); }
    void readerConditionChanged(int station, std::optional<bool> tamper, std::optional<bool> powerOk,
                                bool installKeyOnly) override
    {
        board_.setReaderCondition(station, tamper, powerOk, installKeyOnly);
    }
    void passageCounted(int station, const QString& outcome) override { board_.countPassage(station, outcome); }
    void decisionTimed(double seconds) override { board_.decisionTook(seconds); }
    void installationRead(const QString& name, int capacity) override { board_.setInstallation(name, capacity); }
    void inServiceChanged(bool inService) override { board_.setInService(inService); }
    void journalPendingChanged(std::size_t pending) override { board_.setJournalPending(pending); }
    void databaseOpened() override { board_.setDatabaseConnected(true); }
    void probeFailed() override { board_.probeFailed(); }
    void databaseAnswering(bool answering) override { board_.setDatabaseConnected(answering); }
    void databaseDeadlineExceeded(DatabaseCall call) override { board_.deadlineExceeded(call); }

private:
    StatusBoard& board_;
};

} // namespace parking

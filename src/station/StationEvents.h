#pragma once
// What the station core says happened, as facts with typed values, and the
// fan-out to whoever listens. The core never touches a widget and never
// says how a fact is shown: the trace writes its "> " lines, the status
// board keeps its snapshot, the window chooses its lights, icons, titles,
// beeps and progress window, each from the same facts. Headless is a run
// without the window listening, not a null pointer checked everywhere.
#include "AccessResult.h"
#include "DatabaseCall.h"
#include "DatabaseEvents.h"
#include "ReaderControl.h"
#include "StationRole.h"

#include <QDateTime>
#include <QString>
#include <QTime>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parking {

// One row of the access grid.
struct AccessRow {
    std::int32_t subscriber = 0;
    QString text; // the 32-character message, trailing blanks included
    QTime time;
    StationRole station = StationRole::Entrance;
};

// How a passage ended.
enum class Outcome {
    Granted,
    Full,  // the car park was full
    Error, // a database or device fault ended it
    SubscriberUnknown,
    OutsideTimetable,
    ReceiptsUnpaid,
    FeeNotCurrent,
    SubscriberBlocked,
    OutsideFeeHours,
    EntryTooSoon,
};
Outcome outcomeOf(AccessResult result);

// Something the operator is told at once.
struct Alert {
    enum class Kind {
        CarParkFull,      // "NO HAY PLAZAS LIBRES"
        SpacesNotUpdated, // the operator's count was refused
        NoDataSource,     // start-up: no SID; the program ends
        NoDatabase,       // start-up: the database cannot be reached; the program ends
        BadConfiguration, // start-up: the configuration file cannot be used; the program ends
    };
    Kind kind = Kind::CarParkFull;
    QString text; // in the system's own words
};

// The local replica as it stands, after a refresh or a load.
struct ReplicaState {
    bool enabled = false;
    QDateTime refreshedAt;            // invalid: no usable replica
    std::optional<double> refreshSeconds; // how long the last refresh took
    QDateTime completeAt;             // the last complete refresh; invalid: none
    qint64 maxAgeSeconds = 0;         // EdadMaxima=, past which it no longer decides
};

class StationEvents {
public:
    virtual ~StationEvents() = default;

    // The reader's state as it stands: at start-up and at every report the
    // reader makes (down, or answering again), changed or not.
    virtual void readerOnline(StationRole /*station*/, bool /*online*/) {}
    virtual void secureChannelChanged(StationRole /*station*/, SecureChannelState /*state*/) {}
    // Tamper, power and the install-key alert, as the reader last said.
    virtual void readerConditionChanged(StationRole /*station*/, const ReaderCondition& /*condition*/) {}
    // An operation carried out on the station's reader (a port opened, a
    // relay pulsed, a text shown, ...).
    virtual void readerActed(StationRole /*station*/, const ReaderAction& /*action*/) {}

    virtual void passageEnded(StationRole /*station*/, Outcome /*outcome*/) {}
    // An entrance decided from the replica, the server not answering.
    virtual void offlineDecision(StationRole /*station*/, Outcome /*outcome*/) {}
    virtual void replicaChanged(const ReplicaState& /*state*/) {}
    // The entrance's rights decision took `time`.
    virtual void decisionMade(std::chrono::duration<double> /*time*/) {}
    // The free-space count as last counted (the caption shows it).
    virtual void freeSpacesChanged(int /*freeSpaces*/) {}
    // The operator's count was refused: what was typed is gone.
    virtual void freeSpacesSettingRefused() {}
    // The installation's row at start-up (capacity -1: not known).
    virtual void installationRead(const QString& /*name*/, int /*capacity*/, int /*freeSpaces*/) {}
    virtual void inServiceChanged(bool /*inService*/) {}
    // The stations closed ("Salir", the close box, a stop signal).
    virtual void stationsClosed() {}

    // A line written to the event log.
    virtual void logWritten(const QString& /*line*/) {}
    // The access grid now has `rowCount` blank rows; a row was written.
    virtual void gridReset(int /*rowCount*/) {}
    virtual void gridRowWritten(int /*row*/, const AccessRow& /*access*/, bool /*red*/) {}
    virtual void alerted(const Alert& /*alert*/) {}

    virtual void databaseStateChanged(DatabaseState /*state*/, const QDateTime& /*since*/) {}
    // A probe found the database not answering.
    virtual void probeFailed() {}
    // A call on the database was not answered within its deadline.
    virtual void databaseDeadlineExceeded(DatabaseCall /*call*/) {}
    // Writes waiting in the journal for the database.
    virtual void journalPendingChanged(std::size_t /*pending*/) {}
};

// Every fact to each listener, in the order they subscribed.
class StationOutputs final : public StationEvents {
public:
    void subscribe(StationEvents* listener);
    void unsubscribe(StationEvents* listener);

    void readerOnline(StationRole station, bool online) override;
    void secureChannelChanged(StationRole station, SecureChannelState state) override;
    void readerConditionChanged(StationRole station, const ReaderCondition& condition) override;
    void readerActed(StationRole station, const ReaderAction& action) override;
    void passageEnded(StationRole station, Outcome outcome) override;
    void offlineDecision(StationRole station, Outcome outcome) override;
    void replicaChanged(const ReplicaState& state) override;
    void decisionMade(std::chrono::duration<double> time) override;
    void freeSpacesChanged(int freeSpaces) override;
    void freeSpacesSettingRefused() override;
    void installationRead(const QString& name, int capacity, int freeSpaces) override;
    void inServiceChanged(bool inService) override;
    void stationsClosed() override;
    void logWritten(const QString& line) override;
    void gridReset(int rowCount) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alerted(const Alert& alert) override;
    void databaseStateChanged(DatabaseState state, const QDateTime& since) override;
    void probeFailed() override;
    void databaseDeadlineExceeded(DatabaseCall call) override;
    void journalPendingChanged(std::size_t pending) override;

private:
    // To a copy of the list: a listener may come or go while one is told.
    template <typename Call>
    void tell(const Call& call)
    {
        for (StationEvents* l : std::vector<StationEvents*>(listeners_))
            call(*l);
    }

    std::vector<StationEvents*> listeners_;
};

// The headless stream: every event-log line as written, and a "> " line for
// each thing commanded or shown. The only place that writes "> ".
class TraceView final : public StationEvents {
public:
    explicit TraceView(std::function<void(const QString&)> sink) : sink_(std::move(sink)) {}

    void readerOnline(StationRole station, bool online) override;
    void readerActed(StationRole station, const ReaderAction& action) override;
    void freeSpacesChanged(int freeSpaces) override;
    void logWritten(const QString& line) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alerted(const Alert& alert) override;
    void databaseStateChanged(DatabaseState state, const QDateTime& since) override;

private:
    void shown(const QString& what) { sink_(QStringLiteral("> ") + what); }

    std::function<void(const QString&)> sink_;
    bool progressShown_ = false;
};

} // namespace parking

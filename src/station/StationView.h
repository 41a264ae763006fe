#pragma once
// What the station logic reports, and the subscribers that render it. The
// logic never touches a widget.
#include "DatabaseCall.h"
#include "StationRole.h"

#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parking {

struct AccessRow {
    std::int32_t subscriber = 0;
    QString text; // the 32-character message, trailing blanks included
    QTime time;
    int station = 0;
};

enum class AlertIcon { None, Critical };

// What the stations report as it happens, with its payload. Subscribers
// take what concerns them and ignore the rest: the trace (TraceView, the
// headless stream), the operator window. Headless is a run without the
// window subscriber, not a null pointer checked everywhere.
class StationView {
public:
    virtual ~StationView() = default;
    // The station's two light images; the one on top (green) shows when visible.
    virtual void setLights(int /*station*/, bool /*greenVisible*/, bool /*redVisible*/) {}
    // The caption "PLAZAS LIBRES" shows `freeSpaces`.
    virtual void setFreeSpacesCaption(int /*freeSpaces*/) {}
    // The operator's free-space box ("Actualiza Plazas") holds `text`.
    virtual void setFreeSpacesText(const QString& /*text*/) {}
    // A line written to the event log.
    virtual void logWritten(const QString& /*line*/) {}
    // The grid now has `rowCount` blank rows.
    virtual void gridReset(int /*rowCount*/) {}
    virtual void gridRowWritten(int /*row*/, const AccessRow& /*access*/, bool /*red*/) {}
    // A message for the operator, shown without waiting for it.
    virtual void alert(const QString& /*text*/, const QString& /*title*/, AlertIcon /*icon*/) {}
    virtual void beep() {}
    virtual void showProgress() {}
    virtual void hideProgress() {}
    virtual void closeWindow() {}
    // What a reader was told or told us ("relay 1 0 6", "display 2 |...|").
    virtual void readerTraced(const QString& /*what*/) {}

    // What the status page keeps (the trace and the window show these in
    // their own ways, or not at all).
    // The display now shows `text` (after the reader's own changes).
    virtual void displayShown(int /*station*/, const QString& /*text*/) {}
    // The reader's Secure Channel: "none", "off", "waiting", "established".
    virtual void secureChannelChanged(int /*station*/, const QString& /*state*/) {}
    // Tamper and power as the reader last said (nullopt: not said yet).
    virtual void readerConditionChanged(int /*station*/, std::optional<bool> /*tamper*/, std::optional<bool> /*powerOk*/,
                                        bool /*installKeyOnly*/) {}
    // A passage ended with `outcome` (the metrics' name for it).
    virtual void passageCounted(int /*station*/, const QString& /*outcome*/) {}
    // The entrance's rights decision took `seconds`.
    virtual void decisionTimed(double /*seconds*/) {}
    // The installation's name and capacity (-1: not known) were read.
    virtual void installationRead(const QString& /*name*/, int /*capacity*/) {}
    virtual void inServiceChanged(bool /*inService*/) {}
    // Writes waiting in the journal for the database.
    virtual void journalPendingChanged(std::size_t /*pending*/) {}
    // The database answered at start-up; a probe found it not answering.
    virtual void databaseOpened() {}
    virtual void probeFailed() {}
    // The database answers again (true), or stopped answering (false: a
    // call's deadline passed or a probe failed).
    virtual void databaseAnswering(bool /*answering*/) {}
    // A call on the database was not answered within its deadline.
    virtual void databaseDeadlineExceeded(DatabaseCall /*call*/) {}
};

// Every event to each subscriber, in the order they subscribed.
class StationOutputs final : public StationView {
public:
    void subscribe(StationView* view);
    void unsubscribe(StationView* view);

    void setLights(int station, bool greenVisible, bool redVisible) override;
    void setFreeSpacesCaption(int freeSpaces) override;
    void setFreeSpacesText(const QString& text) override;
    void logWritten(const QString& line) override;
    void gridReset(int rowCount) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alert(const QString& text, const QString& title, AlertIcon icon) override;
    void beep() override;
    void showProgress() override;
    void hideProgress() override;
    void closeWindow() override;
    void readerTraced(const QString& what) override;
    void displayShown(int station, const QString& text) override;
    void secureChannelChanged(int station, const QString& state) override;
    void readerConditionChanged(int station, std::optional<bool> tamper, std::optional<bool> powerOk,
                                bool installKeyOnly) override;
    void passageCounted(int station, const QString& outcome) override;
    void decisionTimed(double seconds) override;
    void installationRead(const QString& name, int capacity) override;
    void inServiceChanged(bool inService) override;
    void journalPendingChanged(std::size_t pending) override;
    void databaseOpened() override;
    void probeFailed() override;
    void databaseAnswering(bool answering) override;
    void databaseDeadlineExceeded(DatabaseCall call) override;

private:
    // To a copy of the list: a subscriber may come or go while one is told.
    template <typename Call>
    void tell(const Call& call)
    {
        for (StationView* v : std::vector<StationView*>(views_))
            call(*v);
    }

    std::vector<StationView*> views_;
};

// The headless stream: every event-log line as written, and a "> " line for
// each thing commanded or shown. The only place that writes "> ".
class TraceView final : public StationView {
public:
    explicit TraceView(std::function<void(const QString&)> sink) : sink_(std::move(sink)) {}

    void setLights(int station, bool greenVisible, bool redVisible) override;
    void setFreeSpacesCaption(int freeSpaces) override;
    void logWritten(const QString& line) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alert(const QString& text, const QString& title, AlertIcon icon) override;
    void showProgress() override;
    void hideProgress() override;
    void readerTraced(const QString& what) override;

private:
    void shown(const QString& what) { sink_(QStringLiteral("> ") + what); }

    std::function<void(const QString&)> sink_;
};

} // namespace parking

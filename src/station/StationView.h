#pragma once
// What the station logic reports, and the subscribers that render it. The
// logic never touches a widget.
#include "StationRole.h"
#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <functional>
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
    // A line written to the event log; `cleared` when the log was emptied first.
    virtual void logWritten(const QString& /*line*/, bool /*cleared*/) {}
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
};

// Every event to each subscriber, in the order they subscribed.
class StationOutputs final : public StationView {
public:
    void subscribe(StationView* view);
    void unsubscribe(StationView* view);

    void setLights(int station, bool greenVisible, bool redVisible) override;
    void setFreeSpacesCaption(int freeSpaces) override;
    void setFreeSpacesText(const QString& text) override;
    void logWritten(const QString& line, bool cleared) override;
    void gridReset(int rowCount) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alert(const QString& text, const QString& title, AlertIcon icon) override;
    void beep() override;
    void showProgress() override;
    void hideProgress() override;
    void closeWindow() override;
    void readerTraced(const QString& what) override;

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
    void logWritten(const QString& line, bool cleared) override;
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

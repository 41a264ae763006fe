#pragma once
// What the station logic shows the operator. The widgets window and the
// headless trace are two implementations; the logic never touches a widget.
#include "StationRole.h"
#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>

namespace parking {

struct AccessRow {
    std::int32_t subscriber = 0;
    QString text; // the 32-character message, trailing blanks included
    QTime time;
    int station = 0;
};

enum class AlertIcon { None, Critical };

class StationView {
public:
    virtual ~StationView() = default;
    // The station's two light images; the one on top (green) shows when visible.
    virtual void setLights(int station, bool greenVisible, bool redVisible) = 0;
    // The caption "PLAZAS LIBRES" shows `freeSpaces`.
    virtual void setFreeSpacesCaption(int freeSpaces) = 0;
    // The operator's free-space box ("Actualiza Plazas") holds `text`.
    virtual void setFreeSpacesText(const QString& text) = 0;
    // A line written to the event log; `cleared` when the log was emptied first.
    virtual void logWritten(const QString& line, bool cleared) = 0;
    // The grid now has `rowCount` blank rows.
    virtual void gridReset(int rowCount) = 0;
    virtual void gridRowWritten(int row, const AccessRow& access, bool red) = 0;
    // A message box; returns when the operator has closed it.
    virtual void alert(const QString& text, const QString& title, AlertIcon icon) = 0;
    virtual void beep() = 0;
    virtual void showProgress() = 0;
    virtual void hideProgress() = 0;
    virtual void closeWindow() = 0;
};

} // namespace parking

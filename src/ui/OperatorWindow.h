#pragma once
// The operator window: shows what the stations do and forwards the
// operator's clicks and keys to the StationController. It decides nothing.
//
// Widget object names are the ones installers' tools and the tests find the
// controls by; the layout is in twips (15 to a pixel), one table for every
// control.
#include "ConnectionProgressDialog.h"
#include "ScriptPlayer.h"
#include "StationEvents.h"
#include "WindowLayout.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <span>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QTableWidget;

namespace parking {

class StationController;

class OperatorWindow : public QWidget, public StationEvents, public OperatorActions {
    Q_OBJECT
public:
    explicit OperatorWindow(StationController& controller, QWidget* parent = nullptr);
    ~OperatorWindow() override;

    // The window's controls outside the tab control's pages, and the lights.
    static std::span<const ControlPlacement> layout();
    // The window's log is emptied when a line arrives while it holds more.
    static constexpr qsizetype LogLimit = 5000;
    // Whether a key typed into the free-space box goes in (digits and
    // backspace); any other key beeps.
    static bool acceptsFreeSpacesKey(QChar key);
    // What the window's log holds and the free-space box says.
    QString logText() const;
    QString freeSpacesText() const;

    // The window's title, and the one its message boxes carry.
    static inline const QString Title = QStringLiteral("Parking");
    // The title while the gate decides from its replica, until the server answers.
    static inline const QString OfflineTitle = QStringLiteral("Parking - DECIDE SIN CONEXIÓN");

    // StationEvents: what the window shows of them.
    void readerOnline(StationRole station, bool online) override;
    void freeSpacesChanged(int freeSpaces) override;
    void freeSpacesSettingRefused() override;
    void installationRead(const QString& name, int capacity, int freeSpaces) override;
    void logWritten(const QString& line) override;
    void gridReset(int rowCount) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alerted(const Alert& alert) override;
    void databaseStateChanged(DatabaseState state, const QDateTime& since) override;
    void offlineDecision(StationRole station, Outcome outcome) override;
    void stationsClosed() override;

    // OperatorActions: the script clicks the real buttons.
    void openBarrier(int station) override;
    void updateSpaces(const QString& digits) override;
    void quit() override;

    ConnectionProgressDialog* progressWindow() const { return progress_; }
    // Message boxes answer themselves (tests, scripted runs).
    void setAlertsAutoClose(bool on) { alertsAutoClose_ = on; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the window shows of one station.
    struct StationControls {
        QPushButton* openButton = nullptr;
        QLabel* green = nullptr;
        QLabel* red = nullptr;
    };

    void build();
    void buildTabs();
    void placeControls();
    void connectControls();
    void showTab(int index);
    StationControls& controlsOf(int station) { return stations_[stationIndex(station)]; }
    StationControls& controlsOf(StationRole station) { return stations_[roleIndex(station)]; }
    void beep();

    StationController& controller_;
    QTabBar* tabs_ = nullptr;
    QWidget* accessPage_ = nullptr;
    QWidget* statusPage_ = nullptr;
    QTableWidget* accessGrid_ = nullptr;
    qsizetype logCharacters_ = 0;
    QPlainTextEdit* eventLog_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    QLabel* freeSpacesCaption_ = nullptr;
    QLineEdit* freeSpacesBox_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    std::array<StationControls, 2> stations_;
    QPointer<ConnectionProgressDialog> progress_;
    bool alertsAutoClose_ = false;
    bool closing_ = false;
};

} // namespace parking

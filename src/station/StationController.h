#pragma once
// The two reader stations and everything the main window does that is not
// drawing: start-up, the event log, the access grid, the barrier relays, the
// display restore timers, the station lights, the connection probe timer and
// closing. The widgets window and the headless run both drive one of these;
// what it shows goes to a StationView.
//
// Every handler runs to completion on the user-interface thread. An error
// that reaches a handler is written to the event log and the log file, ends
// that handler, and never opens a barrier.
#include "AccessGrid.h"
#include "Clock.h"
#include "Connection.h"
#include "ConnectionUi.h"
#include "Database.h"
#include "FixedText.h"
#include "LogFile.h"
#include "MovementRecorder.h"
#include "ReaderControl.h"
#include "Settings.h"
#include "StationView.h"
#include "WriteJournal.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

namespace parking {


class StationController : public QObject, public ConnectionUi {
    Q_OBJECT
public:
    enum class StartUp {
        InService,     // both stations in service
        NoStations,    // the installation runs no readers (or start-up failed): window open, stations idle
        WindowClosed,  // no reader configuration or installation row: the window closed
        Fatal          // no configuration or no database: the program must end
    };

    struct Paths {
        QString configFile;
        QString programFolder;
        QString logFolder;   // empty: no log file
        QString journalFile; // writes waiting for the database
    };

    StationController(Settings& settings, const Clock& workstationClock,
                      ConnectionFactory factory, Paths paths, QObject* parent = nullptr);
    ~StationController() override;

    void setView(StationView* view) { view_ = view; }
    // The ordered stream of everything the stations did: every event-log
    // line as written, and a "> " line for each command or thing shown.
    void setTraceSink(std::function<void(const QString&)> sink) { traceSink_ = std::move(sink); }

    // The main window's load handler: brings both stations into service.
    StartUp Form_Load();
    // The main window's unload handler ("Salir" or the close box).
    void Form_Unload();

    // Operator actions.
    void cmdAbrirPuerta1_Click();
    void cmdAbrirPuerta2_Click();
    void cmdActualiza_Click();
    void cmdCerrar_Click();
    // Key press in the free-space box: true when the key passes.
    bool text2_KeyPress(QChar key);
    void setText2(const QString& text) { text2_ = text; }
    const QString& text2() const { return text2_; }

    // Timer handlers (public for tests; the timers call them).
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();

    // The event log writer; every log line goes through it.
    void WriteTerminalWin(const QString& InData);
    const QString& eventLogText() const { return eventLog_; }

    // Upper-case hexadecimal text of a whole number, without leading zeros.
    static QString LongHex(double Number);

    // Identification events of each station's reader.
    void KBIOMAXctl_TrackRead(int station, const QString& track);
    void KBIOMAXctl_CardNumberRead(int station, const QString& card);

    // The passage.
    void LookUpCard(std::int32_t& subscriber, std::uint8_t& installation, const QString& cardCode);
    std::uint8_t AuthorizeAccess(std::uint8_t installation, std::int32_t subscriber, std::uint8_t station);
    void ProcessEntrance();
    void ProcessExit();
    MovementRecorder* recorder() const { return recorder_.get(); }

    ReaderControl& KBIOMAXctl1() { return *reader1_; }
    ReaderControl& KBIOMAXctl2() { return *reader2_; }
    Database& database() { return database_; }
    const Settings& settings() const { return settings_; }
    AccessGrid& grid() { return grid_; }
    QTimer& Timer1() { return timer1_; }
    QTimer& Timer2() { return timer2_; }
    QTimer& Timer3() { return timer3_; }
    const Clock& clock() const { return clock_; }

    // Station state, read by the view, the passage and the tests.
    const QString& NombreInstalacion() const { return NombreInstalacion_.text(); }
    std::int16_t PlazasLibres = 0;
    std::uint8_t MensajeActivo1 = 0;
    std::uint8_t MensajeActivo2 = 0;
    std::uint8_t LastAccessResult = 0;
    std::int32_t msId1 = 0;
    std::uint8_t InstalacionAbonado1 = 0;
    std::int32_t msId2 = 0;
    std::uint8_t InstalacionAbonado2 = 0;
    bool greenVisible(int station) const { return station == 1 ? ImgVerde1 : ImgVerde2; }
    bool redVisible(int station) const { return station == 1 ? ImgRojo1 : ImgRojo2; }
    Recordset* rsLector() const { return rsLector_.get(); }
    bool inService() const { return inService_; }

    // Used by the passage.
    void OpenBarrier1();
    void OpenBarrier2();
    void ShowReaderMessage(std::uint8_t station, const QString& text);
    void AddAccessRow(std::uint8_t station, const QString& text, std::int32_t subscriber);
    void setPlazasCaption(int value);
    void trace(const QString& line);
    void alert(const QString& text, const QString& title = ApplicationTitle, AlertIcon icon = AlertIcon::None);

    // ConnectionUi
    void showFatal(const QString& text, const QString& title) override;
    void showProgress() override;
    void hideProgress() override;
    void reportFailure(const QString& what) override;
    void pumpEvents(std::chrono::milliseconds wait) override;

signals:
    // The window has gone; the program ends.
    void closed();

private:
    // Runs a handler; an error is logged and ends it.
    void guarded(const QString& where, const std::function<void()>& handler);
    void showLights(int station);
    // A display restore timer's tick: the idle text back on the station.
    void restoreIdleText(int station);
    void readerDown(int station);
    void hotReset(int station);
    std::unique_ptr<Recordset> open(const QString& sql);
    // A 32-character display message from a column of the reader row;
    // an empty column shows blanks.
    QString lectorMessage(const char* column) const;
    void identified(int station, std::int32_t subscriber, std::uint8_t installation);

    Settings& settings_;
    const Clock& clock_;
    Database database_;
    Paths paths_;
    LogFile logFile_;
    StationView* view_ = nullptr;
    std::function<void(const QString&)> traceSink_;
    ReaderControl* reader1_;
    ReaderControl* reader2_;
    QTimer timer1_;
    QTimer timer2_;
    QTimer timer3_;
    std::unique_ptr<Recordset> rsLector_;
    std::unique_ptr<Recordset> rsAbonado_;
    WriteJournal journal_;
    std::unique_ptr<MovementRecorder> recorder_;
    FixedText<40> NombreInstalacion_;
    QString eventLog_;
    AccessGrid grid_;
    QString text2_ = QStringLiteral("0");
    bool ImgVerde1 = true;
    bool ImgRojo1 = true;
    bool ImgVerde2 = true;
    bool ImgRojo2 = true;
    bool inService_ = false;
    bool unloaded_ = false;
};

} // namespace parking

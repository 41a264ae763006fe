#pragma once
// One reader station: its reader control, its display-restore timer and
// message flag, its lights, the last identification it made, and its
// passage rule. Station 1 is the entrance (free spaces, the rights
// decision, the entry row, a space taken); every other station number is
// the exit (the stay closed, a space given back; never refused).
//
// Every handler runs to completion on the user-interface thread. A fault
// that reaches a handler is logged and ends it; it never opens a barrier.
// Once an entrance is granted, and at every exit, the barrier opens even
// when the database cannot be written: the writes wait in the journal.
#include "AccessFacts.h"
#include "AccessResult.h"
#include "CardRecords.h"
#include "DatabaseError.h"
#include "ReaderControl.h"
#include "EventLog.h"
#include "GridWriter.h"
#include "Installation.h"
#include "StationDatabase.h"
#include "StationEvents.h"
#include "StationRole.h"
#include "Timer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace parking {

class Station {
public:

    // How long a message stays on the display before the idle text returns.
    static constexpr std::chrono::milliseconds DisplayRestoreDelay{3000};
    // Relay pulses, in tenths of a second: a passage, an opening by hand.
    struct Pulse {
        std::uint8_t output;
        std::uint8_t tenths;
    };
    static constexpr Pulse PassagePulse{0, 6};
    static constexpr Pulse ManualPulse{0, 100};

    // The station owns its reader control, named "KBIOMAXctl" + its number.
    // What the station works with, shared with the other station: the
    // event log, where its facts go, the clocks, the installation, the
    // access grid and the database.
    Station(StationRole role, EventLog& log, StationEvents& outputs, const Clock& clock, const SteadyClock& steadyClock,
            Installation& installation, GridWriter& grid, StationDatabase& database, TimerSource& timers,
            ReaderHub* hub = nullptr);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    int number() const { return number_; }
    StationRole role() const { return role_; }
    ReaderControl& reader() { return *reader_; }
    const ReaderControl& reader() const { return *reader_; }

    // Start-up: the port, the reader set-up, the idle text.
    void openPort(const QString& portText);
    void setUpReader();
    void showIdleText();
    // Closing: the reader's port.
    void closePort();

    // The display shows `text` until the restore timer brings back the idle
    // text. A timer already running keeps its interval: the message may
    // stay for less than the full delay.
    void showMessage(const QString& text);
    // The restore timer's tick.
    void restoreIdleText();
    void startRestoreTimer() { restoreTimer_->start(); }
    void stopRestoreTimer() { restoreTimer_->stop(); }
    bool restoreTimerActive() const { return restoreTimer_->isActive(); }
    bool messageActive() const { return messageActive_; }

    // Whether the reader answers, as it last said (at start-up: yes).
    void reportReaderState();
    bool readerOnline() const { return readerOnline_; }
    void resetReaderState();

    void openBarrier();
    void openBarrierByHand();

    // The reader's identification events.
    void onTrackRead(const QString& track);
    void onCardNumberRead(const QString& card);

    std::int32_t subscriber() const { return subscriber_; }
    std::uint8_t subscriberInstallation() const { return subscriberInstallation_; }

private:
    // The card's holder; nullopt when the card cannot be looked up now (it
    // goes no further; the log says why).
    std::optional<records::CardHolder> lookUpCard(const QString& cardCode);
    void identified(std::int32_t subscriber, std::uint8_t installation);
    // The subscriber's rights at the entrance; a refusal is shown and
    // written to the grid here.
    // The facts from the replica when the server did not answer the
    // decision (nothing: no offline decision; the reason is logged).
    std::optional<AccessFacts> offlineFacts(const DatabaseError& fault);
    void saidOffline(AccessResult decision);
    std::optional<records::CardHolder> offlineCard(const QString& cardCode, const DatabaseError& fault);
    AccessResult authorize(const AccessFacts& facts);
    void admitEntrance();
    void letOut();
    void pulseRelay(Pulse pulse);
    void onReaderDown();
    void onHotReset();

    const int number_;
    const StationRole role_;
    std::unique_ptr<ReaderControl> reader_;
    EventLog& log_;
    StationEvents& outputs_;
    const Clock& clock_;
    const SteadyClock& steadyClock_;
    Installation& installation_;
    GridWriter& grid_;
    StationDatabase& database_;
    std::unique_ptr<Timer> restoreTimer_;
    bool messageActive_ = false;
    bool readerOnline_ = true;
    std::int32_t subscriber_ = 0;
    std::uint8_t subscriberInstallation_ = 0;
};

// Upper-case hexadecimal text of a whole number, without leading zeros:
// how a card number becomes the card code stored in ABONADOS.
QString cardCodeText(double number);

} // namespace parking

#pragma once
// A reader control's operations over OSDP, for one reader on a shared
// link. What the bus reports arrives on the link's thread and is passed to
// the user-interface thread, one event at a time, as a queued call; a read
// that waited there longer than StaleAfter is logged and dropped, never
// turned into a passage long after the driver left.
//
// The display gets only the rows that changed since the reader last got
// them (all of them again after it restarted), cut to what its receive
// buffer takes; the relay's green light and a refusal's red one are sent
// again to a reader that restarted while they should still show.
#include "Clock.h"
#include "OsdpLink.h"
#include "ReaderTransport.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace parking::osdp {

// A relay pulse; a colour for some tenths of a second (the permanent state
// untouched); one beep; a display text's commands: every row, padded to
// the width, each cut into pieces of at most `maxChars` characters.
OutputCommand relayPulse(std::uint8_t output, std::uint8_t tenths);
LedCommand temporaryLed(LedColour colour, std::uint8_t tenths);
BuzzerCommand refusalBeep();
std::vector<TextCommand> displayRows(const QString& text, int rows, int columns, int maxChars = 255);
// The most characters one osdp_TEXT may carry for a reader that receives
// at most `receiveSize` bytes (0: no limit said), sealed on the channel.
int textCharsFor(int receiveSize);

class OsdpTransport final : public ReaderTransport {
public:
    static constexpr milliseconds StaleAfter{5000};
    static constexpr milliseconds SetUpWait{1000};
    // How long a refused card's red light shows, in tenths of a second.
    static constexpr std::uint8_t RefusalTenths = 10;

    // `release` runs when the transport closes (the hub frees the reader's address).
    OsdpTransport(std::shared_ptr<OsdpLink> link, PortText port, ReaderConfig config, ReaderEvents& events,
                  std::function<void()> release = {}, const SteadyClock& clock = systemSteadyClock());
    ~OsdpTransport() override;

    Result<void> open() override;
    ReaderStatus setUp() override;
    ReaderStatus pulseRelay(std::uint8_t output, std::uint8_t tenths) override;
    void show(const QString& text) override;
    void close() override;
    SecureChannelState secureChannel() const override;
    bool signalRefusal() override;

private:
    struct Relay;
    void handle(const BusEvent& e);
    void cameOnline();
    void wentOffline();
    void statusChanged(const LocalStatus& status);
    void installKeyOnly();
    bool fresh(const BusEvent& e);
    void bitsRead(const CardBitsRead& read);
    void sendText(const QString& text);
    void showLed(LedColour colour, std::uint8_t tenths);
    void resendAfterRestart();

    std::shared_ptr<OsdpLink> link_;
    PortText port_;
    ReaderConfig config_;
    ReaderEvents& events_;
    std::function<void()> release_;
    std::unique_ptr<QObject> receiver_;
    std::shared_ptr<Relay> relay_;
    int index_ = -1;
    bool announcedUp_ = false;
    bool warnedNoText_ = false;
    QString lastText_;
    bool textWritten_ = false; // a display text was ever given (else the reader's own stays)
    std::vector<QString> rowsShown_; // what the reader's display holds, as far as we know
    const SteadyClock& clock_;
    LedColour ledColour_ = LedColour::Black;
    SteadyClock::TimePoint ledUntil_{};
    ReaderCondition condition_;
};

} // namespace parking::osdp

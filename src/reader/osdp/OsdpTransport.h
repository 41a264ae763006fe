#pragma once
// A reader control's operations over OSDP, for one reader on a shared
// link. What the bus reports arrives on the link's thread and is passed to
// the user-interface thread, one event at a time, as a queued call; a read
// that waited there longer than StaleAfter is logged and dropped, never
// turned into a passage long after the driver left.
#include "OsdpLink.h"
#include "ReaderTransport.h"

#include <QObject>

#include <memory>
#include <optional>

namespace parking::osdp {

// "C" and the 13 decimal digits of a raw card read: its `bits` bits,
// left-justified in `data`, as an unsigned big-endian number. Nullopt when
// the number has more than 13 digits or the data is short.
std::optional<QString> rawCardText(int bits, const Bytes& data);

// The osdp_OUT record of a relay pulse and the osdp_LED record that shows
// green for as long; the osdp_TEXT commands of a display text.
Bytes relayPulse(std::uint8_t output, std::uint8_t tenths);
Bytes greenLed(std::uint8_t tenths);
std::vector<Bytes> displayRows(const QString& text, int rows, int columns);

class OsdpTransport final : public ReaderTransport {
public:
    static constexpr milliseconds StaleAfter{5000};
    static constexpr milliseconds SetUpWait{1000};
    // CloseRelay's answer for a reader that is not online.
    static constexpr std::uint8_t Offline = 4;

    OsdpTransport(std::shared_ptr<OsdpLink> link, PortText port, std::optional<Block> key, ReaderEvents& events);
    ~OsdpTransport() override;

    std::uint8_t open() override;
    std::uint8_t setUp() override;
    std::uint8_t closeRelay(std::uint8_t first, std::uint8_t second) override;
    void writeDisplay(QString& text) override;
    void close() override;
    QString secureChannel() const override;

private:
    struct Relay;
    void handle(const BusEvent& e);
    void sendText(const QString& text);

    std::shared_ptr<OsdpLink> link_;
    PortText port_;
    std::optional<Block> key_;
    ReaderEvents& events_;
    std::unique_ptr<QObject> receiver_;
    std::shared_ptr<Relay> relay_;
    int index_ = -1;
    bool announcedUp_ = false;
    bool warnedNoText_ = false;
    QString lastText_;
};

} // namespace parking::osdp

#pragma once
// How a reader control's operations reach a reader. The simulated transport
// answers everything at once; the OSDP transport talks to real readers. A
// transport that receives something from its reader hands it to the control
// through the ReaderEvents it was given, on the user-interface thread, which
// raises the control's events.
#include <QString>

#include <cstdint>

namespace parking {

// What a supervised reader says of itself: its case opened, its power, and
// whether it answers only the install key while a key is stored (swapped
// or reset: an alert, never re-keyed by itself).
struct ReaderCondition {
    bool known = false; // the reader has said its tamper and power state
    bool tamper = false;
    bool powerOk = true;
    bool installKeyOnly = false;
    bool operator==(const ReaderCondition&) const = default;
};

class ReaderEvents {
public:
    virtual ~ReaderEvents() = default;
    virtual void trackRead(const QString& track) = 0;
    virtual void cardNumberRead(const QString& card) = 0;
    virtual void hotReset() = 0;
    virtual void readerDown() = 0;
    // Something the reader sent that the stations do not act on (keys).
    virtual void statusMessage(const QString& message) = 0;
    // A line for the event log about the reader (never a key).
    virtual void log(const QString& line) = 0;
    // The reader's tamper, power or key alert changed.
    virtual void condition(const ReaderCondition&) {}
};

class ReaderTransport {
public:
    virtual ~ReaderTransport() = default;
    virtual std::uint8_t open() = 0;
    virtual std::uint8_t setUp() = 0;
    virtual std::uint8_t closeRelay(std::uint8_t first, std::uint8_t second) = 0;
    // The transport may change `text`; the caller keeps what it leaves.
    virtual void writeDisplay(const QString& text) = 0;
    virtual void close() = 0;
    // The Secure Channel as the status page names it: "none" (not a
    // protocol that has one), "off", "established", "waiting".
    virtual QString secureChannel() const { return QStringLiteral("none"); }
    // Why open() answered that the line cannot be opened (empty: it can).
    virtual QString openFault() const { return {}; }
    // A refused card's feedback (a short red light, a beep) where the
    // reader has them; false when nothing was shown.
    virtual bool signalRefusal() { return false; }
};

// A reader inside the program: every operation succeeds with status 0 and
// leaves the display text as it was; events come from whoever drives it
// (a script, the demo's simulator window, a test).
class SimulatedTransport final : public ReaderTransport {
public:
    std::uint8_t open() override { return 0; }
    std::uint8_t setUp() override { return 0; }
    std::uint8_t closeRelay(std::uint8_t, std::uint8_t) override { return 0; }
    void writeDisplay(const QString&) override {}
    void close() override {}
};

} // namespace parking

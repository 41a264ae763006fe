#pragma once
// The reader control of one station (KBIOMAXctl1 at the entrance,
// KBIOMAXctl2 at the exit): five operations and the reader's events as Qt
// signals. The operations keep the names of the reader device's own
// interface, which installers and the event log know them by:
//   OpenPortRem(port)  opens the port the text names; 0 when open
//   SetUpBiomax()      prepares the reader; 0 when it is ready
//   CloseRelay(a, b)   pulses relay output a for b tenths of a second
//   WriteDisplay(text) shows text on the reader's display
//   ClosePort()        closes the port
// Status 255 means there is no reader behind the port.
//
// The port text chooses the transport: "sim:NAME" is a simulated reader
// (scripts, tests); "osdp:DEVICE?OPTIONS" a reader on an OSDP line (see
// docs/readers.md); anything else answers 255.
//
// Every operation and event is also told to `traced` ("relay 1 0 6"), for
// the trace, so a run can be followed from outside. The control never decides
// anything: it carries commands out and reports what the reader saw.
#include "ReaderHub.h"
#include "ReaderTransport.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace parking {

class ReaderControl : public QObject, private ReaderEvents {
    Q_OBJECT
public:
    static constexpr std::uint8_t NoReader = 255;

    // Status of OpenPortRem for a port text that cannot be used.
    static constexpr std::uint8_t BadPortText = 1;

    // `hub` gives OSDP transports; null: OSDP port texts answer 255.
    ReaderControl(QString name, int station, ReaderHub* hub = nullptr, QObject* parent = nullptr);
    ~ReaderControl() override;

    std::uint8_t OpenPortRem(const QString& port);
    std::uint8_t SetUpBiomax();
    std::uint8_t CloseRelay(std::uint8_t first, std::uint8_t second);
    void WriteDisplay(const QString& text);
    void ClosePort();
    // A refused card's light and beep, where the reader has them (traced
    // as "> refusal STATION" when shown).
    void signalRefusal();
    // Why the last OpenPortRem could not open the line (empty: it could).
    QString openFault() const { return transport_ ? transport_->openFault() : QString(); }

    const QString& name() const { return name_; }
    int station() const { return station_; }
    // The Secure Channel's state for the status page ("none" without a port).
    QString secureChannel() const { return transport_ ? transport_->secureChannel() : QStringLiteral("none"); }

    // Raise the events as the reader would (scripts, simulator, tests).
    void raiseTrackRead(const QString& track) { trackRead(track); }
    void raiseCardNumberRead(const QString& card) { cardNumberRead(card); }
    void raiseHotReset() { hotReset(); }
    void raiseReaderDown() { readerDown(); }

signals:
    void TrackRead(const QString& first, const QString& second, const QString& track);
    void CardNumberRead(const QString& card);
    void AnsHotReset();
    void ReaderDown();
    // Received from the reader and ignored by the stations.
    void StatusMessage(const QString& message);
    void traced(const QString& what);
    // A line for the event log about this reader.
    void logged(const QString& line);
    // Tamper, power or the key alert changed.
    void conditionChanged(const parking::ReaderCondition& condition);

private:
    void trackRead(const QString& track) override { emit TrackRead(QString(), QString(), track); }
    void cardNumberRead(const QString& card) override { emit CardNumberRead(card); }
    void hotReset() override { emit AnsHotReset(); }
    void readerDown() override { emit ReaderDown(); }
    void statusMessage(const QString& message) override { emit StatusMessage(message); }
    void log(const QString& line) override { emit logged(name_ + QStringLiteral(": ") + line); }
    void condition(const ReaderCondition& c) override { emit conditionChanged(c); }
    void trace(const QString& what) { emit traced(what); }

    QString name_;
    int station_;
    ReaderHub* hub_;
    std::unique_ptr<ReaderTransport> transport_;
};

} // namespace parking

#pragma once
// The reader control of one station (KBIOMAXctl1 at the entrance,
// KBIOMAXctl2 at the exit): five operations and the reader's events as Qt
// signals.
//   open(port)           opens the port the text names
//   setUp()              prepares the reader; Ok when it is ready
//   pulseRelay(o, t)     pulses relay output o for t tenths of a second
//   show(text)           shows text on the reader's display
//   close()              closes the port
// The event log names the operations as installers know them from the
// reader device's interface (OpenPortRem, SetUpBiomax, CloseRelay, ...);
// those names stay in the log lines the stations write.
//
// The port text chooses the transport: "sim:NAME" is a simulated reader
// (scripts, tests); "osdp:DEVICE?OPTIONS" a reader on an OSDP line (see
// docs/readers.md); anything else answers NoReader.
//
// Every operation is also reported as done (`acted`), for the trace, so a
// run can be followed from outside. The control never decides anything: it
// carries commands out and reports what the reader saw.
#include "ReaderHub.h"
#include "ReaderTransport.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace parking {

// An operation carried out on a reader, as a fact.
struct ReaderAction {
    enum class Kind { PortOpened, SetUp, RelayPulsed, Shown, PortClosed, RefusalShown };
    Kind kind = Kind::SetUp;
    QString text;             // the port text (PortOpened), the display text (Shown)
    std::uint8_t output = 0;  // RelayPulsed
    std::uint8_t tenths = 0;  // RelayPulsed
};

// Why open() did not open the port: the status the log prints, and the
// reason (empty when there is nothing more to say).
struct OpenFailure {
    ReaderStatus status = ReaderStatus::NoReader;
    QString reason;
};

class ReaderControl : public QObject, private ReaderEvents {
    Q_OBJECT
public:
    // `hub` gives OSDP transports; null: OSDP port texts answer NoReader.
    ReaderControl(QString name, ReaderHub* hub = nullptr, QObject* parent = nullptr);
    ~ReaderControl() override;

    Result<void, OpenFailure> open(const QString& port);
    ReaderStatus setUp();
    ReaderStatus pulseRelay(std::uint8_t output, std::uint8_t tenths);
    void show(const QString& text);
    void close();
    // A refused card's light and beep, where the reader has them (reported
    // as RefusalShown when shown).
    void signalRefusal();

    const QString& name() const { return name_; }
    SecureChannelState secureChannel() const { return transport_ ? transport_->secureChannel() : SecureChannelState::None; }

    // Raise the events as the reader would (scripts, simulator, tests).
    void raiseTrackRead(const QString& track) { reportTrack(track); }
    void raiseCardNumberRead(const QString& card) { reportCard(card); }
    void raiseHotReset() { reportHotReset(); }
    void raiseReaderDown() { reportDown(); }

signals:
    void trackRead(const QString& track);
    void cardNumberRead(const QString& card);
    void hotReset();
    void readerDown();
    // Received from the reader and ignored by the stations.
    void statusMessage(const QString& message);
    void acted(const parking::ReaderAction& action);
    // A line for the event log about this reader.
    void logged(const QString& line);
    // Tamper, power or the key alert changed.
    void conditionChanged(const parking::ReaderCondition& condition);

private:
    void reportTrack(const QString& track) override { emit trackRead(track); }
    void reportCard(const QString& card) override { emit cardNumberRead(card); }
    void reportHotReset() override { emit hotReset(); }
    void reportDown() override { emit readerDown(); }
    void reportStatusMessage(const QString& message) override { emit statusMessage(message); }
    void reportLog(const QString& line) override { emit logged(name_ + QStringLiteral(": ") + line); }
    void reportCondition(const ReaderCondition& c) override { emit conditionChanged(c); }

    QString name_;
    ReaderHub* hub_;
    std::unique_ptr<ReaderTransport> transport_;
};

} // namespace parking

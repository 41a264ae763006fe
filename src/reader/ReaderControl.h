#pragma once
// The reader control of one station (KBIOMAXctl1 at the entrance,
// KBIOMAXctl2 at the exit): five operations and the reader's events as Qt
// signals. The port text given to OpenPortRem chooses the transport:
// "sim:NAME" is a simulated reader; other port texts name hardware this
// build cannot drive, and every operation then answers status 255.
//
// Every operation and event is also told to `traced` as a "> " trace line,
// so a run can be followed from outside. The control never decides
// anything: it carries commands out and reports what the reader saw.
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

    ReaderControl(QString name, int station, QObject* parent = nullptr);
    ~ReaderControl() override;

    std::uint8_t OpenPortRem(const QString& port);
    std::uint8_t SetUpBiomax();
    std::uint8_t CloseRelay(std::uint8_t first, std::uint8_t second);
    void WriteDisplay(QString& text);
    void ClosePort();

    const QString& name() const { return name_; }
    int station() const { return station_; }
    bool simulated() const;

    // Raise the events as the reader would (scripts, simulator, tests).
    void raiseTrackRead(const QString& track) { trackRead(track); }
    void raiseCardNumberRead(const QString& card) { cardNumberRead(card); }
    void raiseHotReset() { hotReset(); }
    void raiseReaderDown() { readerDown(); }
    void raiseStatusMessage(const QString& message) { emit StatusMessage(message); }

    // For a later transport chosen outside (tests, hardware back ends).
    void setTransport(std::unique_ptr<ReaderTransport> transport);
    ReaderEvents& events() { return *this; }

signals:
    void TrackRead(const QString& first, const QString& second, const QString& track);
    void CardNumberRead(const QString& card);
    void AnsHotReset();
    void ReaderDown();
    // Received from the reader and ignored by the stations.
    void StatusMessage(const QString& message);
    void traced(const QString& line);

private:
    void trackRead(const QString& track) override { emit TrackRead(QString(), QString(), track); }
    void cardNumberRead(const QString& card) override { emit CardNumberRead(card); }
    void hotReset() override { emit AnsHotReset(); }
    void readerDown() override { emit ReaderDown(); }
    void trace(const QString& what) { emit traced(QStringLiteral("> ") + what); }

    QString name_;
    int station_;
    std::unique_ptr<ReaderTransport> transport_;
};

} // namespace parking

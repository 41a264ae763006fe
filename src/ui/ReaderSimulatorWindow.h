#pragma once
// The demo's stand-in for the two readers: for each station, present any
// demo subscriber's track or card, an unknown card, unplug the reader or
// plug it back. With emulated OSDP readers it also shows what each reader
// received: its display rows, its LED and its relay.
#include <QList>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

class QLabel;
class QListWidget;

namespace parking {

class ReaderControl;

struct SimulatedCard {
    std::int32_t subscriber = 0;
    int installation = 0;
    QString name;
    QString cardCode; // hexadecimal, as in ABONADOS.CODTARJETA; may be empty
};

// A 16-character track holding the installation at positions 4-5 and the
// subscriber at 11-15, read the same way at both stations.
QString simulatedTrack(int installation, std::int32_t subscriber);
// The card-number text of a card code: a start sentinel and 13 digits.
QString simulatedCardText(const QString& cardCode);

// One reader the window drives.
class SimulatedReader {
public:
    virtual ~SimulatedReader() = default;
    virtual int station() const = 0;
    virtual void presentTrack(const QString& track) = 0;
    virtual void presentCard(const QString& cardCode) = 0;
    virtual void unplug() = 0;
    virtual void plugBack() = 0;
    // What the reader shows; empty for a reader without a display here.
    virtual QStringList display() const { return {}; }
    virtual QString led() const { return {}; }
    virtual QString relay() const { return {}; }
};

// Raises the reader control's events directly (scripts, tests).
std::unique_ptr<SimulatedReader> simulatedControl(ReaderControl& reader, int station);

class ReaderSimulatorWindow : public QWidget {
    Q_OBJECT
public:
    ReaderSimulatorWindow(std::array<std::unique_ptr<SimulatedReader>, 2> readers, QList<SimulatedCard> cards,
                          QWidget* parent = nullptr);
    ~ReaderSimulatorWindow() override;

private:
    QWidget* stationBox(SimulatedReader& reader, const QString& title);
    const SimulatedCard* selected(QListWidget* list) const;
    void refresh();

    std::array<std::unique_ptr<SimulatedReader>, 2> readers_;
    QList<SimulatedCard> cards_;
    std::array<QLabel*, 2> shown_{};
};

} // namespace parking

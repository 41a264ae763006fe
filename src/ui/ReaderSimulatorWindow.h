#pragma once
// The demo's stand-in for the two readers: for each station, present any
// demo subscriber's track or card, an unknown card, pull the reader down or
// hot-reset it. What it presents goes through the reader controls exactly
// as a real reader's reads would.
#include <QList>
#include <QWidget>

#include <cstdint>

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

class ReaderSimulatorWindow : public QWidget {
    Q_OBJECT
public:
    ReaderSimulatorWindow(ReaderControl& entrance, ReaderControl& exit, QList<SimulatedCard> cards,
                          QWidget* parent = nullptr);

private:
    QWidget* stationBox(ReaderControl& reader, const QString& title);
    const SimulatedCard* selected(QListWidget* list) const;
    QList<SimulatedCard> cards_;
};

} // namespace parking

#include "ReaderSimulatorWindow.h"

#include "StationRole.h"

#include "ReaderControl.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace parking {

QString simulatedTrack(int installation, std::int32_t subscriber)
{
    return QStringLiteral("%B0") + QStringLiteral("%1").arg(installation, 2, 10, QLatin1Char('0')) +
           QStringLiteral("00000") + QStringLiteral("%1").arg(subscriber, 5, 10, QLatin1Char('0')) +
           QStringLiteral("?");
}

QString simulatedCardText(const QString& cardCode)
{
    bool ok = false;
    const qulonglong number = cardCode.toULongLong(&ok, 16);
    return QStringLiteral(";") + QStringLiteral("%1").arg(ok ? number : 0, 13, 10, QLatin1Char('0')) +
           QStringLiteral("?");
}

namespace {

class ControlReader final : public SimulatedReader {
public:
    ControlReader(ReaderControl& r, int station) : reader_(r), station_(station) {}
    int station() const override { return station_; }
    void presentTrack(const QString& track) override { reader_.raiseTrackRead(track); }
    void presentCard(const QString& code) override { reader_.raiseCardNumberRead(simulatedCardText(code)); }
    void unplug() override { reader_.raiseReaderDown(); }
    void plugBack() override { reader_.raiseHotReset(); }

private:
    ReaderControl& reader_;
    int station_;
};

} // namespace

std::unique_ptr<SimulatedReader> simulatedControl(ReaderControl& reader, int station)
{
    return std::make_unique<ControlReader>(reader, station);
}

ReaderSimulatorWindow::ReaderSimulatorWindow(std::array<std::unique_ptr<SimulatedReader>, 2> readers,
                                             QList<SimulatedCard> cards, QWidget* parent)
    : QWidget(parent, Qt::Window), readers_(std::move(readers)), cards_(std::move(cards))
{
    setObjectName(QStringLiteral("ReaderSimulatorWindow"));
    setWindowTitle(QStringLiteral("Simulador de lectores"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(stationBox(*readers_[0], QStringLiteral("Lector 1 (entrada)")));
    layout->addWidget(stationBox(*readers_[1], QStringLiteral("Lector 2 (salida)")));
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ReaderSimulatorWindow::refresh);
    timer->start(200);
    refresh();
}

ReaderSimulatorWindow::~ReaderSimulatorWindow() = default;

const SimulatedCard* ReaderSimulatorWindow::selected(QListWidget* list) const
{
    const int row = list->currentRow();
    return row >= 0 && row < cards_.size() ? &cards_[row] : nullptr;
}

void ReaderSimulatorWindow::refresh()
{
    for (std::size_t i = 0; i < readers_.size(); ++i) {
        if (!shown_[i])
            continue;
        const SimulatedReader& r = *readers_[i];
        QStringList lines;
        for (const QString& row : r.display())
            lines << QLatin1Char('|') + row.leftJustified(20) + QLatin1Char('|');
        lines << r.led() << r.relay();
        shown_[i]->setText(lines.join(QLatin1Char('\n')));
    }
}

QWidget* ReaderSimulatorWindow::stationBox(SimulatedReader& reader, const QString& title)
{
    const int station = reader.station();
    auto* box = new QGroupBox(title);
    box->setObjectName(QStringLiteral("Simulador%1").arg(station));
    auto* layout = new QVBoxLayout(box);
    if (!reader.relay().isEmpty()) {
        auto* shown = new QLabel;
        shown->setObjectName(QStringLiteral("Pantalla%1").arg(station));
        shown->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        layout->addWidget(shown);
        shown_[stationIndex(station)] = shown;
    }
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("Abonados%1").arg(station));
    for (const SimulatedCard& card : std::as_const(cards_))
        list->addItem(QStringLiteral("%1  %2").arg(card.subscriber).arg(card.name));
    list->setCurrentRow(0);
    layout->addWidget(list);

    auto* row = new QHBoxLayout;
    auto addButton = [&](QBoxLayout* into, const char* name, const QString& caption, auto action) {
        auto* b = new QPushButton(caption);
        b->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(name)).arg(station));
        connect(b, &QPushButton::clicked, this, action);
        into->addWidget(b);
    };
    addButton(row, "Pista", QStringLiteral("Pasar pista"), [this, list, &reader] {
        if (const SimulatedCard* c = selected(list))
            reader.presentTrack(simulatedTrack(c->installation, c->subscriber));
    });
    addButton(row, "Tarjeta", QStringLiteral("Pasar tarjeta"), [this, list, &reader] {
        if (const SimulatedCard* c = selected(list))
            reader.presentCard(c->cardCode);
    });
    layout->addLayout(row);
    auto* more = new QHBoxLayout;
    addButton(more, "Desconocida", QStringLiteral("Tarjeta desconocida"),
              [&reader] { reader.presentCard(QStringLiteral("FFFFFFFFF")); });
    addButton(more, "Caido", QStringLiteral("Lector caído"), [&reader] { reader.unplug(); });
    addButton(more, "Reinicio", QStringLiteral("Reinicio en caliente"), [&reader] { reader.plugBack(); });
    layout->addLayout(more);
    return box;
}

} // namespace parking

#include "ReaderSimulatorWindow.h"

#include "ReaderControl.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
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

ReaderSimulatorWindow::ReaderSimulatorWindow(ReaderControl& entrance, ReaderControl& exit,
                                             QList<SimulatedCard> cards, QWidget* parent)
    : QWidget(parent, Qt::Window), cards_(std::move(cards))
{
    setObjectName(QStringLiteral("ReaderSimulatorWindow"));
    setWindowTitle(QStringLiteral("Simulador de lectores"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(stationBox(entrance, QStringLiteral("Lector 1 (entrada)")));
    layout->addWidget(stationBox(exit, QStringLiteral("Lector 2 (salida)")));
}

const SimulatedCard* ReaderSimulatorWindow::selected(QListWidget* list) const
{
    const int row = list->currentRow();
    return row >= 0 && row < cards_.size() ? &cards_[row] : nullptr;
}

QWidget* ReaderSimulatorWindow::stationBox(ReaderControl& reader, const QString& title)
{
    auto* box = new QGroupBox(title);
    box->setObjectName(QStringLiteral("Simulador%1").arg(reader.station()));
    auto* layout = new QVBoxLayout(box);
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("Abonados%1").arg(reader.station()));
    for (const SimulatedCard& card : std::as_const(cards_))
        list->addItem(QStringLiteral("%1  %2").arg(card.subscriber).arg(card.name));
    list->setCurrentRow(0);
    layout->addWidget(list);

    auto* row = new QHBoxLayout;
    auto addButton = [&](QBoxLayout* into, const char* name, const QString& caption, auto action) {
        auto* b = new QPushButton(caption);
        b->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(name)).arg(reader.station()));
        connect(b, &QPushButton::clicked, this, action);
        into->addWidget(b);
    };
    addButton(row, "Pista", QStringLiteral("Pasar pista"), [this, list, &reader] {
        if (const SimulatedCard* c = selected(list))
            reader.raiseTrackRead(simulatedTrack(c->installation, c->subscriber));
    });
    addButton(row, "Tarjeta", QStringLiteral("Pasar tarjeta"), [this, list, &reader] {
        if (const SimulatedCard* c = selected(list))
            reader.raiseCardNumberRead(simulatedCardText(c->cardCode));
    });
    layout->addLayout(row);
    auto* more = new QHBoxLayout;
    addButton(more, "Desconocida", QStringLiteral("Tarjeta desconocida"),
              [&reader] { reader.raiseCardNumberRead(simulatedCardText(QStringLiteral("FFFFFFFFF"))); });
    addButton(more, "Caido", QStringLiteral("Lector caído"), [&reader] { reader.raiseReaderDown(); });
    addButton(more, "Reinicio", QStringLiteral("Reinicio en caliente"), [&reader] { reader.raiseHotReset(); });
    layout->addLayout(more);
    return box;
}

} // namespace parking

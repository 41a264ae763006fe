#include "ReaderCheck.h"

#include "Identification.h"
#include "ReaderControl.h"
#include "ReaderHub.h"
#include "Station.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace parking {

namespace {

constexpr std::chrono::seconds OnlineWait{10};

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void pump(std::chrono::milliseconds wait)
{
    QEventLoop loop;
    QTimer::singleShot(wait, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int runReaderCheck(const QString& portText, const QString& keyFile, bool pulse, std::chrono::seconds readFor)
{
    ReaderHub hub(keyFile);
    ReaderControl reader(QStringLiteral("lector"), 1, &hub);
    bool online = false;
    QObject::connect(&reader, &ReaderControl::logged, [](const QString& line) { say(line); });
    QObject::connect(&reader, &ReaderControl::AnsHotReset, [&] { online = true; });
    QObject::connect(&reader, &ReaderControl::ReaderDown, [&] { online = false; });
    QObject::connect(&reader, &ReaderControl::TrackRead, [](const QString&, const QString&, const QString& track) {
        say(QStringLiteral("pista: |%1|").arg(track));
    });
    QObject::connect(&reader, &ReaderControl::CardNumberRead, [](const QString& card) {
        const auto number = cardNumber(card);
        say(number ? QStringLiteral("tarjeta: |%1| -> código %2").arg(card, cardCodeText(*number))
                   : QStringLiteral("tarjeta: |%1| -> no válida").arg(card));
    });
    QObject::connect(&reader, &ReaderControl::StatusMessage, [](const QString& keys) { say(QStringLiteral("teclado: %1").arg(keys)); });

    const std::uint8_t opened = reader.OpenPortRem(portText);
    if (opened == ReaderControl::BadPortText) {
        say(QStringLiteral("El texto del puerto no vale: vea el motivo arriba."));
        return 2;
    }
    if (opened != 0) {
        say(QStringLiteral("No se puede abrir la línea (estado %1).").arg(opened));
        return 3;
    }
    QElapsedTimer waited;
    waited.start();
    while (!online && waited.elapsed() < std::chrono::milliseconds(OnlineWait).count())
        online = reader.SetUpBiomax() == 0;
    if (!online) {
        pump(std::chrono::milliseconds(100)); // what the reader said, printed
        say(QStringLiteral("El lector no se ha puesto en línea en %1 s.").arg(OnlineWait.count()));
        return 4;
    }
    pump(std::chrono::milliseconds(100));
    if (pulse)
        say(QStringLiteral("Pulso en la salida 0: estado %1").arg(reader.CloseRelay(0, Station::PassagePulse.tenths)));
    say(QStringLiteral("En línea. Pase tarjetas durante %1 s.").arg(readFor.count()));
    pump(readFor);
    reader.ClosePort();
    return 0;
}

} // namespace parking

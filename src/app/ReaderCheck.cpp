#include "ReaderCheck.h"

#include "FirmwareUpdate.h"
#include "Identification.h"
#include "ReaderControl.h"
#include "ReaderHub.h"
#include "Station.h"
#include "osdp/OsdpLink.h"
#include "osdp/PortText.h"
#include "osdp/ReaderKeyFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>

namespace parking {

namespace {

constexpr std::chrono::seconds OnlineWait{10};
// How long osdp_COMSET's answer is waited for before the line is reopened.
constexpr std::chrono::milliseconds ComSetAnswer{1000};

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

// A reader control whose every event is printed as the installer reads it.
class CheckedReader {
public:
    CheckedReader(ReaderHub& hub) : reader_(QStringLiteral("lector"), &hub)
    {
        QObject::connect(&reader_, &ReaderControl::logged, [](const QString& line) { say(line); });
        QObject::connect(&reader_, &ReaderControl::hotReset, [this] { online_ = true; });
        QObject::connect(&reader_, &ReaderControl::readerDown, [this] { online_ = false; });
        QObject::connect(&reader_, &ReaderControl::trackRead, [](const QString& track) {
            say(QStringLiteral("pista: |%1|").arg(track));
        });
        QObject::connect(&reader_, &ReaderControl::cardNumberRead, [](const QString& card) {
            const auto number = cardNumber(card);
            say(number ? QStringLiteral("tarjeta: |%1| -> código %2").arg(card, cardCodeText(*number))
                       : QStringLiteral("tarjeta: |%1| -> no válida").arg(card));
        });
        QObject::connect(&reader_, &ReaderControl::statusMessage,
                         [](const QString& keys) { say(QStringLiteral("teclado: %1").arg(keys)); });
        QObject::connect(&reader_, &ReaderControl::conditionChanged, [](const ReaderCondition& c) {
            if (c.known) {
                say(QStringLiteral("estado: %1, %2")
                        .arg(c.tamper ? QStringLiteral("caja abierta o manipulada (tamper)") : QStringLiteral("caja cerrada"),
                             c.powerOk ? QStringLiteral("alimentación correcta") : QStringLiteral("fallo de alimentación")));
            }
        });
    }

    // 0 when online; otherwise the check's exit status, said.
    int bringOnline(const QString& portText)
    {
        const auto opened = reader_.open(portText);
        if (!opened && opened.error().status == ReaderStatus::BadPortText) {
            say(QStringLiteral("El texto del puerto no vale: vea el motivo arriba."));
            return 2;
        }
        if (!opened) {
            say(QStringLiteral("No se puede abrir la línea (estado %1): %2")
                    .arg(statusNumber(opened.error().status))
                    .arg(opened.error().reason));
            return 3;
        }
        QElapsedTimer waited;
        waited.start();
        while (!online_ && waited.elapsed() < std::chrono::milliseconds(OnlineWait).count())
            online_ = reader_.setUp() == ReaderStatus::Ok;
        pump(std::chrono::milliseconds(100)); // what the reader said, printed
        if (!online_) {
            say(QStringLiteral("El lector no se ha puesto en línea en %1 s.").arg(OnlineWait.count()));
            return 4;
        }
        return 0;
    }

    ReaderControl& control() { return reader_; }

private:
    ReaderControl reader_;
    bool online_ = false;
};

// The port text with its address and speed options set to these.
QString withSetting(const QString& portText, int address, int baud)
{
    const qsizetype question = portText.indexOf(QLatin1Char('?'));
    QStringList options;
    if (question >= 0) {
        for (const QString& o : portText.mid(question + 1).split(QLatin1Char('&'))) {
            if (!o.startsWith(QLatin1String("addr=")) && !o.startsWith(QLatin1String("baud=")))
                options << o;
        }
    }
    options << QStringLiteral("addr=%1").arg(address) << QStringLiteral("baud=%1").arg(baud);
    return (question < 0 ? portText : portText.left(question)) + QLatin1Char('?') + options.join(QLatin1Char('&'));
}

// osdp_COMSET, then the reader reached at its new setting. The exit status;
// the reader (at its old setting or its new one) is closed on return.
int changeSetting(ReaderHub& hub, std::unique_ptr<CheckedReader> reader, const ReaderCheckOptions& options,
                  const osdp::PortText& port)
{
    const int address = options.newAddress.value_or(port.address);
    const int baud = options.newBaud.value_or(port.baud);
    auto fail = [&](const QString& why) {
        say(why);
        reader->control().close();
        return 5;
    };
    // The key goes with the address, before the reader answers at it.
    if (address != port.address) {
        if (const auto moved = osdp::ReaderKeyFile::move(options.keyFile, port.device, port.address, address); !moved)
            return fail(QStringLiteral("No se puede pasar la clave a la dirección nueva: %1").arg(moved.error()));
    }
    auto link = hub.link(port.device);
    const osdp::ComSetCommand comSet{static_cast<std::uint8_t>(address), static_cast<std::uint32_t>(baud)};
    if (!link || !link->submit(0, comSet))
        return fail(QStringLiteral("El lector ya no está en línea: no se le puede cambiar la dirección ni la velocidad."));
    say(QStringLiteral("Enviado osdp_COMSET: dirección %1, %2 baudios.").arg(address).arg(baud));
    pump(ComSetAnswer);
    link.reset();
    reader->control().close();
    reader.reset(); // the line closes: it is opened again at the new setting
    reader = std::make_unique<CheckedReader>(hub);
    const QString next = withSetting(options.portText, address, baud);
    if (const int status = reader->bringOnline(next); status != 0)
        return fail(QStringLiteral("El lector no responde con la dirección %1 a %2 baudios.").arg(address).arg(baud));
    say(QStringLiteral("El lector responde en la dirección %1 a %2 baudios. Texto del puerto: %3").arg(address).arg(baud).arg(next));
    reader->control().close();
    return 0;
}

// Decimal digits only, at most six: nothing else is a setting here.
std::optional<int> plainDigits(const QString& text)
{
    if (text.isEmpty() || text.size() > 6)
        return std::nullopt;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    return text.toInt();
}

} // namespace

Result<ReaderCheckOptions> readerCheckOptions(ReaderCheckOptions base, const QString& setAddress, const QString& setBaud,
                                              const QString& fileId)
{
    if (!fileId.isEmpty()) {
        const auto id = plainDigits(fileId);
        if (!id || *id > 255)
            return failure(QStringLiteral("--file-id necesita un tipo de fichero de 0 a 255, no %1").arg(fileId));
        base.fileId = *id;
    }
    if (!fileId.isEmpty() && base.firmware.isEmpty())
        return failure(QStringLiteral("--file-id va con --update-firmware FICHERO"));
    if (!base.firmware.isEmpty() && (!setAddress.isEmpty() || !setBaud.isEmpty()))
        return failure(QStringLiteral("--update-firmware no va con --set-address ni --set-baud: uno cada vez"));
    if (!setAddress.isEmpty()) {
        const auto address = plainDigits(setAddress);
        if (!address || *address > osdp::MaxAddress)
            return failure(QStringLiteral("--set-address necesita una dirección de 0 a 126, no %1").arg(setAddress));
        base.newAddress = *address;
    }
    if (!setBaud.isEmpty()) {
        const auto baud = plainDigits(setBaud);
        const std::array allowed{9600, 19200, 38400, 57600, 115200, 230400};
        if (!baud || std::find(allowed.begin(), allowed.end(), *baud) == allowed.end())
            return failure(QStringLiteral("--set-baud necesita 9600, 19200, 38400, 57600, 115200 o 230400, no %1").arg(setBaud));
        base.newBaud = *baud;
    }
    return base;
}

int runReaderCheck(const ReaderCheckOptions& options)
{
    const auto parsed = osdp::parsePortText(options.portText);
    if (!parsed) {
        say(QStringLiteral("El texto del puerto no vale: %1").arg(parsed.error()));
        return 2;
    }
    const osdp::PortText& port = *parsed;
    if (options.newBaud && port.tcp()) {
        say(QStringLiteral("--set-baud no se aplica a una línea TCP: la velocidad del bus se pone en el convertidor."));
        return 2;
    }
    ReaderHub hub(options.keyFile);
    hub.setRekey(options.rekey);
    hub.setCapture(options.capture);
    auto reader = std::make_unique<CheckedReader>(hub);
    if (const int status = reader->bringOnline(options.portText); status != 0)
        return status;
    hub.setRekey(false);
    if (options.newAddress || options.newBaud)
        return changeSetting(hub, std::move(reader), options, port);
    if (!options.firmware.isEmpty()) {
        const auto link = hub.link(port.device);
        const int status = link ? updateFirmware(*link, options.firmware, options.fileId) : 6;
        reader->control().close();
        return status;
    }
    if (options.pulse)
        say(QStringLiteral("Pulso en la salida 0: estado %1")
                .arg(statusNumber(reader->control().pulseRelay(0, Station::PassagePulse.tenths))));
    say(QStringLiteral("En línea. Pase tarjetas durante %1 s.").arg(options.readFor.count()));
    pump(options.readFor);
    reader->control().close();
    return 0;
}

} // namespace parking

#include "OsdpBusEvents.h"
#include "Overloaded.h"
#include <QStringList>

namespace parking::osdp {

namespace {

QString hex(std::uint32_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString yesNo(bool b)
{
    return b ? QStringLiteral("sí") : QStringLiteral("no");
}

QString onlineLine(const ReaderOnline& e)
{
    const Identity& id = e.identity;
    const Capabilities& c = e.capabilities;
    return QStringLiteral("en línea: fabricante %1, modelo %2, versión %3, serie %4, firmware %5.%6.%7; salidas %8, LED "
                          "%9, zumbador %10, texto %11, canal seguro %12")
        .arg(hex(id.vendor, 6))
        .arg(id.model)
        .arg(id.version)
        .arg(hex(id.serial, 8))
        .arg(id.firmware >> 16)
        .arg((id.firmware >> 8) & 0xFF)
        .arg(id.firmware & 0xFF)
        .arg(yesNo(c.output), yesNo(c.led), yesNo(c.buzzer), yesNo(c.text), yesNo(e.secured));
}

QString relayLine(const RelayAnswered& e)
{
    QString answer;
    switch (e.answer) {
    case RelayAnswer::Ack:
        answer = QStringLiteral("ACK");
        break;
    case RelayAnswer::Nak:
        answer = QStringLiteral("NAK %1").arg(int(e.nak));
        break;
    case RelayAnswer::NoAnswer:
        answer = QStringLiteral("sin respuesta");
        break;
    case RelayAnswer::TooLong:
        answer = QStringLiteral("demasiado larga");
        break;
    }
    return QStringLiteral("respuesta a CloseRelay: %1").arg(answer);
}

QString inputsLine(const InputsChanged& e)
{
    QStringList states;
    for (std::uint8_t v : e.states)
        states << QString::number(v);
    return QStringLiteral("entradas del lector: %1").arg(states.join(QLatin1Char(' ')));
}

} // namespace

std::optional<QString> logLine(const BusFact& fact)
{
    using Line = std::optional<QString>;
    return std::visit(
        Overloaded{
            [](const ReaderOnline& e) -> Line { return onlineLine(e); },
            [](const ReaderOffline&) -> Line { return std::nullopt; },
            [](const ReaderRestarted&) -> Line {
                return QStringLiteral("el lector se ha reiniciado: se le vuelven a enviar el texto y la luz");
            },
            [](const CardBitsRead&) -> Line { return std::nullopt; },
            [](const CardTrackRead&) -> Line { return std::nullopt; },
            [](const KeysPressed&) -> Line { return std::nullopt; },
            [](const RelayAnswered& e) -> Line { return relayLine(e); },
            [](const LocalStatusChanged&) -> Line { return std::nullopt; },
            [](const InputsChanged& e) -> Line { return inputsLine(e); },
            [](const AddressConfirmed& e) -> Line {
                return QStringLiteral("el lector confirma dirección %1 y %2 baudios").arg(int(e.address)).arg(e.baud);
            },
            [](const NoStoredKey&) -> Line {
                return QStringLiteral("sin clave de canal seguro: ponga sc=install una vez para darle una, o añada su "
                                      "clave al fichero de claves");
            },
            [](const ChannelOff&) -> Line {
                return QStringLiteral("AVISO: canal seguro desactivado (sc=off); la línea va en claro");
            },
            [](const ChannelBroken&) -> Line {
                return QStringLiteral("canal seguro roto (MAC no válido); se vuelve a establecer");
            },
            [](const NoSecureChannel&) -> Line {
                return QStringLiteral("el lector dice que no tiene canal seguro (capacidad 9): no se pone en línea con "
                                      "sc=on; use sc=off sólo si la línea es de confianza");
            },
            [](const StoredKeyNotAnswered&) -> Line {
                return QStringLiteral("el lector rechaza la clave: no responde con la clave guardada");
            },
            [](const KeyRefused& e) -> Line {
                return e.nak ? QStringLiteral("el lector rechaza la clave (NAK %1)").arg(int(*e.nak))
                             : QStringLiteral("el lector rechaza la clave");
            },
            [](const InstallKeyOnly&) -> Line {
                return QStringLiteral("ALERTA: el lector sólo responde a la clave de instalación aunque hay una clave "
                                      "guardada (¿cambiado o reiniciado?); no se le da clave nueva por sí solo: si es "
                                      "el lector correcto, dele una con --reader-check PUERTO --rekey");
            },
            [](const NewKeyNotStored&) -> Line {
                return QStringLiteral("ERROR: no se puede guardar la clave nueva; el lector no se pone en línea");
            },
            [](const NewKeyGiven&) -> Line {
                return QStringLiteral("clave nueva de canal seguro dada al lector y guardada");
            },
            [](const NewKeyRefused& e) -> Line {
                return QStringLiteral("el lector no acepta la clave nueva (NAK %1)").arg(int(e.nak));
            },
            [](const CommandTooLong& e) -> Line {
                return QStringLiteral("orden 0x%1 de %2 bytes: el lector sólo admite %3; no se envía")
                    .arg(e.code, 2, 16, QLatin1Char('0'))
                    .arg(e.size)
                    .arg(e.limit);
            },
            // A file's progress is said by whoever sends it.
            [](const FileTransferAnswered&) -> Line { return std::nullopt; },
            [](const FileTransferRefused&) -> Line { return std::nullopt; },
            [](const FileTransferUnanswered&) -> Line { return std::nullopt; },
            [](const IdentityRead&) -> Line { return std::nullopt; },
            [](const LineFault& e) -> Line {
                return QStringLiteral("ERROR interno en la línea (%1): se vuelve a abrir y sus lectores empiezan de nuevo")
                    .arg(e.what);
            },
        },
        fact);
}

} // namespace parking::osdp

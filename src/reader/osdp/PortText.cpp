#include "PortText.h"

#include <QStringList>

namespace parking::osdp {

namespace {

const QString Prefix = QStringLiteral("osdp:");
constexpr int MaxRows = 8;
constexpr int MaxColumns = 80;

// A decimal number of at most `digits` digits, nothing else.
std::optional<int> plainNumber(const QString& text, int digits = 6)
{
    if (text.isEmpty() || text.size() > digits)
        return std::nullopt;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    return text.toInt();
}

std::optional<bool> onOff(const QString& value)
{
    if (value == QLatin1String("on"))
        return true;
    if (value == QLatin1String("off"))
        return false;
    return std::nullopt;
}

// The device part: a path as written, or tcp:HOST:PORT taken apart.
Result<PortText> parseDevice(const QString& device)
{
    PortText port;
    port.device = device;
    if (device.isEmpty())
        return failure(QStringLiteral("falta el dispositivo"));
    if (!device.startsWith(QLatin1String("tcp:")))
        return port;
    const QString rest = device.mid(4);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return failure(QStringLiteral("tcp: necesita HOST:PUERTO"));
    const auto number = plainNumber(rest.mid(colon + 1), 5);
    if (!number || *number < 1 || *number > 65535)
        return failure(QStringLiteral("puerto TCP no válido: %1").arg(rest.mid(colon + 1)));
    port.host = rest.left(colon);
    port.tcpPort = static_cast<quint16>(*number);
    return port;
}

// `port` with one option applied.
Result<PortText> withOption(PortText port, const QString& option)
{
    const qsizetype eq = option.indexOf(QLatin1Char('='));
    const QString name = option.left(eq);
    const QString value = eq < 0 ? QString() : option.mid(eq + 1);
    if (name == QLatin1String("addr")) {
        const auto a = plainNumber(value, 3);
        if (!a || *a > MaxAddress)
            return failure(QStringLiteral("dirección no válida (0 a 126): %1").arg(value));
        port.address = static_cast<std::uint8_t>(*a);
    } else if (name == QLatin1String("baud")) {
        const auto b = plainNumber(value);
        if (!b || (*b != 9600 && *b != 19200 && *b != 38400 && *b != 57600 && *b != 115200 && *b != 230400))
            return failure(QStringLiteral("velocidad no válida: %1").arg(value));
        port.baud = *b;
    } else if (name == QLatin1String("sc")) {
        if (value == QLatin1String("on"))
            port.channel = ChannelMode::On;
        else if (value == QLatin1String("install"))
            port.channel = ChannelMode::Install;
        else if (value == QLatin1String("off"))
            port.channel = ChannelMode::Off;
        else
            return failure(QStringLiteral("sc debe ser on, install u off, no %1").arg(value));
    } else if (name == QLatin1String("display")) {
        const qsizetype x = value.indexOf(QLatin1Char('x'));
        const auto rows = plainNumber(value.left(x), 2);
        const auto columns = plainNumber(x < 0 ? QString() : value.mid(x + 1), 3);
        if (!rows || !columns || *rows < 1 || *rows > MaxRows || *columns < 1 || *columns > MaxColumns)
            return failure(QStringLiteral("pantalla no válida (FILASxCOLUMNAS): %1").arg(value));
        port.rows = *rows;
        port.columns = *columns;
    } else if (name == QLatin1String("fmt")) {
        const auto format = parseCardFormat(value);
        if (!format)
            return failure(QStringLiteral("formato de tarjeta no válido (raw, wiegand26, wiegand34, wiegand37, csn): %1").arg(value));
        port.format = *format;
    } else if (name == QLatin1String("led") || name == QLatin1String("buzzer") || name == QLatin1String("rs485")) {
        const auto on = onOff(value);
        if (!on)
            return failure(QStringLiteral("%1 debe ser on u off, no %2").arg(name, value));
        (name == QLatin1String("led") ? port.led : name == QLatin1String("buzzer") ? port.buzzer : port.rs485) = *on;
    } else {
        return failure(QStringLiteral("opción desconocida: %1").arg(option));
    }
    return port;
}

} // namespace

Result<PortText> parsePortText(const QString& text)
{
    if (!text.startsWith(Prefix))
        return failure(QStringLiteral("no empieza por osdp:"));
    const QString rest = text.mid(Prefix.size());
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    Result<PortText> port = parseDevice(question < 0 ? rest : rest.left(question));
    if (!port || question < 0)
        return port;
    QStringList seen;
    for (const QString& option : rest.mid(question + 1).split(QLatin1Char('&'))) {
        const QString name = option.left(option.indexOf(QLatin1Char('=')));
        if (seen.contains(name))
            return failure(QStringLiteral("opción repetida: %1").arg(name));
        seen << name;
        port = withOption(std::move(*port), option);
        if (!port)
            return port;
    }
    return port;
}

} // namespace parking::osdp

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

std::optional<QString> parseDevice(const QString& device, PortText& out)
{
    out.device = device;
    if (device.isEmpty())
        return QStringLiteral("falta el dispositivo");
    if (!device.startsWith(QLatin1String("tcp:")))
        return std::nullopt;
    const QString rest = device.mid(4);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return QStringLiteral("tcp: necesita HOST:PUERTO");
    const auto port = plainNumber(rest.mid(colon + 1), 5);
    if (!port || *port < 1 || *port > 65535)
        return QStringLiteral("puerto TCP no válido: %1").arg(rest.mid(colon + 1));
    out.host = rest.left(colon);
    out.tcpPort = static_cast<quint16>(*port);
    return std::nullopt;
}

std::optional<QString> parseOption(const QString& option, PortText& out)
{
    const qsizetype eq = option.indexOf(QLatin1Char('='));
    const QString name = option.left(eq);
    const QString value = eq < 0 ? QString() : option.mid(eq + 1);
    if (name == QLatin1String("addr")) {
        const auto a = plainNumber(value, 3);
        if (!a || *a > MaxAddress)
            return QStringLiteral("dirección no válida (0 a 126): %1").arg(value);
        out.address = static_cast<std::uint8_t>(*a);
    } else if (name == QLatin1String("baud")) {
        const auto b = plainNumber(value);
        if (!b || (*b != 9600 && *b != 19200 && *b != 38400 && *b != 57600 && *b != 115200 && *b != 230400))
            return QStringLiteral("velocidad no válida: %1").arg(value);
        out.baud = *b;
    } else if (name == QLatin1String("sc")) {
        if (value == QLatin1String("on"))
            out.channel = ChannelMode::On;
        else if (value == QLatin1String("install"))
            out.channel = ChannelMode::Install;
        else if (value == QLatin1String("off"))
            out.channel = ChannelMode::Off;
        else
            return QStringLiteral("sc debe ser on, install u off, no %1").arg(value);
    } else if (name == QLatin1String("display")) {
        const qsizetype x = value.indexOf(QLatin1Char('x'));
        const auto rows = plainNumber(value.left(x), 2);
        const auto columns = plainNumber(x < 0 ? QString() : value.mid(x + 1), 3);
        if (!rows || !columns || *rows < 1 || *rows > MaxRows || *columns < 1 || *columns > MaxColumns)
            return QStringLiteral("pantalla no válida (FILASxCOLUMNAS): %1").arg(value);
        out.rows = *rows;
        out.columns = *columns;
    } else if (name == QLatin1String("fmt")) {
        const auto format = parseCardFormat(value);
        if (!format)
            return QStringLiteral("formato de tarjeta no válido (raw, wiegand26, wiegand34, wiegand37, csn): %1").arg(value);
        out.format = *format;
    } else if (name == QLatin1String("led") || name == QLatin1String("buzzer") || name == QLatin1String("rs485")) {
        const auto on = onOff(value);
        if (!on)
            return QStringLiteral("%1 debe ser on u off, no %2").arg(name, value);
        (name == QLatin1String("led") ? out.led : name == QLatin1String("buzzer") ? out.buzzer : out.rs485) = *on;
    } else {
        return QStringLiteral("opción desconocida: %1").arg(option);
    }
    return std::nullopt;
}

} // namespace

std::variant<PortText, QString> parsePortText(const QString& text)
{
    if (!text.startsWith(Prefix))
        return QStringLiteral("no empieza por osdp:");
    const QString rest = text.mid(Prefix.size());
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    PortText out;
    if (auto fault = parseDevice(question < 0 ? rest : rest.left(question), out))
        return *fault;
    if (question < 0)
        return out;
    QStringList seen;
    for (const QString& option : rest.mid(question + 1).split(QLatin1Char('&'))) {
        const QString name = option.left(option.indexOf(QLatin1Char('=')));
        if (seen.contains(name))
            return QStringLiteral("opción repetida: %1").arg(name);
        seen << name;
        if (auto fault = parseOption(option, out))
            return *fault;
    }
    return out;
}

} // namespace parking::osdp

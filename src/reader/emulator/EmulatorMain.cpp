// parking-reader-emulator: OSDP readers in software, as a program of its
// own, for installers without hardware at hand, the soak and outside
// tests. Never linked into the controller.
//
//   parking-reader-emulator [--pty | --tcp PORT] [--baud B] --reader READER [--reader READER ...]
//   READER: ADDR[,key=HEX32][,rows=R][,cols=C][,inputs=N][,rx=BYTES][,nosc]
//
// The first line says where the readers are ("pty /dev/pts/N" or "tcp
// 127.0.0.1:PORT"); then "ready". Standard input takes one command a line
// (see ControlCommands below); each is answered "ok" or "error: ...".
// What a reader is told is printed as it happens: "relay ADDR OUTPUT
// TENTHS", "display ADDR |ROW|ROW|", "led ADDR COLOUR", "beep ADDR".
// End of input, or "quit", ends the program.
#include "EmulatorHost.h"
#include "Result.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <QCryptographicHash>

#include <cstdio>
#include <variant>
#include <unistd.h>

using namespace parking;
using namespace parking::osdp;

namespace {

const char* const ControlCommands =
    "card ADDR NUMBER | raw ADDR BITS HEX | track ADDR TEXT | keys ADDR DIGITS | tamper ADDR on|off | "
    "power ADDR ok|lost | input ADDR N on|off | silent ADDR on|off | restart ADDR | busy ADDR COUNT | "
    "nak ADDR COUNT CODE | lose ADDR COUNT [CODE] | plainkeyset ADDR on|off | maconly ADDR on|off | "
    "forge ADDR on|off | file ADDR take|abort|rejected|invalid [delay MS] [max N] [finishing N] [abortat N] | "
    "show ADDR | release | quit";

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

std::optional<Block> parseKey(const QString& hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    if (hex.size() != 32 || bytes.size() != 16)
        return std::nullopt;
    Block key{};
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

// One --reader READER added to the host, or why not.
Result<void> addReader(EmulatorHost& host, const QString& reader)
{
    const QStringList parts = reader.split(QLatin1Char(','));
    bool ok = false;
    const int address = parts.value(0).toInt(&ok);
    if (!ok || address < 0 || address > MaxAddress || host.reader(static_cast<std::uint8_t>(address)))
        return failure(QStringLiteral("dirección no válida o repetida: %1").arg(parts.value(0)));
    int rows = 2, columns = 20;
    std::optional<Block> key;
    Capabilities caps{true, true, true, true, 1, true, 0};
    for (const QString& part : parts.mid(1)) {
        const QString name = part.section(QLatin1Char('='), 0, 0);
        const QString value = part.section(QLatin1Char('='), 1);
        const int number = value.toInt(&ok);
        if (name == QLatin1String("key") && parseKey(value))
            key = parseKey(value);
        else if (name == QLatin1String("rows") && ok && number >= 1 && number <= 8)
            rows = number;
        else if (name == QLatin1String("cols") && ok && number >= 1 && number <= 80)
            columns = number;
        else if (name == QLatin1String("inputs") && ok && number >= 0 && number <= 16)
            caps.inputs = number;
        else if (name == QLatin1String("rx") && ok && number >= 64 && number <= 1440)
            caps.receiveSize = number;
        else if (part == QLatin1String("nosc"))
            caps.secureChannel = false;
        else
            return failure(QStringLiteral("opción de lector no válida: %1").arg(part));
    }
    PeripheralEmulator& r = host.add(static_cast<std::uint8_t>(address), rows, columns);
    r.setKey(key);
    caps.text = true;
    r.setCapabilities(caps);
    return {};
}

bool onOff(const QString& word, bool& out)
{
    if (word == QLatin1String("on") || word == QLatin1String("lost")) {
        out = true;
        return true;
    }
    if (word == QLatin1String("off") || word == QLatin1String("ok")) {
        out = false;
        return true;
    }
    return false;
}

// Carries out one control line; the answer.
QString control(EmulatorHost& host, const QString& line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return QStringLiteral("error: línea vacía");
    if (w[0] == QLatin1String("quit")) {
        QCoreApplication::quit();
        return QStringLiteral("ok");
    }
    if (w[0] == QLatin1String("release"))
        return host.releaseLine() ? QStringLiteral("ok") : QStringLiteral("error: no hay pseudoterminal");
    bool ok = false;
    const int address = w.value(1).toInt(&ok);
    PeripheralEmulator* r = ok && address >= 0 && address <= MaxAddress ? host.reader(static_cast<std::uint8_t>(address)) : nullptr;
    if (!r)
        return QStringLiteral("error: no hay lector %1 (órdenes: %2)").arg(w.value(1), QLatin1String(ControlCommands));
    const QString& verb = w[0];
    const QString rest = line.section(QLatin1Char(' '), 2);
    bool flag = false;
    const int n = w.value(2).toInt(&ok);
    if (verb == QLatin1String("card") && ok) {
        r->presentCardNumber(w.value(2).toULongLong());
    } else if (verb == QLatin1String("raw") && ok && n > 0 && n <= 1024) {
        const QByteArray data = QByteArray::fromHex(w.value(3).toLatin1());
        r->presentRawCard(n, Bytes(data.begin(), data.end()));
    } else if (verb == QLatin1String("track") && !rest.isEmpty()) {
        r->presentFormattedCard(rest);
    } else if (verb == QLatin1String("keys") && !rest.isEmpty()) {
        r->pressKeys(rest);
    } else if (verb == QLatin1String("tamper") && onOff(w.value(2), flag)) {
        r->setTamper(flag);
    } else if (verb == QLatin1String("power") && onOff(w.value(2), flag)) {
        r->setPowerLost(flag);
    } else if (verb == QLatin1String("input") && ok && onOff(w.value(3), flag)) {
        r->setInput(n, flag);
    } else if (verb == QLatin1String("silent") && onOff(w.value(2), flag)) {
        r->setSilent(flag);
    } else if (verb == QLatin1String("restart")) {
        r->restart();
    } else if (verb == QLatin1String("busy") && ok) {
        r->busyNext(n);
    } else if (verb == QLatin1String("nak") && ok && w.size() == 4) {
        r->nakNext(n, static_cast<std::uint8_t>(w[3].toInt()));
    } else if (verb == QLatin1String("lose") && ok) {
        r->loseReplies(n, w.size() > 3 ? std::optional(static_cast<std::uint8_t>(w[3].toInt(nullptr, 0))) : std::nullopt);
    } else if (verb == QLatin1String("plainkeyset") && onOff(w.value(2), flag)) {
        r->setPlainKeySetAck(flag);
    } else if (verb == QLatin1String("maconly") && onOff(w.value(2), flag)) {
        r->setMacOnlyReplies(flag);
    } else if (verb == QLatin1String("forge") && onOff(w.value(2), flag)) {
        r->setForgeNak(flag);
    } else if (verb == QLatin1String("file") && w.size() >= 3) {
        PeripheralEmulator::FileBehaviour b;
        const QString how = w[2];
        b.refuse = how == QLatin1String("abort") ? -1 : how == QLatin1String("rejected") ? -2 : how == QLatin1String("invalid") ? -3 : 0;
        if (b.refuse == 0 && how != QLatin1String("take"))
            return QStringLiteral("error: file ADDR take|abort|rejected|invalid, no %1").arg(how);
        for (int i = 3; i + 1 < w.size(); i += 2) {
            bool good = false;
            const uint value = w[i + 1].toUInt(&good);
            if (!good || value > 65535)
                return QStringLiteral("error: %1 necesita un número de 0 a 65535").arg(w[i]);
            if (w[i] == QLatin1String("delay"))
                b.delayMs = static_cast<std::uint16_t>(value);
            else if (w[i] == QLatin1String("max"))
                b.fragmentMax = static_cast<std::uint16_t>(value);
            else if (w[i] == QLatin1String("finishing"))
                b.finishing = static_cast<int>(value);
            else if (w[i] == QLatin1String("abortat"))
                b.abortAt = value;
            else
                return QStringLiteral("error: opción de file no válida: %1").arg(w[i]);
        }
        r->setFileBehaviour(b);
    } else if (verb == QLatin1String("show")) {
        return QStringLiteral("ok display |%1| led %2 relays %3 beeps %4 polls %9 secure %5 key %6 tamper %7 power %8 "
                              "file %10 firmware %11")
            .arg(r->display().join(QLatin1Char('|')))
            .arg(r->ledColour())
            .arg(r->relays().size())
            .arg(r->beeps())
            .arg(r->secure() ? QStringLiteral("yes") : QStringLiteral("no"),
                 r->key() ? QStringLiteral("yes") : QStringLiteral("no"),
                 r->tamper() ? QStringLiteral("on") : QStringLiteral("off"),
                 r->powerLost() ? QStringLiteral("lost") : QStringLiteral("ok"))
            .arg(r->commandsSeen(command::Poll))
            .arg(r->receivedFile().empty()
                     ? QStringLiteral("none")
                     : QStringLiteral("%1 bytes type %2 sha256 %3")
                           .arg(r->receivedFile().size())
                           .arg(r->receivedFileType())
                           .arg(QString::fromLatin1(QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(r->receivedFile().data()), static_cast<qsizetype>(r->receivedFile().size())), QCryptographicHash::Sha256).toHex())))
            .arg(QStringLiteral("%1.%2.%3").arg(r->firmware() >> 16).arg(r->firmware() >> 8 & 0xFF).arg(r->firmware() & 0xFF));
    } else {
        return QStringLiteral("error: orden no válida: %1 (órdenes: %2)").arg(line, QLatin1String(ControlCommands));
    }
    return QStringLiteral("ok");
}

// Prints what a command changed on a reader.
void reportAnswer(EmulatorHost& host, std::uint8_t address, std::uint8_t code, QStringList& shown)
{
    PeripheralEmulator* r = host.reader(address);
    if (!r)
        return;
    if (code == command::Output && !r->relays().empty()) {
        const RelayRecord& c = r->relays().back();
        say(QStringLiteral("relay %1 %2 %3").arg(address).arg(c.output).arg(c.tenths));
    } else if (code == command::Text) {
        const QString text = r->display().join(QLatin1Char('|'));
        if (shown.value(address) != text) {
            while (shown.size() <= address)
                shown << QString();
            shown[address] = text;
            say(QStringLiteral("display %1 |%2|").arg(address).arg(text));
        }
    } else if (code == command::Led) {
        say(QStringLiteral("led %1 %2").arg(address).arg(r->ledColour()));
    } else if (code == command::Buzzer) {
        say(QStringLiteral("beep %1").arg(address));
    }
}

// The command line: the line's kind and the readers, added to `host`; or
// the exit status when the program must end at once (help, a fault).
struct LineChoice {
    bool tcp = false;
    int tcpPort = 0;
};
struct EndNow {
    int status = 0;
};
Result<LineChoice, EndNow> parseArguments(const QStringList& args, EmulatorHost& host)
{
    LineChoice line;
    int readers = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = args.value(i + 1);
        if (a == QLatin1String("--pty")) {
            line.tcp = false;
        } else if (a == QLatin1String("--tcp")) {
            line.tcp = true;
            line.tcpPort = value.toInt();
            ++i;
        } else if (a == QLatin1String("--baud")) {
            host.setWireSpeed(value.toInt());
            ++i;
        } else if (a == QLatin1String("--reader")) {
            if (const auto added = addReader(host, value); !added) {
                std::fprintf(stderr, "%s\n", added.error().toUtf8().constData());
                return failureOf(EndNow{2});
            }
            ++readers;
            ++i;
        } else {
            std::fprintf(stderr,
                         "uso: parking-reader-emulator [--pty | --tcp PUERTO] [--baud B] --reader "
                         "DIR[,key=HEX32][,rows=R][,cols=C][,inputs=N][,rx=BYTES][,nosc] ...\n"
                         "órdenes por la entrada estándar: %s\n",
                         ControlCommands);
            return failureOf(EndNow{a == QLatin1String("--help") ? 0 : 2});
        }
    }
    if (readers == 0) {
        std::fprintf(stderr, "falta --reader\n");
        return failureOf(EndNow{2});
    }
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    EmulatorHost host;
    const auto parsed = parseArguments(app.arguments().mid(1), host);
    if (!parsed)
        return parsed.error().status;
    const LineChoice& line = *parsed;
    if (line.tcp ? !host.listenTcp(static_cast<quint16>(line.tcpPort)) : !host.openPseudoTerminal()) {
        std::fprintf(stderr, "no se puede abrir la línea\n");
        return 1;
    }
    say(line.tcp ? QStringLiteral("tcp 127.0.0.1:%1").arg(host.tcpPort()) : QStringLiteral("pty %1").arg(host.slavePath()));
    QStringList shown;
    QObject::connect(&host, &EmulatorHost::answered,
                     [&](std::uint8_t address, std::uint8_t code) { reportAnswer(host, address, code, shown); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<qsizetype>(n));
        qsizetype end = 0;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (!line.isEmpty())
                say(control(host, line));
        }
    });
    say(QStringLiteral("ready"));
    return app.exec();
}

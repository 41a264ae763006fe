#include "DemoReaders.h"

#include "DatabaseError.h"
#include "DemoSite.h"
#include "SiteRecords.h"
#include "SqliteConnection.h"

#if PARKING_GUI
#include "FieldValue.h"
#include "ReaderSimulatorWindow.h"
#include "StationController.h"

#include <QElapsedTimer>
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>

#include <cstdio>

namespace parking {

namespace {

constexpr int StartMs = 5000;

// The port text of the emulated reader at `address` on the line at
// `slavePath`: 115200, as an installer would set a reader that can (at
// 9600 the line's idle gap after each reply is long enough that the line's
// thread goes to sleep for it).
QString portText(const QString& slavePath, int address)
{
    return QStringLiteral("osdp:%1?addr=%2&sc=install&baud=115200").arg(slavePath).arg(address);
}

} // namespace

QString findReaderEmulator(const QString& programFolder)
{
    const QString name = QStringLiteral("parking-reader-emulator");
    const QFileInfo beside(QDir(programFolder).filePath(name));
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(name);
}

Result<std::unique_ptr<DemoReaders>> DemoReaders::start(const QString& emulator, const QString& databasePath,
                                                        const Clock& serverClock)
{
    if (emulator.isEmpty())
        return failure(QStringLiteral("no parking-reader-emulator beside the program or on the PATH"));
    std::unique_ptr<DemoReaders> readers(new DemoReaders);
    QProcess& p = readers->process_;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setReadChannel(QProcess::StandardOutput);
    p.start(emulator, {QStringLiteral("--pty"), QStringLiteral("--reader"), QStringLiteral("1"),
                       QStringLiteral("--reader"), QStringLiteral("2")});
    if (!p.waitForStarted(StartMs))
        return failure(QStringLiteral("%1 did not start: %2").arg(emulator, p.errorString()));
    // The first line says where the readers are: "pty /dev/pts/N".
    while (!p.canReadLine() && p.waitForReadyRead(StartMs)) {
    }
    const QString first = QString::fromUtf8(p.readLine()).trimmed();
    if (!first.startsWith(QLatin1String("pty /")))
        return failure(QStringLiteral("%1 gave no line").arg(emulator));
    SqliteConnection connection(serverClock, QFileInfo(databasePath).absolutePath());
    connection.open(QStringLiteral("Data Source=sqlite:") + databasePath, {});
    const QString line = first.section(QLatin1Char(' '), 1);
    records::setReaderPorts(connection, DemoSite::Installation, portText(line, 1), portText(line, 2));
    DemoReaders* self = readers.get();
    QObject::connect(&p, &QProcess::readyReadStandardOutput, self, &DemoReaders::readOutput);
    self->readOutput();
    return readers;
}

std::unique_ptr<DemoReaders> startDemoReaders(const QString& programFolder, const QString& databasePath,
                                              const Clock& serverClock)
{
    auto started = DemoReaders::start(findReaderEmulator(programFolder), databasePath, serverClock);
    if (started)
        return std::move(*started);
    std::fprintf(stderr, "Demo without emulated readers: %s\n", started.error().toLocal8Bit().constData());
    return nullptr;
}

DemoReaders::~DemoReaders()
{
    QObject::disconnect(&process_, nullptr, this, nullptr);
    if (process_.state() == QProcess::NotRunning)
        return;
    // End of input ends the emulator; a kill if it does not.
    process_.closeWriteChannel();
    if (!process_.waitForFinished(2000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

void DemoReaders::send(const QString& line)
{
    process_.write(line.toUtf8() + '\n');
}

const EmulatedReaderState& EmulatorOutput::state(int address) const
{
    return states_.at(address >= 1 && address <= 2 ? static_cast<std::size_t>(address) : 0);
}

void DemoReaders::readOutput()
{
    pending_ += process_.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = pending_.indexOf('\n')) >= 0) {
        output_.take(QString::fromUtf8(pending_.left(end)).trimmed());
        pending_.remove(0, end + 1);
    }
}

void EmulatorOutput::take(const QString& line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool ok = false;
    const int address = w.value(1).toInt(&ok);
    if (w.size() < 3 || !ok || address < 1 || address > 2)
        return;
    EmulatedReaderState& s = states_[static_cast<std::size_t>(address)];
    if (w[0] == QLatin1String("display")) {
        QString rows = line.section(QLatin1Char(' '), 2);
        if (rows.startsWith(QLatin1Char('|')) && rows.endsWith(QLatin1Char('|')) && rows.size() >= 2)
            s.display = rows.mid(1, rows.size() - 2).split(QLatin1Char('|'));
    } else if (w[0] == QLatin1String("led")) {
        s.led = w[2].toInt();
    } else if (w[0] == QLatin1String("relay") && w.size() == 4) {
        ++s.relays;
        s.lastRelayTenths = w[3].toInt();
    }
}

void addDemoConsole(const QString& configPath)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return;
    const quint16 port = probe.serverPort();
    probe.close();
    static const char Letters[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString key;
    for (int i = 0; i < 24; ++i)
        key += QLatin1Char(Letters[QRandomGenerator::system()->bounded(int(sizeof Letters) - 1)]);
    QFile config(configPath);
    if (!config.open(QIODevice::Append))
        return;
    config.write(QStringLiteral("\n[Estado]\nPuerto=%1\nClaveOperador=%2\n").arg(port).arg(key).toUtf8());
    std::printf("Demo: consola remota en http://127.0.0.1:%u/ con la clave de operador %s\n", port,
                key.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace parking

#if PARKING_GUI
namespace parking {

namespace {

// Drives one of the emulated readers from the simulator window: its reads
// go to the stations over the real protocol.
class EmulatorReader final : public SimulatedReader {
public:
    EmulatorReader(DemoReaders& readers, int station) : readers_(readers), station_(station) { clock_.start(); }
    int station() const override { return station_; }
    void presentTrack(const QString& track) override { say(QStringLiteral("track"), track); }
    void presentCard(const QString& code) override
    {
        bool ok = false;
        say(QStringLiteral("card"), QString::number(code.toULongLong(&ok, 16)));
    }
    void unplug() override { say(QStringLiteral("silent"), QStringLiteral("on")); }
    void plugBack() override
    {
        // As a reader powered up again: no sequence, no channel.
        say(QStringLiteral("restart"), {});
        say(QStringLiteral("silent"), QStringLiteral("off"));
    }
    QStringList display() const override { return readers_.output().state(station_).display; }
    QString led() const override
    {
        static const char* const colours[] = {"apagado", "rojo", "verde", "ámbar", "azul"};
        const int c = readers_.output().state(station_).led;
        return QStringLiteral("LED: ") + QString::fromUtf8(c >= 0 && c < 5 ? colours[c] : "?");
    }
    QString relay() const override
    {
        const EmulatedReaderState& s = readers_.output().state(station_);
        if (s.relays != seen_) {
            seen_ = s.relays;
            closedUntil_ = clock_.elapsed() + s.lastRelayTenths * 100;
        }
        const qint64 left = closedUntil_ - clock_.elapsed();
        return left > 0 ? QStringLiteral("Relé: cerrado (%1 s)").arg(double(left) / 1000.0, 0, 'f', 1)
                        : QStringLiteral("Relé: abierto");
    }

private:
    void say(const QString& verb, const QString& rest)
    {
        readers_.send(QStringLiteral("%1 %2 %3").arg(verb).arg(station_).arg(rest).trimmed());
    }

    DemoReaders& readers_;
    int station_;
    QElapsedTimer clock_;
    mutable int seen_ = 0;
    mutable qint64 closedUntil_ = 0;
};

} // namespace

// The demo's subscribers, for the simulator's lists.
QList<SimulatedCard> demoCards(StationController& controller)
{
    QList<SimulatedCard> cards;
    try {
        const auto found =
            controller.database().call(DatabaseCall::StartUp, [](Connection& c) { return records::loadSubscriberCards(c); });
        for (const records::SubscriberCard& s : found)
            cards.append({s.code, s.installation, s.name, s.card});
    } catch (const std::exception& e) {
        controller.log().write(QStringLiteral("ERROR en el simulador: ") + QString::fromUtf8(e.what()));
    }
    return cards;
}

std::unique_ptr<SimulatedReader> emulatorReader(DemoReaders& readers, int station)
{
    return std::make_unique<EmulatorReader>(readers, station);
}

} // namespace parking
#endif

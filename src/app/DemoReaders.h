#pragma once
// The demo's two readers: the reader emulator program, installed beside
// this one, runs OSDP readers 1 and 2 on one pseudo-terminal bus, and the
// demo database's Lector row points both stations at it. The stations talk
// the real protocol to them, Secure Channel included (keys set by
// sc=install at start). The emulator runs as a child process, spoken to
// over its control lines, so none of it is linked into the controller.
#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <array>
#include <memory>

namespace parking {

class Clock;

// What one emulated reader last showed, as the emulator reports it.
struct EmulatedReaderState {
    QStringList display;
    int led = 0;    // the OSDP colour: 0 off, 1 red, 2 green, 3 amber, 4 blue
    int relays = 0; // relay pulses so far
    int lastRelayTenths = 0;
};

// What the emulator printed, per reader (1 and 2): "display A |ROW|ROW|",
// "led A COLOUR", "relay A OUTPUT TENTHS". Answers to control lines and
// anything else are not the window's business.
class EmulatorOutput {
public:
    void take(const QString& line);
    const EmulatedReaderState& state(int address) const;

private:
    std::array<EmulatedReaderState, 3> states_{};
};

class DemoReaders : public QObject {
    Q_OBJECT
public:
    // Starts `emulator` and rewrites the demo's port texts to its line;
    // the reason when the program cannot be started or gives no line.
    // Throws DatabaseError when the database cannot be changed.
    static Result<std::unique_ptr<DemoReaders>> start(const QString& emulator, const QString& databasePath,
                                                      const Clock& serverClock);
    ~DemoReaders() override;

    // One control line ("card 1 4660", "silent 2 on"...).
    void send(const QString& line);
    const EmulatorOutput& output() const { return output_; }

private:
    DemoReaders() = default;
    void readOutput();

    QProcess process_;
    QByteArray pending_;
    EmulatorOutput output_;
};

// The emulator program beside this one, else on the PATH; empty if none.
QString findReaderEmulator(const QString& programFolder);

// The demo's readers, or none (the stations' readers are then driven
// directly, and the reason is printed).
std::unique_ptr<DemoReaders> startDemoReaders(const QString& programFolder, const QString& databasePath,
                                              const Clock& serverClock);

// Adds the remote console to the demo's configuration: the status page on
// a free loopback port with a new operator key; prints where and the key.
void addDemoConsole(const QString& configPath);

#if PARKING_GUI
class SimulatedReader;
struct SimulatedCard;
class StationController;
// The demo database's subscribers, for the simulator's lists; none when
// they cannot be read (said in the event log).
QList<SimulatedCard> demoCards(StationController& controller);
// Reader 1 (station 1) or 2 for the demo's simulator window.
std::unique_ptr<SimulatedReader> emulatorReader(DemoReaders& readers, int station);
#endif

} // namespace parking

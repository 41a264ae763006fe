#pragma once
// Puts emulated readers on a line the controller can open: the master side
// of a pseudo-terminal pair (the controller opens the slave as a serial
// device) or a TCP server on loopback (as an IP-to-RS-485 converter). Runs
// on the thread it lives on; the controller's bus runs on its own.
//
// For the tests' sake it can corrupt a share of the bytes it sends (from a
// seed), and it can hold each reply for as long as the bytes would take on
// a real line at a given speed.
#include "PeripheralEmulator.h"

#include <QObject>
#include <QString>

#include <memory>
#include <random>
#include <vector>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace parking::osdp {

class EmulatorHost : public QObject {
    Q_OBJECT
public:
    explicit EmulatorHost(QObject* parent = nullptr);
    ~EmulatorHost() override;

    // A pseudo-terminal pair; the slave's path is what the controller opens.
    bool openPseudoTerminal();
    QString slavePath() const { return slavePath_; }
    // Ends a controller's exclusive use of the pseudo-terminal. A serial
    // port's own line loses it when its last user closes it, a killed
    // controller included; a pseudo-terminal's does not while this side
    // holds it, so a controller started again would find it busy.
    bool releaseLine();
    // A TCP server on 127.0.0.1 (port 0: any free one); its port is what
    // the controller connects to.
    bool listenTcp(quint16 port = 0);
    quint16 tcpPort() const;

    PeripheralEmulator& add(std::uint8_t address, int rows = 2, int columns = 20);
    PeripheralEmulator* reader(std::uint8_t address);

    // Each byte sent is corrupted with this probability.
    void setCorruption(double share, std::uint32_t seed);
    // Commands and replies take the time their bytes would take on a wire
    // at `baud` (0: none).
    void setWireSpeed(int baud) { baud_ = baud; }

signals:
    // A command was answered (the display, LED or relay may have changed).
    void answered(std::uint8_t address, std::uint8_t code);

private:
    void readPseudoTerminal();
    void received(const QByteArray& bytes);
    void answer(const Decoded& command);
    void send(const Bytes& bytes);
    int wireMs(std::size_t bytes) const;
    void writeNow(QByteArray bytes);

    std::vector<std::unique_ptr<PeripheralEmulator>> readers_;
    FrameReader frames_;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTcpServer> server_;
    QTcpSocket* client_ = nullptr;
    double corruption_ = 0;
    std::mt19937 random_;
    int baud_ = 0;
};

} // namespace parking::osdp

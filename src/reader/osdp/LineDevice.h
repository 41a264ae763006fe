#pragma once
// The device under one OSDP line: a serial port (in the kernel's RS-485
// mode when asked) or a TCP connection to an IP-to-RS-485 converter. It
// lives on the thread that opens it (the link's); what it receives and
// its loss are reported through the callbacks, the loss from the event
// loop, never inside the device's own signal.
#include "OsdpCodec.h"
#include "PortText.h"
#include "Result.h"

#include <functional>
#include <memory>

class QSerialPort;
class QTcpSocket;

namespace parking::osdp {

class LineDevice {
public:
    struct Callbacks {
        std::function<void(std::span<const std::uint8_t>)> received;
        std::function<void()> connected;                 // a TCP line, once connected
        std::function<void(const QString& why)> lost; // the device is closed by then
    };

    LineDevice(PortText line, Callbacks callbacks);
    ~LineDevice();
    LineDevice(const LineDevice&) = delete;
    LineDevice& operator=(const LineDevice&) = delete;

    struct Opened {
        bool connecting = false; // TCP: connected() follows
        QString warning;         // how it was opened (rs485=on refused by the device; empty: none)
    };
    // Opens the line, or says why it cannot be opened.
    Result<Opened> open();
    // Open, or a TCP connection under way.
    bool active() const;
    // Written at once where it can be; false (nothing written) while the
    // line is closed.
    bool write(const Bytes& bytes);
    void close();

private:
    void readSome();
    void fail(const QString& why);
    QString enableRs485();

    PortText line_;
    Callbacks callbacks_;
    std::unique_ptr<QSerialPort> serial_;
    std::unique_ptr<QTcpSocket> socket_;
};

} // namespace parking::osdp

#include "LineDevice.h"
#include "SerialOpenFault.h"

#include <QSerialPort>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace parking::osdp {

LineDevice::LineDevice(PortText line, Callbacks callbacks) : line_(std::move(line)), callbacks_(std::move(callbacks)) {}

LineDevice::~LineDevice()
{
    close();
}

bool LineDevice::active() const
{
    return serial_ || socket_;
}

Result<LineDevice::Opened> LineDevice::open()
{
    if (active())
        return Opened{};
    if (line_.tcp()) {
        auto* socket = new QTcpSocket;
        socket_.reset(socket);
        QObject::connect(socket, &QTcpSocket::readyRead, [this] { readSome(); });
        QObject::connect(socket, &QTcpSocket::connected, [this] {
            if (callbacks_.connected)
                callbacks_.connected();
        });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [this, socket] { fail(socket->errorString()); },
                         Qt::QueuedConnection);
        socket->connectToHost(line_.host, line_.tcpPort);
        return Opened{true, {}};
    }
    auto* serial = new QSerialPort(line_.device);
    serial_.reset(serial);
    serial->setBaudRate(line_.baud);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    if (!serial->open(QIODevice::ReadWrite)) {
        const QString fault = describeOpenFault(serial->error(), serial->errorString(), deviceAccess(line_.device));
        serial_.reset();
        return failure(fault);
    }
    const QString warning = line_.rs485 ? enableRs485() : QString();
    QObject::connect(serial, &QSerialPort::readyRead, [this] { readSome(); });
    QObject::connect(serial, &QSerialPort::errorOccurred, serial, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError)
            fail(serial_ ? serial_->errorString() : QString());
    }, Qt::QueuedConnection);
    return Opened{false, warning};
}

// The kernel drives the transmitter from RTS around each write, as a
// built-in UART on an RS-485 transceiver needs; USB adapters switch by
// themselves and refuse it, which is said once and harmless.
QString LineDevice::enableRs485()
{
    serial_rs485 rs{};
    rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (::ioctl(static_cast<int>(serial_->handle()), TIOCSRS485, &rs) == 0)
        return {};
    return QStringLiteral("rs485=on: el dispositivo no admite el modo RS-485 del núcleo (%1); se sigue sin él")
        .arg(QString::fromLocal8Bit(std::strerror(errno)));
}

void LineDevice::fail(const QString& why)
{
    close();
    if (callbacks_.lost)
        callbacks_.lost(why);
}

void LineDevice::close()
{
    if (serial_) {
        serial_->disconnect();
        serial_->close();
        serial_.reset();
    }
    if (socket_) {
        socket_->disconnect();
        socket_->abort();
        socket_.reset();
    }
}

void LineDevice::readSome()
{
    QIODevice* device = serial_ ? static_cast<QIODevice*>(serial_.get()) : socket_.get();
    if (!device)
        return;
    const QByteArray bytes = device->readAll();
    if (!bytes.isEmpty() && callbacks_.received) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        callbacks_.received(std::span(data, static_cast<std::size_t>(bytes.size())));
    }
}

bool LineDevice::write(const Bytes& bytes)
{
    QIODevice* device = serial_ ? static_cast<QIODevice*>(serial_.get()) : socket_.get();
    if (!device || !device->isOpen())
        return false;
    const char* data = reinterpret_cast<const char*>(bytes.data());
    qint64 done = 0;
    // A packet fits the serial driver's buffer: written at once, it costs
    // no trip through the event loop (QSerialPort would buffer it and wait
    // for the line to say it is writable). What does not go at once goes
    // the buffered way.
    if (serial_ && serial_->bytesToWrite() == 0) {
        const ssize_t n = ::write(static_cast<int>(serial_->handle()), data, bytes.size());
        done = n > 0 ? n : 0;
    }
    if (done < static_cast<qint64>(bytes.size()))
        device->write(data + done, static_cast<qint64>(bytes.size()) - done);
    return true;
}

} // namespace parking::osdp

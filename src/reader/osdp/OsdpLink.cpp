#include "OsdpLink.h"
#include "SerialOpenFault.h"

#include <QFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <openssl/crypto.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <thread>

namespace parking::osdp {

namespace {

constexpr milliseconds OpenWait{2500};

TimePoint steadyNow()
{
    return std::chrono::steady_clock::now();
}

// The longest the thread sleeps without a reason (a reader added, say).
constexpr milliseconds LongestSleep{1000};

// Waits this short are slept on the spot rather than through the event
// loop's timer (see schedule()); the count bounds it should the bus ask for
// one short wait after another.
constexpr std::chrono::microseconds LongestShortSleep{250};
constexpr int MostShortSleepsInARow = 2;

} // namespace

// The link's thread: the line, the bus and the wake-up timer live and die here.
class OsdpLink::Thread final : public QThread {
public:
    explicit Thread(OsdpLink& link) : link_(link) {}

    // Runs `work` on this thread with the bus, once the event loop runs.
    void post(std::function<void(OsdpBus&)> work)
    {
        std::lock_guard lock(mutex_);
        if (context_)
            QMetaObject::invokeMethod(context_, [this, work = std::move(work)] { runWork(work); }, Qt::QueuedConnection);
        else
            early_.push_back(std::move(work));
    }

protected:
    void run() override
    {
        QObject context;
        OsdpBus bus([this](const Bytes& b) { write(b); }, [this](const BusEvent& e) { link_.deliver(e); },
                    [this](int reader, const Block& key) { return storeKey(reader, key); });
        bus.setLineSpeed(link_.line_.tcp() ? 0 : link_.line_.baud);
        bus_ = &bus;
        QTimer wake;
        wake.setTimerType(Qt::PreciseTimer);
        wake.setSingleShot(true);
        wake_ = &wake;
        QObject::connect(&wake, &QTimer::timeout, [this] {
            bus_->tick(steadyNow());
            schedule();
        });
        QTimer reopen;
        QObject::connect(&reopen, &QTimer::timeout, [this] { openLine(); });
        reopen.start(ReopenEvery);
        openLine();
        {
            std::lock_guard lock(mutex_);
            context_ = &context;
            for (auto& work : early_)
                QMetaObject::invokeMethod(&context, [this, work = std::move(work)] { runWork(work); }, Qt::QueuedConnection);
            early_.clear();
        }
        schedule();
        exec();
        {
            std::lock_guard lock(mutex_);
            context_ = nullptr;
        }
        wake.stop();
        wake_ = nullptr;
        closeLine();
        bus_ = nullptr;
        // The random generator OpenSSL keeps for this thread goes with it.
        OPENSSL_thread_stop();
    }

private:
    void runWork(const std::function<void(OsdpBus&)>& work)
    {
        work(*bus_);
        bus_->tick(steadyNow());
        schedule();
    }

    // Sleeps until the bus's next thing to do, in whole milliseconds
    // (rounded up: waking early would only mean waking twice). A wait under
    // a quarter of a millisecond is slept on the spot instead: that is the
    // idle gap after a reply at high speed (174 µs at 115200, less the time
    // the reply took to handle), after which the round's next reader is
    // polled. The timer would round it up to 1 ms, long enough for a
    // virtual machine's processor to halt, and waking a halted one is the
    // dearest part of an idle reader there (docs/performance.md).
    void schedule()
    {
        if (!bus_ || !wake_)
            return;
        TimePoint now = steadyNow();
        TimePoint due = bus_->nextWakeUp(now);
        for (int slept = 0; slept < MostShortSleepsInARow && due > now && due - now <= LongestShortSleep; ++slept) {
            std::this_thread::sleep_until(due);
            now = steadyNow();
            bus_->tick(now);
            due = bus_->nextWakeUp(now);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(due - now);
        const auto ms = std::min<std::int64_t>((wait.count() + 999) / 1000, LongestSleep.count());
        wake_->start(static_cast<int>(std::max<std::int64_t>(ms, 0)));
    }

    bool storeKey(int reader, const Block& key)
    {
        return link_.storeKey_ && link_.storeKey_(addresses_.at(reader), key);
    }

    void openLine()
    {
        if (serial_ || socket_)
            return;
        const PortText& line = link_.line_;
        if (line.tcp()) {
            auto* socket = new QTcpSocket;
            socket_.reset(socket);
            QObject::connect(socket, &QTcpSocket::readyRead, [this] { readSome(socket_.get()); });
            QObject::connect(socket, &QTcpSocket::connected, [this] { link_.setLineOpen(true); });
            QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [this, socket] { lost(socket->errorString()); },
                             Qt::QueuedConnection);
            socket->connectToHost(line.host, line.tcpPort);
            return;
        }
        auto* serial = new QSerialPort(line.device);
        serial_.reset(serial);
        serial->setBaudRate(line.baud);
        serial->setDataBits(QSerialPort::Data8);
        serial->setParity(QSerialPort::NoParity);
        serial->setStopBits(QSerialPort::OneStop);
        serial->setFlowControl(QSerialPort::NoFlowControl);
        if (!serial->open(QIODevice::ReadWrite)) {
            const QString fault = describeOpenFault(serial->error(), serial->errorString(), deviceAccess(line.device));
            serial_.reset();
            link_.setLineOpen(false, fault);
            return;
        }
        if (line.rs485)
            enableRs485(*serial);
        QObject::connect(serial, &QSerialPort::readyRead, [this] { readSome(serial_.get()); });
        QObject::connect(serial, &QSerialPort::errorOccurred, serial, [this](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::ResourceError)
                lost(serial_ ? serial_->errorString() : QString());
        }, Qt::QueuedConnection);
        link_.setLineOpen(true);
    }

    // The kernel drives the transmitter from RTS around each write, as a
    // built-in UART on an RS-485 transceiver needs; USB adapters switch by
    // themselves and refuse it, which is said once and harmless.
    void enableRs485(QSerialPort& serial)
    {
        serial_rs485 rs{};
        rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        if (::ioctl(static_cast<int>(serial.handle()), TIOCSRS485, &rs) != 0) {
            link_.setLineWarning(QStringLiteral("rs485=on: el dispositivo no admite el modo RS-485 del núcleo (%1); se "
                                                "sigue sin él")
                                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
    }

    void lost(const QString& why)
    {
        closeLine();
        link_.setLineOpen(false, why);
    }

    void closeLine()
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

    void readSome(QIODevice* device)
    {
        const QByteArray bytes = device->readAll();
        if (bus_ && !bytes.isEmpty()) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
            const std::span in(data, static_cast<std::size_t>(bytes.size()));
            link_.capture(false, in);
            bus_->received(in, steadyNow());
            schedule();
        }
    }

    void write(const Bytes& bytes)
    {
        QIODevice* device = serial_ ? static_cast<QIODevice*>(serial_.get()) : socket_.get();
        if (!device || !device->isOpen())
            return;
        link_.capture(true, bytes);
        const char* data = reinterpret_cast<const char*>(bytes.data());
        qint64 done = 0;
        // A packet fits the serial driver's buffer: written at once, it
        // costs no trip through the event loop (QSerialPort would buffer it
        // and wait for the line to say it is writable). What does not go
        // at once goes the buffered way.
        if (serial_ && serial_->bytesToWrite() == 0) {
            const ssize_t n = ::write(static_cast<int>(serial_->handle()), data, bytes.size());
            done = n > 0 ? n : 0;
        }
        if (done < static_cast<qint64>(bytes.size()))
            device->write(data + done, static_cast<qint64>(bytes.size()) - done);
    }

public:
    std::map<int, std::uint8_t> addresses_;

private:
    OsdpLink& link_;
    std::mutex mutex_;
    QObject* context_ = nullptr;
    std::vector<std::function<void(OsdpBus&)>> early_;
    OsdpBus* bus_ = nullptr;
    QTimer* wake_ = nullptr;
    std::unique_ptr<QSerialPort> serial_;
    std::unique_ptr<QTcpSocket> socket_;
};

OsdpLink::OsdpLink(PortText line, std::function<bool(std::uint8_t, const Block&)> storeKey)
    : line_(std::move(line)), storeKey_(std::move(storeKey)), thread_(std::make_unique<Thread>(*this))
{
}

OsdpLink::~OsdpLink()
{
    if (thread_->isRunning()) {
        thread_->quit();
        thread_->wait();
    }
}

Result<OsdpLink::Opened> OsdpLink::start()
{
    if (!thread_->isRunning())
        thread_->start();
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, OpenWait, [this] { return firstAttemptDone_; });
    if (!lineOpen_)
        return failure(lineFault_.isEmpty() ? QStringLiteral("la línea no responde") : lineFault_);
    return Opened{lineWarning_};
}

void OsdpLink::setLineOpen(bool open, const QString& fault)
{
    {
        std::lock_guard lock(mutex_);
        lineOpen_ = open;
        lineFault_ = open ? QString() : fault;
        firstAttemptDone_ = true;
    }
    changed_.notify_all();
}

void OsdpLink::setLineWarning(const QString& warning)
{
    std::lock_guard lock(mutex_);
    lineWarning_ = warning;
}


void OsdpLink::post(std::function<void(OsdpBus&)> work)
{
    thread_->post(std::move(work));
}

int OsdpLink::addReader(const ReaderConfig& config, Listener listener)
{
    int index = 0;
    {
        std::lock_guard lock(mutex_);
        index = nextIndex_++;
        listeners_[index] = std::move(listener);
        online_[index] = false;
    }
    // Indexes are handed out in the order the bus adds readers.
    post([this, config, index](OsdpBus& bus) {
        thread_->addresses_[index] = config.address;
        bus.addReader(config, steadyNow());
    });
    return index;
}

void OsdpLink::removeReader(int reader)
{
    {
        std::lock_guard lock(mutex_);
        listeners_.erase(reader);
        online_[reader] = false;
    }
    post([reader](OsdpBus& bus) { bus.removeReader(reader); });
}

bool OsdpLink::submit(int reader, std::uint8_t code, Bytes data)
{
    if (!online(reader))
        return false;
    post([reader, code, data = std::move(data)](OsdpBus& bus) mutable { bus.submit(reader, code, std::move(data)); });
    return true;
}

bool OsdpLink::online(int reader) const
{
    std::lock_guard lock(mutex_);
    const auto it = online_.find(reader);
    return it != online_.end() && it->second;
}

Capabilities OsdpLink::capabilities(int reader) const
{
    std::lock_guard lock(mutex_);
    const auto it = capabilities_.find(reader);
    return it == capabilities_.end() ? Capabilities{} : it->second;
}

bool OsdpLink::waitOnline(int reader, milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return online_[reader]; });
}

void OsdpLink::deliver(const BusEvent& e)
{
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        if (e.kind == BusEvent::Kind::Online) {
            online_[e.reader] = true;
            capabilities_[e.reader] = e.capabilities;
        } else if (e.kind == BusEvent::Kind::Offline) {
            online_[e.reader] = false;
        }
        const auto it = listeners_.find(e.reader);
        if (it != listeners_.end())
            listener = it->second;
    }
    changed_.notify_all();
    if (listener)
        listener(e);
}

} // namespace parking::osdp

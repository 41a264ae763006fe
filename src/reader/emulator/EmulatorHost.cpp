#include "EmulatorHost.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace parking::osdp {

EmulatorHost::EmulatorHost(QObject* parent) : QObject(parent) {}

EmulatorHost::~EmulatorHost()
{
    notifier_.reset();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

bool EmulatorHost::openPseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        return false;
    // Raw from the start: no echo of our replies back to us, no line editing.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readPseudoTerminal(); });
    return true;
}

bool EmulatorHost::releaseLine()
{
    return slave_ >= 0 && ::ioctl(slave_, TIOCNXCL) == 0;
}

bool EmulatorHost::listenTcp(quint16 port)
{
    server_ = std::make_unique<QTcpServer>();
    if (!server_->listen(QHostAddress::LocalHost, port))
        return false;
    connect(server_.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = server_->nextPendingConnection()) {
            if (client_)
                client_->deleteLater();
            client_ = s;
            frames_.clear();
            connect(s, &QTcpSocket::readyRead, this, [this, s] { received(s->readAll()); });
            connect(s, &QTcpSocket::disconnected, this, [this, s] {
                if (client_ == s)
                    client_ = nullptr;
                s->deleteLater();
            });
        }
    });
    return true;
}

quint16 EmulatorHost::tcpPort() const
{
    return server_ ? server_->serverPort() : 0;
}

PeripheralEmulator& EmulatorHost::add(std::uint8_t address, int rows, int columns)
{
    readers_.push_back(std::make_unique<PeripheralEmulator>(address, rows, columns));
    return *readers_.back();
}

PeripheralEmulator* EmulatorHost::reader(std::uint8_t address)
{
    for (auto& r : readers_) {
        if (r->address() == address)
            return r.get();
    }
    return nullptr;
}

void EmulatorHost::setCorruption(double share, std::uint32_t seed)
{
    corruption_ = share;
    random_.seed(seed);
}

void EmulatorHost::readPseudoTerminal()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        received(QByteArray(buffer, static_cast<qsizetype>(n)));
    }
}

void EmulatorHost::received(const QByteArray& bytes)
{
    frames_.feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
    while (auto d = frames_.next()) {
        if (baud_ <= 0) {
            answer(*d);
            continue;
        }
        // The command is only whole at the reader once its last byte is in.
        const Packet& c = d->packet;
        const std::size_t size = 8 + c.data.size() + (c.securityType ? 2 + c.securityData.size() : 0) + (c.mac ? 4 : 0);
        QTimer::singleShot(wireMs(size), Qt::PreciseTimer, this, [this, command = *d] { answer(command); });
    }
}

int EmulatorHost::wireMs(std::size_t bytes) const
{
    // Ten bits a byte: start, eight data bits, stop.
    return static_cast<int>(bytes * 10 * 1000 / static_cast<std::size_t>(baud_));
}

void EmulatorHost::answer(const Decoded& command)
{
    for (auto& r : readers_) {
        if (auto reply = r->handle(command)) {
            emit answered(r->address(), command.packet.code);
            send(*reply);
        }
    }
}

void EmulatorHost::send(const Bytes& bytes)
{
    QByteArray out(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    if (corruption_ > 0) {
        std::bernoulli_distribution flip(corruption_);
        std::uniform_int_distribution<int> bit(0, 7);
        for (char& c : out) {
            if (flip(random_))
                c = static_cast<char>(c ^ (1 << bit(random_)));
        }
    }
    if (baud_ <= 0)
        writeNow(out);
    else
        QTimer::singleShot(wireMs(bytes.size()), Qt::PreciseTimer, this, [this, out] { writeNow(out); });
}

void EmulatorHost::writeNow(QByteArray bytes)
{
    if (client_) {
        client_->write(bytes);
        return;
    }
    qsizetype done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
}

} // namespace parking::osdp

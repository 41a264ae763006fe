#include "GuardedTcpServer.h"

#include <QSslSocket>
#include <QTimer>

#include <memory>

namespace parking {

GuardedTcpServer::GuardedTcpServer(Limits limits, std::optional<QSslConfiguration> tls, QObject* parent)
    : QTcpServer(parent), limits_(limits), tls_(std::move(tls))
{
}

void GuardedTcpServer::incomingConnection(qintptr handle)
{
    QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    const QHostAddress peer = socket->peerAddress();
    if (open_ >= limits_.connections || perAddress_.value(peer) >= limits_.perAddress) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++open_;
    ++perAddress_[peer];
    connect(socket, &QObject::destroyed, this, [this, peer] {
        --open_;
        if (--perAddress_[peer] <= 0)
            perAddress_.remove(peer);
    });
    watch(socket);
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        ssl->setSslConfiguration(*tls_);
        // A client that does not trust the certificate closes on its own;
        // nothing here is worth ignoring an error for.
        connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->abort(); });
        ssl->startServerEncryption();
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
}

void GuardedTcpServer::watch(QTcpSocket* socket)
{
    // One byte over the limit fits, so a request over it is seen as such.
    socket->setReadBufferSize(limits_.requestBytes + 1);
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(limits_.idle);
    connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    idle->start();
    // The head of the next request must be complete this soon after the
    // connection opened or the last answer went out.
    auto* head = new QTimer(socket);
    head->setSingleShot(true);
    head->setInterval(limits_.head);
    connect(head, &QTimer::timeout, socket, &QTcpSocket::abort);
    head->start();
    // Bytes received since the last answer went out; -1 once refused.
    auto received = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::bytesWritten, socket, [received, head] {
        *received = 0;
        head->stop();
    });
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, idle, head, received] {
        idle->start();
        if (*received < 0)
            return; // already refused
        if (*received == 0 && !head->isActive())
            head->start();
        *received += socket->bytesAvailable();
        if (socket->peek(limits_.requestBytes + 1).contains("\r\n\r\n"))
            head->stop();
        if (*received > limits_.requestBytes) {
            *received = -1;
            // The HTTP server may already hold the start of it: it must not
            // act on what it reads after this.
            socket->setProperty(RefusedProperty, true);
            socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
        }
    });
}

} // namespace parking

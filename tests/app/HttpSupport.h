#pragma once
// Plain HTTP requests to the program's status page, one connection each.
#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace parking::test {

struct Reply {
    int status = 0; // 0: no answer
    QByteArray head;
    QByteArray body;
};

// The answer on `socket`, read until the server closes it or the body is
// whole.
inline Reply readReply(QTcpSocket& socket)
{
    QByteArray all;
    while (socket.waitForReadyRead(5000)) {
        all += socket.readAll();
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        const QByteArray head = all.left(end);
        const qsizetype at = head.toLower().indexOf("content-length: ");
        if (at >= 0 && all.size() - end - 4 >= head.mid(at + 16).split('\r').first().toLongLong())
            break;
    }
    all += socket.readAll();
    const qsizetype end = all.indexOf("\r\n\r\n");
    if (end < 0)
        return {};
    return {all.mid(9, 3).toInt(), all.left(end), all.mid(end + 4)};
}

// One request on its own connection.
inline Reply request(quint16 port, const QByteArray& raw)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(raw);
    return readReply(socket);
}

inline Reply get(quint16 port, const QByteArray& path, const QByteArray& extra = {})
{
    return request(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extra + "\r\n");
}

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace parking::test

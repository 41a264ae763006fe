#include "StatusServer.h"

#include "StatusHttp.h"

namespace parking {

StatusServer::StatusServer(const StatusBoard& board, ConsoleActions* actions)
    : board_(board), actions_(actions), context_(std::make_unique<QObject>())
{
    thread_.setObjectName(QStringLiteral("status-server"));
    context_->moveToThread(&thread_);
    thread_.start();
}

StatusServer::~StatusServer()
{
    QMetaObject::invokeMethod(
        context_.get(), [this] { delete std::exchange(http_, nullptr); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

// On the server's thread: a listener for `options`, in place of the old
// one once it listens.
Result<quint16> StatusServer::listen(const Options& options)
{
    GuardedTcpServer::Limits limits;
    limits.connections = MaxConnections;
    limits.perAddress = MaxConnectionsPerAddress;
    limits.requestBytes = RequestLimit;
    limits.head = HeadLimit;
    limits.idle = IdleLimit;
    auto tcp = std::make_unique<GuardedTcpServer>(limits, options.tls);
    if (tcp_)
        tcp_->close(); // the port may be the same one
    if (!tcp->listen(options.address, options.port)) {
        const QString why = tcp->errorString();
        if (tcp_ && !tcp_->listen(address_, port_))
            return failure(why + QStringLiteral(" (y no se puede volver a %1:%2)").arg(address_.toString()).arg(port_));
        return failure(why);
    }
    delete std::exchange(tcp_, tcp.release());
    tcp_->setParent(http_);
    http_->bind(tcp_);
    address_ = options.address;
    port_ = options.port;
    return tcp_->serverPort();
}

Result<quint16> StatusServer::start(const Options& options)
{
    Result<quint16> result = failure(QString());
    QMetaObject::invokeMethod(
        context_.get(),
        [&] {
            http_ = new StatusHttp(board_, actions_);
            http_->apply(options);
            result = listen(options);
            if (!result)
                delete std::exchange(http_, nullptr);
        },
        Qt::BlockingQueuedConnection);
    return result;
}

Result<quint16> StatusServer::apply(const Options& options)
{
    Result<quint16> result = failure(QStringLiteral("la página de estado no está en marcha"));
    QMetaObject::invokeMethod(
        context_.get(),
        [&] {
            if (!http_)
                return;
            if (options.address != address_ || options.port != port_) {
                result = listen(options);
                if (!result)
                    return;
            } else {
                tcp_->setTls(options.tls);
                result = tcp_->serverPort();
            }
            http_->apply(options);
        },
        Qt::BlockingQueuedConnection);
    return result;
}

} // namespace parking

#include "StatusPage.h"

namespace parking {

std::unique_ptr<StatusPage> startStatusPage(StationController& controller, const StatusSettings& settings)
{
    const auto config = StatusServer::fromConfig(settings);
    if (std::holds_alternative<StatusServer::Off>(config))
        return nullptr;
    if (const auto* fault = std::get_if<QString>(&config)) {
        controller.log().write(QStringLiteral("ESTADO: la página de estado no se inicia: ") + *fault);
        return nullptr;
    }
    const auto& options = std::get<StatusServer::Options>(config);
    auto page = std::make_unique<StatusPage>(controller);
    page->server = std::make_unique<StatusServer>(controller.status(), &page->console);
    const auto started = page->server->start(options);
    if (const auto* fault = std::get_if<QString>(&started)) {
        controller.log().write(QStringLiteral("ESTADO: la página de estado no se inicia en %1:%2: %3")
                                   .arg(options.address.toString())
                                   .arg(options.port)
                                   .arg(*fault));
        return nullptr;
    }
    const QString host = options.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + options.address.toString() + QLatin1Char(']')
                             : options.address.toString();
    QString keys = options.key.isEmpty() ? QString() : QStringLiteral(" (con clave)");
    if (!options.operatorKey.isEmpty())
        keys += QStringLiteral(" (consola con clave de operador)");
    controller.log().write(QStringLiteral("ESTADO: página de estado en %1://%2:%3/%4")
                               .arg(options.tls ? QStringLiteral("https") : QStringLiteral("http"), host)
                               .arg(std::get<quint16>(started))
                               .arg(keys));
    return page;
}

} // namespace parking

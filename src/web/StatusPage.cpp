#include "StatusPage.h"

namespace parking {

std::unique_ptr<StatusPage> startStatusPage(StationController& controller, const StatusSettings& settings)
{
    const auto config = StatusServer::fromConfig(settings);
    if (!config) {
        controller.log().write(QStringLiteral("ESTADO: la página de estado no se inicia: ") + config.error());
        return nullptr;
    }
    if (!*config)
        return nullptr;
    const StatusServer::Options& options = **config;
    auto page = std::make_unique<StatusPage>(controller);
    page->server = std::make_unique<StatusServer>(controller.status(), &page->console);
    const auto started = page->server->start(options);
    if (!started) {
        controller.log().write(QStringLiteral("ESTADO: la página de estado no se inicia en %1:%2: %3")
                                   .arg(options.address.toString())
                                   .arg(options.port)
                                   .arg(started.error()));
        return nullptr;
    }
    const QString host = options.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + options.address.toString() + QLatin1Char(']')
                             : options.address.toString();
    QString keys = options.key.isEmpty() ? QString() : QStringLiteral(" (con clave)");
    if (!options.operatorKey.isEmpty())
        keys += QStringLiteral(" (consola con clave de operador)");
    if (!options.operators.empty())
        keys += QStringLiteral(" (consola con %1 operadores con nombre)").arg(options.operators.size());
    controller.log().write(QStringLiteral("ESTADO: página de estado en %1://%2:%3/%4")
                               .arg(options.tls ? QStringLiteral("https") : QStringLiteral("http"), host)
                               .arg(*started)
                               .arg(keys));
    if (!options.operatorKey.isEmpty())
        controller.log().write(QStringLiteral("ESTADO: ClaveOperador está escrita en claro y no dice quién actúa; mejor un "
                                              "operador con nombre en [Operadores] (parking-station --hash-key)"));
    return page;
}

} // namespace parking

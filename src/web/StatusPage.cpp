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
    page->settings = settings;
    if (options.tls)
        page->certificate = options.tls->localCertificate().toDer();
    if (!options.operatorKey.isEmpty())
        controller.log().write(QStringLiteral("ESTADO: ClaveOperador está escrita en claro y no dice quién actúa; mejor un "
                                              "operador con nombre en [Operadores] (parking-station --hash-key)"));
    return page;
}

Result<StatusPageChange> StatusPageChange::check(const StatusSettings& settings)
{
    auto options = StatusServer::fromConfig(settings);
    if (!options)
        return failure(options.error());
    StatusPageChange change;
    change.settings_ = settings;
    change.options_ = std::move(*options);
    return change;
}

Result<QStringList> StatusPageChange::apply(std::unique_ptr<StatusPage>& page, StationController& controller) const
{
    if (!options_) {
        if (!page)
            return QStringList();
        page.reset();
        return QStringList{QStringLiteral("página de estado parada")};
    }
    if (!page) {
        page = startStatusPage(controller, settings_);
        if (!page)
            return failure(QStringLiteral("la página de estado no se inicia (arriba, por qué)"));
        return QStringList{QStringLiteral("página de estado iniciada")};
    }
    const auto moved = page->server->apply(*options_);
    if (!moved)
        return failure(QStringLiteral("la página de estado no se puede mover a %1:%2: %3")
                           .arg(options_->address.toString())
                           .arg(options_->port)
                           .arg(moved.error()));
    QStringList changed;
    const StatusSettings& was = page->settings;
    if (settings_.port != was.port || settings_.address != was.address)
        changed << QStringLiteral("[Estado] página de estado en el puerto %1").arg(*moved);
    if (settings_.key != was.key)
        changed << QStringLiteral("[Estado] Clave");
    if (settings_.operatorKey != was.operatorKey)
        changed << QStringLiteral("[Estado] ClaveOperador");
    const QByteArray certificate = options_->tls ? options_->tls->localCertificate().toDer() : QByteArray();
    if (certificate != page->certificate || settings_.privateKey != was.privateKey)
        changed << QStringLiteral("[Estado] Certificado");
    if (settings_.operators != was.operators)
        changed << QStringLiteral("[Operadores] (%1 operadores)").arg(options_->operators.size());
    page->settings = settings_;
    page->certificate = certificate;
    return changed;
}

} // namespace parking

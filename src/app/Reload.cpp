#include "Reload.h"

namespace parking {

bool ConfigurationReload::reload(const QString& path)
{
    EventLog& log = controller_.log();
    const auto loaded = loadConfiguration(path);
    if (!loaded) {
        log.write(QStringLiteral("Configuración no recargada: %1; sigue la anterior").arg(loaded.error().reason));
        return false;
    }
    const auto page = StatusPageChange::check(loaded->status);
    if (!page) {
        log.write(QStringLiteral("Configuración no recargada: %1; sigue la anterior").arg(page.error()));
        return false;
    }
    // The page first: it is the one part that can still fail (its port).
    const auto pageChanged = page->apply(page_, controller_);
    if (!pageChanged) {
        log.write(QStringLiteral("Configuración no recargada: %1; sigue la anterior").arg(pageChanged.error()));
        return false;
    }
    const StationController::Reconfigured stations = controller_.reconfigure(*loaded);
    const QStringList changed = *pageChanged + stations.applied;
    log.write(QStringLiteral("Configuración recargada: %1")
                  .arg(changed.isEmpty() ? QStringLiteral("sin cambios") : changed.join(QStringLiteral(", "))));
    if (!stations.restartNeeded.isEmpty())
        log.write(QStringLiteral("Configuración recargada: se aplicará al reiniciar: %1")
                      .arg(stations.restartNeeded.join(QStringLiteral(", "))));
    return true;
}

} // namespace parking

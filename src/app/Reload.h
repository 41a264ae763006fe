#pragma once
// A reload (SIGHUP, `systemctl reload`): the configuration file read again
// and what changed applied while both stations keep serving. It runs from
// the event loop, so a passage being handled has finished first. A file
// that does not load, or a status page it asks for that cannot be had, is
// refused whole: nothing is applied and the running configuration stays;
// the event log says why. Otherwise the log says "Configuración recargada"
// and what changed, and what waits for a restart.
#include "Configuration.h"
#include "StationController.h"
#include "StatusPage.h"

#include <memory>

namespace parking {

class ConfigurationReload {
public:
    // `page`: the running status page (null: none), replaced or changed here.
    ConfigurationReload(StationController& controller, std::unique_ptr<StatusPage>& page)
        : controller_(controller), page_(page)
    {
    }

    // Reads `path` again and applies it; true when it was applied.
    bool reload(const QString& path);

private:
    StationController& controller_;
    std::unique_ptr<StatusPage>& page_;
};

} // namespace parking

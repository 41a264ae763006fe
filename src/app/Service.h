#pragma once
// What running as a service adds to the stations: the status page, and
// telling systemd when the program is ready, that it is alive, and that it
// is stopping.
#include "StationController.h"
#include "StationConsole.h"
#include "StatusServer.h"

#include <QTimer>

#include <memory>

namespace parking {

// The status page and, with an operator key, its console's actions.
struct StatusPage {
    explicit StatusPage(StationController& controller) : console(controller) {}
    StationConsole console;
    std::unique_ptr<StatusServer> server; // goes first: it may be waiting on the console
};

// Starts the status page the configuration asks for; null when it asks for
// none or it cannot start (the event log says why).
std::unique_ptr<StatusPage> startStatusPage(StationController& controller, const StatusSettings& settings);

// sd_notify: READY=1 once, then WATCHDOG=1 from the event loop at half the
// unit's watchdog interval, so a program whose loop hangs is restarted.
// Does nothing when not started by systemd (or built without libsystemd).
class ServiceNotifier {
public:
    void ready();
    void stopping();

private:
    QTimer watchdog_;
};

} // namespace parking

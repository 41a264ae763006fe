#pragma once
// The web front end as the program starts it: the status page's server
// and, with an operator key, its console's actions on the stations.
#include "StationConsole.h"
#include "StationController.h"
#include "StatusServer.h"

#include <memory>

namespace parking {

struct StatusPage {
    explicit StatusPage(StationController& controller) : console(controller) {}
    StationConsole console;
    std::unique_ptr<StatusServer> server; // goes first: it may be waiting on the console
};

// Starts the status page the configuration asks for; null when it asks for
// none or it cannot start (the event log says why).
std::unique_ptr<StatusPage> startStatusPage(StationController& controller, const StatusSettings& settings);

} // namespace parking

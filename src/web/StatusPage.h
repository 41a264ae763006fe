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
    StatusSettings settings;              // as running
    QByteArray certificate;               // the certificate served, DER; empty: none
};

// Starts the status page the configuration asks for; null when it asks for
// none or it cannot start (the event log says why).
std::unique_ptr<StatusPage> startStatusPage(StationController& controller, const StatusSettings& settings);

// A reload's change of the page, checked before anything is applied.
class StatusPageChange {
public:
    // What `settings` asks of the page, or why it cannot be had; nothing
    // is applied yet.
    static Result<StatusPageChange> check(const StatusSettings& settings);
    // Applies it: the page started, changed in place, moved or stopped.
    // What changed, or why nothing did (a port that cannot be listened on).
    Result<QStringList> apply(std::unique_ptr<StatusPage>& page, StationController& controller) const;

private:
    StatusSettings settings_;
    std::optional<StatusServer::Options> options_;
};

} // namespace parking

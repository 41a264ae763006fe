#pragma once
// The demo site: a configuration file and an embedded database holding one
// installation and a dozen subscribers, one for each outcome at the
// entrance. Created anew (reset) each time.
#include <QString>

#include <cstdint>

namespace parking {

class Clock;

struct DemoSite {
    // The demo's one installation (its configuration's Instalacion=).
    static constexpr std::int16_t Installation = 1;
    QString folder;
    QString configPath;
    QString databasePath;
};

// Writes "Rivalto.ini" and "demo.db" into `folder` (created if needed),
// replacing what was there. Dates in the data are relative to `serverClock`.
// Throws DatabaseError when the folder or the files cannot be written.
DemoSite createDemoSite(const QString& folder, const Clock& serverClock);

// The user-writable folder the demo lives in by default.
QString defaultDemoFolder();

} // namespace parking

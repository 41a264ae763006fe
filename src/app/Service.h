#pragma once
// What running as a service adds to the stations: telling systemd when the
// program is ready, that it is alive, and that it is stopping.
#include <QTimer>

namespace parking {

// sd_notify: READY=1 once, then WATCHDOG=1 from the event loop at half the
// unit's watchdog interval, so a program whose loop hangs is restarted.
// Does nothing when not started by systemd (or built without libsystemd).
class ServiceNotifier {
public:
    // Again after a reload.
    void ready();
    void reloading();
    void stopping();

private:
    QTimer watchdog_;
};

} // namespace parking

#include "Service.h"

#include <QCoreApplication>

#if PARKING_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace parking {


void ServiceNotifier::ready()
{
#if PARKING_SYSTEMD
    sd_notify(0, "READY=1");
    if (watchdog_.isActive())
        return;
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_.setInterval(static_cast<int>(std::max<std::uint64_t>(usec / 2000, 1)));
        QObject::connect(&watchdog_, &QTimer::timeout, [] { sd_notify(0, "WATCHDOG=1"); });
        watchdog_.start();
    }
#endif
}

void ServiceNotifier::reloading()
{
#if PARKING_SYSTEMD
    sd_notify(0, "RELOADING=1");
#endif
}

void ServiceNotifier::stopping()
{
    watchdog_.stop();
#if PARKING_SYSTEMD
    sd_notify(0, "STOPPING=1");
#endif
}

} // namespace parking

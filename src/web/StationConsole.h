#pragma once
// The remote console's actions done on the stations' thread, as the
// operator window's buttons do them, with an audit line naming who asked
// (a named operator) and where the request came from. The status server's thread waits for the answer; if
// the stations do not take the work up within a few seconds the action is
// called off (it then never runs) and the console says so.
#include "RemoteConsole.h"
#include "StationController.h"

#include <QObject>

#include <chrono>
#include <functional>

namespace parking {

class StationConsole final : public ConsoleActions {
public:
    static constexpr std::chrono::seconds TakeUpLimit{5};

    // Lives on the stations' thread; `controller` outlives it.
    explicit StationConsole(StationController& controller) : controller_(controller) {}

    Outcome openBarrier(StationRole station, const QString& from, const QString& operatorName) override;
    Outcome setFreeSpaces(const QString& value, const QString& from, const QString& operatorName) override;
    void note(const QString& line) override;

private:
    Outcome onStations(std::function<Outcome()> work);

    StationController& controller_;
    QObject context_; // the stations' thread
};

} // namespace parking

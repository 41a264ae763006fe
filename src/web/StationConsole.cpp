#include "StationConsole.h"

#include "StationRole.h"

#include <QMetaObject>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace parking {

namespace {

// One action handed from the server's thread to the stations' thread.
struct Handover {
    enum class State { Waiting, Running, Finished, CalledOff };
    std::mutex mutex;
    std::condition_variable changed;
    State state = State::Waiting;
    ConsoleActions::Outcome outcome;
};

} // namespace

ConsoleActions::Outcome StationConsole::onStations(std::function<Outcome()> work)
{
    auto handover = std::make_shared<Handover>();
    QMetaObject::invokeMethod(
        &context_,
        [handover, work = std::move(work)] {
            {
                std::lock_guard lock(handover->mutex);
                if (handover->state == Handover::State::CalledOff)
                    return;
                handover->state = Handover::State::Running;
            }
            Outcome outcome = work();
            std::lock_guard lock(handover->mutex);
            handover->outcome = std::move(outcome);
            handover->state = Handover::State::Finished;
            handover->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(handover->mutex);
    // Once running, the action is waited for to its end: it has been done.
    if (!handover->changed.wait_for(lock, TakeUpLimit, [&] { return handover->state != Handover::State::Waiting; }))
        handover->state = Handover::State::CalledOff;
    if (handover->state == Handover::State::CalledOff)
        return {false, QStringLiteral("the stations are busy; nothing was done"), std::nullopt};
    handover->changed.wait(lock, [&] { return handover->state == Handover::State::Finished; });
    return handover->outcome;
}

namespace {

// " por NAME" after what was done, for a named operator.
QString by(const QString& operatorName)
{
    return operatorName.isEmpty() ? QString() : QStringLiteral(" por ") + operatorName;
}

} // namespace

ConsoleActions::Outcome StationConsole::openBarrier(StationRole station, const QString& from, const QString& operatorName)
{
    return onStations([this, station, from, operatorName]() -> Outcome {
        if (!controller_.inService())
            return {false, QStringLiteral("the stations are not in service"), std::nullopt};
        const bool entrance = station == StationRole::Entrance;
        controller_.log().write(QStringLiteral("Apertura manual remota: %1%2 (desde %3)")
                                    .arg(entrance ? QStringLiteral("entrada") : QStringLiteral("salida"), by(operatorName), from));
        controller_.openBarrierByHand(station);
        return {true, {}, std::nullopt};
    });
}

ConsoleActions::Outcome StationConsole::setFreeSpaces(const QString& value, const QString& from,
                                                      const QString& operatorName)
{
    return onStations([this, value, from, operatorName]() -> Outcome {
        if (!controller_.inService())
            return {false, QStringLiteral("the stations are not in service"), std::nullopt};
        controller_.log().write(
            QStringLiteral("Actualización remota de plazas: |%1|%2 (desde %3)").arg(value, by(operatorName), from));
        const auto set = controller_.setFreeSpacesByHand(value);
        if (!set)
            return {false, QStringLiteral("NO SE PUEDEN ACTUALIZAR LAS PLAZAS"), std::nullopt};
        return {true, {}, *set};
    });
}

void StationConsole::note(const QString& line)
{
    QMetaObject::invokeMethod(&context_, [this, line] { controller_.log().write(line); }, Qt::QueuedConnection);
}

} // namespace parking

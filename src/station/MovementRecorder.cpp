#include "MovementRecorder.h"

#include "PassageRecords.h"

#include <QRandomGenerator>

namespace parking {

MovementRecorder::MovementRecorder(Database& database, std::int16_t installation, WriteJournal& journal,
                                   const Clock& clock, std::function<void(const QString&)> log,
                                   const SteadyClock& steadyClock)
    : database_(database), installation_(installation), journal_(journal), clock_(clock), steadyClock_(steadyClock),
      log_(std::move(log))
{
}

void MovementRecorder::unitsTableFound(bool found)
{
    if (unitsTable_)
        return;
    unitsTable_ = found;
    if (!found) {
        log_(QStringLiteral("DIARIO: la base de datos no tiene la tabla DIARIO_APLICADO; una repetición del diario "
                            "cortada a medias puede escribirse dos veces"));
    }
}

void MovementRecorder::lookForUnitsTable(DatabaseCall kind)
{
    if (!unitsTable_)
        unitsTableFound(database_.call(kind, [](Connection& c) { return records::hasUnitsTable(c); }));
}

MovementRecorder::Recorded MovementRecorder::recordPassage(Kind movement, std::int32_t subscriber,
                                                          std::uint8_t installation)
{
    const Kind space = movement == Kind::Entrance ? Kind::TakeSpace : Kind::GiveSpace;
    const QDateTime when = clock_.now();
    // One key for the unit, whichever way it reaches the database.
    const QByteArray unit =
        QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    const auto started = steadyClock_.now();
    const auto budget = database_.deadline(DatabaseCall::PassageWrite);
    if (!journal_.empty())
        drainFor(budget);
    if (journal_.empty() && steadyClock_.now() - started < budget) {
        try {
            // The catalogue is asked at start-up; should that have failed,
            // here, in the same call.
            const records::Passage passage{movement == Kind::Entrance, installation_, subscriber, installation,
                                           QString::fromLatin1(unit)};
            const auto written = database_.call(DatabaseCall::PassageWrite, [passage, known = unitsTable_](Connection& c) {
                const bool keyed = known ? *known : records::hasUnitsTable(c);
                records::Passage p = passage;
                if (!keyed)
                    p.unit.clear();
                return std::pair{records::writePassage(c, p), keyed};
            });
            unitsTableFound(written.second);
            return Recorded{written.first, true};
        } catch (const std::exception& e) {
            log_(QStringLiteral("ERROR al escribir en la base de datos: ") + QString::fromUtf8(e.what()));
        }
    }
    // Written together or not at all: both wait in the journal, in order,
    // as one unit that the database will take once (and, if the write above
    // reached it after all, not again).
    if (journal_.appendUnit({{movement, subscriber, installation, when}, {space, 0, 0, when}}, unit)) {
        const auto& pending = journal_.pending();
        log_(QStringLiteral("DIARIO: pendiente ") + WriteJournal::describe(pending[pending.size() - 2]));
        log_(QStringLiteral("DIARIO: pendiente ") + WriteJournal::describe(pending.back()));
        return Recorded{std::nullopt, true};
    }
    log_(QStringLiteral("ERROR: no se puede guardar en el diario %1: %2")
             .arg(journal_.path(), WriteJournal::describe({0, movement, subscriber, installation, when})));
    return Recorded{std::nullopt, false};
}

MovementRecorder::Recorded MovementRecorder::recordEntrance(std::int32_t subscriber, std::uint8_t subscriberInstallation)
{
    return recordPassage(Kind::Entrance, subscriber, subscriberInstallation);
}

MovementRecorder::Recorded MovementRecorder::recordExit(std::int32_t subscriber, std::uint8_t subscriberInstallation)
{
    return recordPassage(Kind::Exit, subscriber, subscriberInstallation);
}

void MovementRecorder::pruneUnitKeys(int days)
{
    const QDateTime now = clock_.now();
    if (nextPrune_.isValid() && now < nextPrune_)
        return;
    try {
        lookForUnitsTable(DatabaseCall::Replay);
        if (!*unitsTable_)
            return;
        const bool more = database_.call(DatabaseCall::Replay, [before = now.addDays(-days)](Connection& c) {
            return records::pruneUnitKeys(c, before);
        });
        // Another batch at the next probe while old keys are left.
        nextPrune_ = more ? QDateTime() : now.addSecs(3600);
        pruneFailing_ = false;
    } catch (const std::exception& e) {
        if (!pruneFailing_)
            log_(QStringLiteral("DIARIO: no se pueden borrar las claves antiguas de DIARIO_APLICADO: ") +
                 QString::fromUtf8(e.what()));
        pruneFailing_ = true;
        nextPrune_ = now.addSecs(3600);
    }
}

void MovementRecorder::replayUnit(const std::vector<WriteJournal::Entry>& entries, DatabaseCall kind)
{
    lookForUnitsTable(kind);
    std::vector<records::JournalledWrite> writes;
    for (const WriteJournal::Entry& e : entries)
        writes.push_back({e.kind, e.subscriber, e.installation, e.when});
    const QString unit = *unitsTable_ ? QString::fromLatin1(entries.front().unit) : QString();
    database_.call(kind, [site = installation_, writes = std::move(writes), unit](Connection& c) {
        records::replayUnit(c, site, writes, unit);
    });
}

MovementRecorder::Drained MovementRecorder::drainFor(std::optional<std::chrono::milliseconds> budget, DatabaseCall kind)
{
    const auto started = steadyClock_.now();
    int written = 0;
    Drained outcome = Drained::All;
    while (!journal_.empty()) {
        if (budget && written > 0 && steadyClock_.now() - started >= *budget) {
            outcome = Drained::Paused;
            break;
        }
        // The oldest write and those after it of the same unit.
        std::vector<WriteJournal::Entry> unit{journal_.pending().front()};
        while (!unit.front().unit.isEmpty() && unit.size() < journal_.pending().size() &&
               journal_.pending()[unit.size()].unit == unit.front().unit)
            unit.push_back(journal_.pending()[unit.size()]);
        try {
            replayUnit(unit, kind);
        } catch (const std::exception& e) {
            if (!drainFailing_)
                log_(QStringLiteral("DIARIO: %1 pendientes; la base de datos no responde: %2")
                         .arg(journal_.pending().size())
                         .arg(QString::fromUtf8(e.what())));
            drainFailing_ = true;
            outcome = Drained::Failed;
            break;
        }
        bool marked = true;
        for (std::size_t i = 0; i < unit.size() && marked; ++i)
            marked = journal_.markOldestDone();
        if (!marked) {
            log_(QStringLiteral("ERROR: no se puede anotar en el diario %1").arg(journal_.path()));
            outcome = Drained::Failed;
            break;
        }
        written += static_cast<int>(unit.size());
    }
    if (written > 0) {
        drainFailing_ = false;
        log_(QStringLiteral("DIARIO: %1 escrituras pendientes guardadas en la base de datos").arg(written));
    }
    return outcome;
}

} // namespace parking

#include "MovementRecorder.h"

#include "DatabaseError.h"
#include "FieldValue.h"
#include "FreeSpaceCounter.h"

#include <QRandomGenerator>

namespace parking {

namespace {

// Whether the table of applied units is there, in each server's catalogue.
QString unitsTableQuestion(Dialect dialect)
{
    switch (dialect) {
    case Dialect::Embedded:
        return QStringLiteral("SELECT count(*) N FROM sqlite_master WHERE type = 'table' AND upper(name) = 'DIARIO_APLICADO'");
    case Dialect::Oracle:
        return QStringLiteral("SELECT COUNT(*) N FROM ALL_TABLES WHERE TABLE_NAME = 'DIARIO_APLICADO'");
    case Dialect::PostgreSQL:
        return QStringLiteral("SELECT count(*) N FROM information_schema.tables WHERE upper(table_name) = 'DIARIO_APLICADO' "
                              "AND table_schema = ANY (current_schemas(false))");
    case Dialect::Other:
        break;
    }
    return QStringLiteral("SELECT COUNT(*) N FROM INFORMATION_SCHEMA.TABLES WHERE UPPER(TABLE_NAME) = 'DIARIO_APLICADO'");
}

// An exit closes the subscriber's stays that began on the exit's day, no
// later than the exit, and are still open; the exit's time is the bound
// date (a journalled exit's), or the server's clock for a live one (bound
// as a null date). One rule, live and on replay.
const QString CloseStays = QStringLiteral(
    "UPDATE MOVIMIENTOS_PARKING SET HORASALIDA = COALESCE(?, SYSDATE) WHERE CODINSTALACION = ? AND CODIGO = ? "
    "AND HORAENTRADA >= TRUNC(COALESCE(?, SYSDATE)) AND HORAENTRADA <= COALESCE(?, SYSDATE) AND HORASALIDA IS NULL");

// `at`: the exit's time; invalid for the server's clock.
Parameters closeStaysParameters(std::int16_t installation, std::int32_t subscriber, const QDateTime& at)
{
    return {at, qlonglong(installation), qlonglong(subscriber), at, at};
}

} // namespace

MovementRecorder::MovementRecorder(Database& database, std::int16_t installation, WriteJournal& journal,
                                   const Clock& clock, std::function<void(const QString&)> log)
    : database_(database), installation_(installation), journal_(journal), clock_(clock), log_(std::move(log))
{
}

void MovementRecorder::writeMovement(Connection& c, std::int32_t subscriber, std::uint8_t subscriberInstallation,
                                     Kind movement)
{
    if (movement == Kind::Entrance) {
        c.run(QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) VALUES (?,?,?)"),
              {qlonglong(installation_), qlonglong(subscriber), qlonglong(subscriberInstallation)});
        return;
    }
    c.run(CloseStays, closeStaysParameters(installation_, subscriber, QDateTime()));
}

// The unit's key goes in with its writes, where the database keeps keys: a
// commit whose answer was lost then shows in the table, and the journalled
// copy of the unit is only marked done.
std::int16_t MovementRecorder::writePassage(Connection& c, Kind movement, std::int32_t subscriber,
                                           std::uint8_t installation, const QString& unit)
{
    const bool keyed = unitsRecorded(c);
    if (c.dialect() == Dialect::PostgreSQL)
        return writePassageAtOnce(c, movement, subscriber, installation, keyed ? unit : QString());
    c.begin();
    try {
        writeMovement(c, subscriber, installation, movement);
        FreeSpaceCounter counter(c, installation_);
        const std::int16_t left = movement == Kind::Entrance ? counter.decrement() : counter.increment();
        if (keyed)
            c.run(QStringLiteral("INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) VALUES (?, SYSDATE)"), {unit});
        c.commit();
        return left;
    } catch (...) {
        c.rollback();
        throw;
    }
}

// One statement, so one round trip and no transaction to open and close:
// the count's change and the movement together, the movement only where
// the count's row was there to change, and the new count read back.
std::int16_t MovementRecorder::writePassageAtOnce(Connection& c, Kind movement, std::int32_t subscriber,
                                                 std::uint8_t installation, const QString& unit)
{
    const bool entrance = movement == Kind::Entrance;
    const QString count =
        QStringLiteral("WITH u AS (UPDATE INSTALACIONES SET PLAZAS_LIBRES = %1 WHERE CodInstalacion = ? RETURNING PLAZAS_LIBRES), ")
            .arg(entrance ? FreeSpaceCounter::takeOne() : FreeSpaceCounter::giveOne());
    const QString move =
        entrance ? QStringLiteral("m AS (INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) "
                                  "SELECT ?,?,? FROM u) ")
                 : QStringLiteral("m AS (") + CloseStays + QStringLiteral(" AND EXISTS (SELECT 1 FROM u)) ");
    const QString key =
        unit.isEmpty() ? QString() : QStringLiteral(", k AS (INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) SELECT ?, SYSDATE FROM u) ");
    Parameters params{qlonglong(installation_)};
    if (entrance) {
        params.insert(params.end(), {qlonglong(installation_), qlonglong(subscriber), qlonglong(installation)});
    } else {
        const Parameters close = closeStaysParameters(installation_, subscriber, QDateTime());
        params.insert(params.end(), close.begin(), close.end());
    }
    if (!unit.isEmpty())
        params.emplace_back(unit);
    auto row = c.query(count + move + key + QStringLiteral("SELECT PLAZAS_LIBRES FROM u"), params);
    if (!row->hasRow())
        throw DatabaseError(QStringLiteral("There is no installation %1").arg(installation_));
    return toInt16(row->field(QStringLiteral("Plazas_Libres")));
}

MovementRecorder::Recorded MovementRecorder::recordPassage(Kind movement, std::int32_t subscriber,
                                                          std::uint8_t installation)
{
    const Kind space = movement == Kind::Entrance ? Kind::TakeSpace : Kind::GiveSpace;
    const QDateTime when = clock_.now();
    // One key for the unit, whichever way it reaches the database.
    const QByteArray unit =
        QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    if (!journal_.empty())
        drain();
    if (journal_.empty()) {
        try {
            return Recorded{writePassage(*database_.connection(), movement, subscriber, installation,
                                         QString::fromLatin1(unit)),
                            true};
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

void MovementRecorder::replay(Connection& c, const WriteJournal::Entry& e)
{
    const qlonglong inst = installation_;
    const qlonglong code = e.subscriber;
    switch (e.kind) {
    case Kind::Entrance:
        // The row keeps the time of the passage; one already written (the
        // replay was cut short after the write) is not written again.
        c.run(QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO,HORAENTRADA) "
                             "SELECT ?,?,?,? FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM Movimientos_Parking "
                             "WHERE CodInstalacion = ? AND Codigo = ? AND HORAENTRADA = ?)"),
              {inst, code, qlonglong(e.installation), e.when, inst, code, e.when});
        break;
    case Kind::Exit:
        // What the exit closed at its own time.
        c.run(CloseStays, closeStaysParameters(installation_, e.subscriber, e.when));
        break;
    case Kind::TakeSpace:
        FreeSpaceCounter(c, installation_).decrement();
        break;
    case Kind::GiveSpace:
        FreeSpaceCounter(c, installation_).increment();
        break;
    }
}

namespace {

// One batch of keys older than a date, in each server's words for "at most
// N rows".
QString pruneStatement(Dialect dialect)
{
    const QString older = QStringLiteral("FECHA < TO_DATE(?, 'YYYY-MM-DD HH24:MI:SS')");
    const QString batch = QString::number(MovementRecorder::UnitKeyBatch);
    switch (dialect) {
    case Dialect::Oracle:
        return QStringLiteral("DELETE FROM DIARIO_APLICADO WHERE %1 AND ROWNUM <= %2").arg(older, batch);
    case Dialect::Embedded:
    case Dialect::PostgreSQL:
        return QStringLiteral("DELETE FROM DIARIO_APLICADO WHERE UNIDAD IN (SELECT UNIDAD FROM DIARIO_APLICADO WHERE %1 "
                              "LIMIT %2)").arg(older, batch);
    case Dialect::Other:
        break;
    }
    return QStringLiteral("DELETE FROM DIARIO_APLICADO WHERE UNIDAD IN (SELECT UNIDAD FROM DIARIO_APLICADO WHERE %1 "
                          "FETCH FIRST %2 ROWS ONLY)").arg(older, batch);
}

} // namespace

void MovementRecorder::pruneUnitKeys(int days)
{
    const QDateTime now = clock_.now();
    if (nextPrune_.isValid() && now < nextPrune_)
        return;
    try {
        const auto connection = database_.connection();
        Connection& c = *connection;
        if (!unitsRecorded(c))
            return;
        const QString before = now.addDays(-days).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const auto count = [&] {
            return toDouble(c.query(QStringLiteral("SELECT COUNT(*) N FROM DIARIO_APLICADO WHERE FECHA < "
                                                   "TO_DATE(?, 'YYYY-MM-DD HH24:MI:SS')"),
                                    {before})
                                ->field(QStringLiteral("N")));
        };
        c.run(pruneStatement(c.dialect()), {before});
        // Another batch at the next probe while old keys are left.
        nextPrune_ = count() > 0 ? QDateTime() : now.addSecs(3600);
        pruneFailing_ = false;
    } catch (const std::exception& e) {
        if (!pruneFailing_)
            log_(QStringLiteral("DIARIO: no se pueden borrar las claves antiguas de DIARIO_APLICADO: ") +
                 QString::fromUtf8(e.what()));
        pruneFailing_ = true;
        nextPrune_ = now.addSecs(3600);
    }
}

bool MovementRecorder::unitsRecorded(Connection& c)
{
    if (unitsTable_)
        return *unitsTable_;
    // The server's catalogue, asked once: a fault here is the database's,
    // and goes up.
    unitsTable_ = toDouble(c.query(unitsTableQuestion(c.dialect()), {})->field(QStringLiteral("N"))) > 0;
    if (!*unitsTable_) {
        log_(QStringLiteral("DIARIO: la base de datos no tiene la tabla DIARIO_APLICADO; una repetición del diario "
                            "cortada a medias puede escribirse dos veces"));
    }
    return *unitsTable_;
}

void MovementRecorder::replayUnit(const std::vector<WriteJournal::Entry>& entries)
{
    const auto connection = database_.connection();
    Connection& c = *connection;
    const QByteArray& unit = entries.front().unit;
    if (unit.isEmpty() || !unitsRecorded(c)) {
        for (const WriteJournal::Entry& e : entries)
            replay(c, e);
        return;
    }
    // The unit's rows and its key in one transaction: a unit whose key is
    // there was written whole, by this workstation before it was stopped.
    c.begin();
    try {
        const QString key = QString::fromLatin1(unit);
        if (!c.query(QStringLiteral("SELECT UNIDAD FROM DIARIO_APLICADO WHERE UNIDAD = ?"), {key})->hasRow()) {
            for (const WriteJournal::Entry& e : entries)
                replay(c, e);
            c.run(QStringLiteral("INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) VALUES (?, SYSDATE)"), {key});
        }
        c.commit();
    } catch (...) {
        c.rollback();
        throw;
    }
}

bool MovementRecorder::drain()
{
    int written = 0;
    while (!journal_.empty()) {
        // The oldest write and those after it of the same unit.
        std::vector<WriteJournal::Entry> unit{journal_.pending().front()};
        while (!unit.front().unit.isEmpty() && unit.size() < journal_.pending().size() &&
               journal_.pending()[unit.size()].unit == unit.front().unit)
            unit.push_back(journal_.pending()[unit.size()]);
        try {
            replayUnit(unit);
        } catch (const std::exception& e) {
            if (!drainFailing_)
                log_(QStringLiteral("DIARIO: %1 pendientes; la base de datos no responde: %2")
                         .arg(journal_.pending().size())
                         .arg(QString::fromUtf8(e.what())));
            drainFailing_ = true;
            break;
        }
        bool marked = true;
        for (std::size_t i = 0; i < unit.size() && marked; ++i)
            marked = journal_.markOldestDone();
        if (!marked) {
            log_(QStringLiteral("ERROR: no se puede anotar en el diario %1").arg(journal_.path()));
            break;
        }
        written += static_cast<int>(unit.size());
    }
    if (written > 0) {
        drainFailing_ = false;
        log_(QStringLiteral("DIARIO: %1 escrituras pendientes guardadas en la base de datos").arg(written));
    }
    return journal_.empty();
}

} // namespace parking

#include "PassageRecords.h"

#include "DatabaseError.h"
#include "FieldValue.h"
#include "FreeSpaceCounter.h"

namespace parking::records {

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
Parameters closeStaysParameters(std::int16_t site, std::int32_t subscriber, const QDateTime& at)
{
    return {at, qlonglong(site), qlonglong(subscriber), at, at};
}

const QString InsertKey = QStringLiteral("INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) VALUES (?, SYSDATE)");

void writeMovement(Connection& c, const Passage& p)
{
    if (p.entrance) {
        c.run(QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) VALUES (?,?,?)"),
              {qlonglong(p.site), qlonglong(p.subscriber), qlonglong(p.subscriberInstallation)});
        return;
    }
    c.run(CloseStays, closeStaysParameters(p.site, p.subscriber, QDateTime()));
}

// One statement, so one round trip and no transaction to open and close:
// the count's change and the movement together, the movement only where
// the count's row was there to change, and the new count read back.
std::int16_t writePassageAtOnce(Connection& c, const Passage& p)
{
    const QString count =
        QStringLiteral("WITH u AS (UPDATE INSTALACIONES SET PLAZAS_LIBRES = %1 WHERE CodInstalacion = ? RETURNING PLAZAS_LIBRES), ")
            .arg(p.entrance ? FreeSpaceCounter::takeOne() : FreeSpaceCounter::giveOne());
    const QString move =
        p.entrance ? QStringLiteral("m AS (INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) "
                                    "SELECT ?,?,? FROM u) ")
                   : QStringLiteral("m AS (") + CloseStays + QStringLiteral(" AND EXISTS (SELECT 1 FROM u)) ");
    const QString key =
        p.unit.isEmpty() ? QString() : QStringLiteral(", k AS (INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) SELECT ?, SYSDATE FROM u) ");
    Parameters params{qlonglong(p.site)};
    if (p.entrance) {
        params.insert(params.end(), {qlonglong(p.site), qlonglong(p.subscriber), qlonglong(p.subscriberInstallation)});
    } else {
        const Parameters close = closeStaysParameters(p.site, p.subscriber, QDateTime());
        params.insert(params.end(), close.begin(), close.end());
    }
    if (!p.unit.isEmpty())
        params.emplace_back(p.unit);
    auto row = c.query(count + move + key + QStringLiteral("SELECT PLAZAS_LIBRES FROM u"), params);
    if (!row->hasRow())
        throw DatabaseError(QStringLiteral("There is no installation %1").arg(p.site));
    return toInt16(row->field(QStringLiteral("Plazas_Libres")));
}

void replayWrite(Connection& c, std::int16_t site, const JournalledWrite& w)
{
    const qlonglong inst = site;
    const qlonglong code = w.subscriber;
    switch (w.kind) {
    case WriteKind::Entrance:
        // The row keeps the time of the passage; one already written (the
        // replay was cut short after the write) is not written again.
        c.run(QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO,HORAENTRADA) "
                             "SELECT ?,?,?,? FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM Movimientos_Parking "
                             "WHERE CodInstalacion = ? AND Codigo = ? AND HORAENTRADA = ?)"),
              {inst, code, qlonglong(w.installation), w.when, inst, code, w.when});
        break;
    case WriteKind::Exit:
        // What the exit closed at its own time.
        c.run(CloseStays, closeStaysParameters(site, w.subscriber, w.when));
        break;
    case WriteKind::TakeSpace:
        FreeSpaceCounter(c, site).decrement();
        break;
    case WriteKind::GiveSpace:
        FreeSpaceCounter(c, site).increment();
        break;
    }
}

// One batch of keys older than a date, in each server's words for "at most
// N rows".
QString pruneStatement(Dialect dialect)
{
    const QString older = QStringLiteral("FECHA < TO_DATE(?, 'YYYY-MM-DD HH24:MI:SS')");
    const QString batch = QString::number(UnitKeyBatch);
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

// The unit's key goes in with its writes, where the database keeps keys: a
// commit whose answer was lost then shows in the table, and the journalled
// copy of the unit is only marked done.
std::int16_t writePassage(Connection& c, const Passage& p)
{
    if (c.dialect() == Dialect::PostgreSQL)
        return writePassageAtOnce(c, p);
    c.begin();
    try {
        writeMovement(c, p);
        FreeSpaceCounter counter(c, p.site);
        const std::int16_t left = p.entrance ? counter.decrement() : counter.increment();
        if (!p.unit.isEmpty())
            c.run(InsertKey, {p.unit});
        c.commit();
        return left;
    } catch (...) {
        c.rollback();
        throw;
    }
}

void replayUnit(Connection& c, std::int16_t site, const std::vector<JournalledWrite>& writes, const QString& unit)
{
    if (unit.isEmpty()) {
        for (const JournalledWrite& w : writes)
            replayWrite(c, site, w);
        return;
    }
    // The unit's rows and its key in one transaction: a unit whose key is
    // there was written whole, by this workstation before it was stopped.
    c.begin();
    try {
        if (!c.query(QStringLiteral("SELECT UNIDAD FROM DIARIO_APLICADO WHERE UNIDAD = ?"), {unit})->hasRow()) {
            for (const JournalledWrite& w : writes)
                replayWrite(c, site, w);
            c.run(InsertKey, {unit});
        }
        c.commit();
    } catch (...) {
        c.rollback();
        throw;
    }
}

bool hasUnitsTable(Connection& c)
{
    return toDouble(c.query(unitsTableQuestion(c.dialect()), {})->field(QStringLiteral("N"))) > 0;
}

bool pruneUnitKeys(Connection& c, const QDateTime& before)
{
    const QString date = before.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    c.run(pruneStatement(c.dialect()), {date});
    return toDouble(c.query(QStringLiteral("SELECT COUNT(*) N FROM DIARIO_APLICADO WHERE FECHA < "
                                           "TO_DATE(?, 'YYYY-MM-DD HH24:MI:SS')"),
                            {date})
                        ->field(QStringLiteral("N"))) > 0;
}

} // namespace parking::records

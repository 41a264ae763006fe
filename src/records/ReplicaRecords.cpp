#include "ReplicaRecords.h"

#include "Clock.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "SqliteConnection.h"

#include <QFile>
#include <QStringList>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace parking::records {

namespace {

// One table's copy: the columns (the same names on the server and in the
// replica) and which rows.
struct TableCopy {
    const char* table;
    const char* columns;
    const char* where;
};

// Since the start of last month: what the month's rules and the current
// rows can need during an outage that spans a month's end.
#define SINCE_LAST_MONTH "ADD_MONTHS(TRUNC(SYSDATE,'MM'),-1)"

const TableCopy Copies[] = {
    {"INSTALACIONES", "CodInstalacion,PLAZAS_LIBRES", "1=1"},
    {"ABONADOS", "CodInstalacion,Codigo,Cursillista,CodigoRelacion,CODTARJETA", "1=1"},
    {"MOVTOSCUOTAS1", "CodInstalacion,Codigo,FecAlta,FecBaja,CodCuota",
     "FecBaja IS NULL OR FecBaja >= " SINCE_LAST_MONTH},
    {"Cuotas",
     "CodInstalacion,CodCuota,HoraInicio1,HoraInicio2,HoraInicio3,HoraInicio4,HoraFin1,HoraFin2,HoraFin3,HoraFin4,"
     "NUMACCESOS_MTO",
     "1=1"},
    {"MovtosCursos", "CodInstalacion,Codigo,CodCurso", "1=1"},
    {"CURSOS",
     "CodInstalacion,CodCurso,FecInicio,FecFin,HoraInicio1,HoraInicio2,HoraInicio3,HoraInicio4,HoraInicio5,"
     "HoraInicio6,HoraInicio7,HoraFin1,HoraFin2,HoraFin3,HoraFin4,HoraFin5,HoraFin6,HoraFin7",
     "FecFin >= " SINCE_LAST_MONTH},
    {"BLOQUEOS", "CodInstalacion,Codigo,FECHA,FECHA_DESBLOQUEO", "FECHA_DESBLOQUEO IS NULL"},
    {"Recibos", "NumRecibo,CodInstalacion,Codigo,FECHA,CodDevolucion", "CodDevolucion < 90"},
    {"MOVIMIENTOS", "CODINSTALACION,CODIGO,INSTALACIONABONADO,FECHA,HORAENTRADA", "FECHA >= " SINCE_LAST_MONTH},
};

// A value as the embedded database keeps it: dates as the wall-clock text
// the schema checks, times of day as "hh:mm:ss".
QVariant stored(const QVariant& v)
{
    if (v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QDate:
        return wallTime(v.toDate(), QTime(0, 0));
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    default:
        return v;
    }
}

std::size_t copyRows(Connection& server, Connection& replica, const QString& select, const Parameters& params,
                     const QString& insert)
{
    const auto rows = server.query(select, params);
    const std::size_t columns = static_cast<std::size_t>(insert.count(QLatin1Char('?')));
    for (std::size_t r = 0; r < rows->size(); ++r) {
        Parameters values;
        values.reserve(columns);
        for (std::size_t c = 0; c < columns; ++c)
            values.push_back(stored(rows->at(r, c)));
        replica.run(insert, values);
    }
    return rows->size();
}

QString placeholders(const QString& columns)
{
    QStringList marks;
    for (qsizetype i = 0; i < columns.split(QLatin1Char(',')).size(); ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1Char(','));
}

// An empty file only the program's account may read, for the schema.
void createPrivateFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        throw DatabaseError(QStringLiteral("Cannot create the replica %1").arg(path));
    ::close(fd);
}

const QString InfoTable = QStringLiteral("REPLICA_INFO");

// The server's clock, read first: the offset, and the time the copy is of.
ReplicaInfo startInfo(Connection& server, std::int16_t installation, const QDateTime& workstationNow)
{
    const auto serverNow = server.query(QStringLiteral("SELECT SYSDATE FROM DUAL"), {});
    ReplicaInfo info;
    info.installation = installation;
    info.refreshedAt = workstationNow;
    const QDateTime serverTime = toDateTime(serverNow->at(0, 0));
    info.serverOffsetMs = serverTime.isValid() ? workstationNow.msecsTo(serverTime) : 0;
    return info;
}

QString insertOf(const TableCopy& t)
{
    const QString columns = QString::fromLatin1(t.columns);
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(QString::fromLatin1(t.table), columns, placeholders(columns));
}

bool isEntries(const TableCopy& t)
{
    return qstrcmp(t.table, "MOVIMIENTOS") == 0;
}

std::size_t copyTable(Connection& server, Connection& replica, const TableCopy& t)
{
    const QString select = QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                               .arg(QString::fromLatin1(t.columns), QString::fromLatin1(t.table),
                                    QString::fromLatin1(t.where));
    return copyRows(server, replica, select, {}, insertOf(t));
}

void writeInfo(Connection& replica, const ReplicaInfo& info)
{
    replica.execute(QStringLiteral("DELETE FROM %1").arg(InfoTable));
    replica.run(QStringLiteral("INSERT INTO %1 VALUES (?,?,?,?,?,?)").arg(InfoTable),
                {qlonglong(info.installation), info.refreshedAt, info.serverOffsetMs, static_cast<qlonglong>(info.rows),
                 info.completeAt, info.complete ? 1 : 0});
}

// Back to a rollback journal: the file is then whole on its own, with
// nothing beside it, and can be renamed into place and read read-only.
void finish(Connection& replica)
{
    replica.commit();
    replica.execute(QStringLiteral("PRAGMA journal_mode=DELETE"));
}

// The replica's own SYSDATE is never read while it is written.
std::unique_ptr<Connection> openForWriting(const QString& path, const Clock& unused)
{
    auto replica = std::make_unique<SqliteConnection>(unused, QString());
    replica->open(QStringLiteral("Data Source=sqlite:") + path, {});
    return replica;
}

} // namespace

ReplicaInfo buildReplica(Connection& server, const QString& path, std::int16_t installation,
                         const QDateTime& workstationNow)
{
    ReplicaInfo info = startInfo(server, installation, workstationNow);
    info.completeAt = workstationNow;
    info.complete = true;

    createPrivateFile(path);
    const ManualClock unused(workstationNow);
    const auto replica = openForWriting(path, unused);
    replica->execute(embeddedSchemaSql());
    replica->execute(QStringLiteral("CREATE TABLE %1 (Installation INTEGER, RefreshedAt TEXT, ServerOffsetMs INTEGER, "
                                    "Rows INTEGER, CompleteAt TEXT, Complete INTEGER)")
                         .arg(InfoTable));
    replica->begin();
    for (const TableCopy& t : Copies)
        info.rows += copyTable(server, *replica, t);
    // Each subscriber's last entry, wherever it was made.
    info.rows += copyRows(server, *replica,
                          QStringLiteral("SELECT -1,CODIGO,INSTALACIONABONADO,NULL,MAX(HORAENTRADA) FROM MOVIMIENTOS "
                                         "GROUP BY CODIGO,INSTALACIONABONADO"),
                          {}, insertOf({"MOVIMIENTOS", "CODINSTALACION,CODIGO,INSTALACIONABONADO,FECHA,HORAENTRADA", ""}));
    writeInfo(*replica, info);
    finish(*replica);
    return info;
}

ReplicaInfo updateReplica(Connection& server, const QString& path, const ReplicaInfo& previous,
                          const QDateTime& workstationNow)
{
    ReplicaInfo info = startInfo(server, previous.installation, workstationNow);
    info.completeAt = previous.completeAt;
    info.complete = false;
    // Rows of a month before last would stay: the month's end needs a
    // complete refresh, and the caller asks for one then.
    const QDateTime since = previous.serverTime().addSecs(-IncrementalOverlapSeconds);

    const ManualClock unused(workstationNow);
    const auto replica = openForWriting(path, unused);
    replica->begin();
    for (const TableCopy& t : Copies) {
        if (isEntries(t))
            continue;
        replica->execute(QStringLiteral("DELETE FROM %1").arg(QString::fromLatin1(t.table)));
        info.rows += copyTable(server, *replica, t);
    }
    // The last-entry rows (installation -1) stay: a newer entry is copied
    // as itself and the maximum sees it.
    replica->run(QStringLiteral("DELETE FROM MOVIMIENTOS WHERE CODINSTALACION <> -1 AND HORAENTRADA >= ?"), {since});
    const TableCopy entries{"MOVIMIENTOS", "CODINSTALACION,CODIGO,INSTALACIONABONADO,FECHA,HORAENTRADA", ""};
    info.rows += copyRows(server, *replica,
                          QStringLiteral("SELECT %1 FROM MOVIMIENTOS WHERE HORAENTRADA >= ?")
                              .arg(QString::fromLatin1(entries.columns)),
                          {since}, insertOf(entries));
    writeInfo(*replica, info);
    finish(*replica);
    return info;
}

void copyReplica(const QString& from, const QString& to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw DatabaseError(QStringLiteral("Cannot read the replica %1").arg(from));
    const int fd = ::open(QFile::encodeName(to).constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        throw DatabaseError(QStringLiteral("Cannot create the replica %1").arg(to));
    bool written = true;
    while (written && !source.atEnd()) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty() && !source.atEnd())
            written = false;
        for (qsizetype done = 0; written && done < block.size();) {
            const ssize_t n = ::write(fd, block.constData() + done, static_cast<size_t>(block.size() - done));
            written = n > 0;
            done += n > 0 ? n : 0;
        }
    }
    ::close(fd);
    if (!written)
        throw DatabaseError(QStringLiteral("Cannot copy the replica to %1").arg(to));
}

std::optional<ReplicaInfo> readReplicaInfo(Connection& replica)
{
    const auto rows = replica.query(
        QStringLiteral("SELECT Installation,RefreshedAt,ServerOffsetMs,Rows,CompleteAt,Complete FROM %1").arg(InfoTable),
        {});
    if (!rows->hasRow())
        return std::nullopt;
    ReplicaInfo info;
    info.installation = toInt16(rows->at(0, 0));
    info.refreshedAt = toDateTime(rows->at(0, 1));
    info.serverOffsetMs = static_cast<qint64>(toDouble(rows->at(0, 2)));
    info.rows = static_cast<std::size_t>(toDouble(rows->at(0, 3)));
    info.completeAt = toDateTime(rows->at(0, 4));
    info.complete = toDouble(rows->at(0, 5)) != 0;
    if (!info.refreshedAt.isValid() || !info.completeAt.isValid())
        return std::nullopt;
    return info;
}

} // namespace parking::records

#include "AccessFactsRecords.h"

#include "AccessDecision.h"
#include "DatabaseError.h"
#include "FieldValue.h"

#include <QStringList>

namespace parking::records {

namespace {

// One statement of tagged rows, each branch one kind of fact, in the
// columns TAG, V1..V4 (numbers), D1, D2 (dates) and H1..H14 (times of
// day). The first branch names every column with a real type, so the
// fillers of the others take their types from it on every server; each
// branch is the statement that once read that fact on its own, so rows
// come in the same order as they did.
enum Tag { Course = 1, CurrentFee = 2, Fee = 3, Subscriber = 4, Counts = 5, Spaces = 6 };

QString fillers(int count)
{
    QStringList nulls;
    for (int i = 0; i < count; ++i)
        nulls << QStringLiteral("NULL");
    return nulls.join(QLatin1Char(','));
}

const QString CurrentFeeFilter = QStringLiteral(
    "Codigo = ? AND CodInstalacion = ? AND FECALTA <= TRUNC(SYSDATE) AND (FECBAJA >= TRUNC(SYSDATE) OR FECBAJA IS NULL)");

QString allowanceCodes()
{
    QStringList codes;
    for (int code : rights::AllowanceFeeCodes)
        codes << QString::number(code);
    return codes.join(QLatin1Char(','));
}

QString statement()
{
    const QString courses = QStringLiteral(
        "SELECT 1 TAG, C.CodCurso V1, CAST(NULL AS INTEGER) V2, CAST(NULL AS INTEGER) V3, CAST(NULL AS INTEGER) V4, "
        "C.FecInicio D1, C.FecFin D2, C.HoraInicio1 H1, C.HoraInicio2 H2, C.HoraInicio3 H3, C.HoraInicio4 H4, "
        "C.HoraInicio5 H5, C.HoraInicio6 H6, C.HoraInicio7 H7, C.HoraFin1 H8, C.HoraFin2 H9, C.HoraFin3 H10, "
        "C.HoraFin4 H11, C.HoraFin5 H12, C.HoraFin6 H13, C.HoraFin7 H14 "
        "FROM MovtosCursos M INNER JOIN CURSOS C ON (M.CODINSTALACION = C.CODINSTALACION AND M.CODCURSO=C.CODCURSO) "
        "WHERE C.FECINICIO <= TRUNC(SYSDATE) AND C.FECFIN > TRUNC(SYSDATE) AND M.Codigo = ? AND M.CodInstalacion = ?");
    const QString currentFees =
        QStringLiteral("SELECT 2,CodCuota,%1 FROM MOVTOSCUOTAS1 WHERE %2").arg(fillers(19), CurrentFeeFilter);
    const QString fees = QStringLiteral(
        "SELECT 3,CodCuota,NUMACCESOS_MTO,NULL,NULL,NULL,NULL,HoraInicio1,HoraInicio2,HoraInicio3,HoraInicio4,"
        "HoraFin1,HoraFin2,HoraFin3,HoraFin4,%1 FROM Cuotas WHERE CodInstalacion = ? AND CodCuota IN "
        "(SELECT CodCuota FROM MOVTOSCUOTAS1 WHERE %2)").arg(fillers(6), CurrentFeeFilter);
    const QString subscriber =
        QStringLiteral("SELECT 4,Cursillista,%1 FROM ABONADOS WHERE Codigo = ? AND CodInstalacion = ?").arg(fillers(19));
    const QString counts = QStringLiteral(
        "SELECT 5,"
        "(SELECT COUNT(*) FROM BLOQUEOS WHERE CodInstalacion = ? AND Codigo = ? AND FECHA_DESBLOQUEO IS NULL AND "
        "FECHA <= SYSDATE),"
        "(SELECT COUNT(*) FROM Recibos WHERE CodInstalacion = ? AND (Codigo = ? OR Codigo = (SELECT CodigoRelacion "
        "FROM ABONADOS WHERE Codigo = ? AND CodInstalacion = ?)) AND CodDevolucion < 90 AND FECHA <= TRUNC(SYSDATE)),"
        // Counted only where the decision can need them: today's entries
        // for someone enrolled on a course, the month's for the holder of
        // a fee with an allowance.
        "CASE WHEN EXISTS (SELECT 1 FROM MovtosCursos WHERE Codigo = ? AND CodInstalacion = ?) THEN "
        "(SELECT COUNT(*) FROM MOVIMIENTOS WHERE CODIGO = ? AND CODINSTALACION = ? AND FECHA >= TRUNC(SYSDATE) AND "
        "FECHA < TRUNC(SYSDATE) + 1) END,"
        "CASE WHEN EXISTS (SELECT 1 FROM MOVTOSCUOTAS1 WHERE Codigo = ? AND CodInstalacion = ? AND CodCuota IN (%2)) THEN "
        "(SELECT COUNT(*) FROM MOVIMIENTOS WHERE CODINSTALACION = ? AND CODIGO = ? AND FECHA >= TRUNC(SYSDATE,'MM') "
        "AND FECHA < ADD_MONTHS(TRUNC(SYSDATE,'MM'),1)) END,"
        "(SELECT MAX(HORAENTRADA) FROM MOVIMIENTOS WHERE CODIGO = ? AND INSTALACIONABONADO = ?),"
        "%1 FROM DUAL").arg(fillers(15), allowanceCodes());
    const QString spaces =
        QStringLiteral("SELECT 6,PLAZAS_LIBRES,%1 FROM INSTALACIONES WHERE CodInstalacion = ?").arg(fillers(19));
    return QStringList{courses, currentFees, fees, subscriber, counts, spaces}.join(QStringLiteral(" UNION ALL "));
}

// The columns' places: TAG, V1..V4, D1, D2, H1..H14.
enum Column : std::size_t { TagColumn = 0, V1 = 1, V2, V3, V4, D1, D2, H1 };

// N times of day from the row, HOURn at column H1 + first - 1 + n.
template <std::size_t N>
std::array<QVariant, N> times(const Recordset& rows, std::size_t row, std::size_t first)
{
    std::array<QVariant, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = rows.at(row, H1 + first - 1 + i);
    return out;
}

// Each row says by its tag what it holds.
AccessFacts factsFrom(const Recordset& rows)
{
    AccessFacts facts;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        auto field = [&](Column column) { return rows.at(row, column); };
        const QVariant v1 = field(V1);
        switch (toInt32(field(TagColumn))) {
        case Course:
            facts.courses.push_back({field(D1), field(D2), times<7>(rows, row, 1), times<7>(rows, row, 8)});
            break;
        case CurrentFee:
            facts.currentFeeCodes.push_back(v1);
            break;
        case Fee:
            facts.fees.push_back({v1, field(V2), times<4>(rows, row, 1), times<4>(rows, row, 5)});
            break;
        case Subscriber:
            facts.subscriberFound = true;
            facts.courseHolder = v1;
            break;
        case Counts:
            facts.blocked = toDouble(v1) > 0;
            facts.receiptsUnpaid = toDouble(field(V2)) > 0;
            facts.entriesToday = field(V3);
            facts.entriesThisMonth = field(V4);
            facts.lastEntry = field(D1);
            break;
        case Spaces:
            facts.freeSpaces = v1;
            break;
        default:
            break;
        }
    }
    return facts;
}

} // namespace

QString accessFactsStatement()
{
    static const QString sql = statement();
    return sql;
}

AccessFacts loadAccessFacts(Connection& connection, std::int32_t subscriber, std::int32_t installation,
                            std::int32_t siteInstallation)
{
    const qlonglong s = subscriber;
    const qlonglong i = installation;
    const Parameters params{s, i,                         // courses
                            s, i,                         // current fees
                            i, s, i,                      // fee definitions
                            s, i,                         // the subscriber
                            i, s,                         // blocks
                            i, s, s, i,                   // receipts
                            s, i, s, i,                   // today's entries
                            s, i, i, s,                   // the month's entries
                            s, i,                         // the last entry
                            qlonglong(siteInstallation)};
    return factsFrom(*connection.query(accessFactsStatement(), params));
}

} // namespace parking::records

#include "ReferenceRules.h"

#include "DatabaseError.h"
#include "FieldValue.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include <cstdlib>

namespace parking::test {

namespace {

// The time of day of a timetable bound; nullopt for Null, which sets no
// bound. A value that is no time at all is an error, not a missing bound.
std::optional<QTime> bound(const QVariant& value)
{
    if (value.isNull())
        return std::nullopt;
    const QDateTime t = toDateTime(value);
    if (!t.isValid())
        throw DatabaseError(QStringLiteral("Type mismatch: \"%1\" is not a time of day").arg(value.toString()));
    return t.time();
}

QString text(const QTime& t)
{
    return t.toString(QStringLiteral("HH:mm:ss"));
}

bool hasMonthlyAllowance(double feeCode)
{
    return std::find(std::begin(ReferenceRules::AllowanceFeeCodes), std::end(ReferenceRules::AllowanceFeeCodes), feeCode) !=
           std::end(ReferenceRules::AllowanceFeeCodes);
}

} // namespace

QString shiftedTimeText(const QTime& time, int seconds)
{
    const int s = time.msecsSinceStartOfDay() / 1000 + seconds;
    if (s < 0)
        return QStringLiteral("00:00:00");
    if (s > 86399)
        return QStringLiteral("23:59:59");
    return QTime(0, 0).addSecs(s).toString(QStringLiteral("HH:mm:ss"));
}

std::unique_ptr<Recordset> ReferenceRules::read(const QString& sql, std::initializer_list<qlonglong> values)
{
    Parameters params;
    for (qlonglong v : values)
        params.emplace_back(v);
    return connection_.query(sql, params);
}

AccessResult ReferenceRules::check(std::int32_t subscriberCode, std::int32_t installationCode)
{
    const qlonglong code = subscriberCode;
    const qlonglong inst = installationCode;

    auto fees = read(QStringLiteral("SELECT CodInstalacion,Codigo,FecAlta,FecBaja,CodCuota FROM MOVTOSCUOTAS1 M WHERE Codigo = ? "
                                    "AND CodInstalacion =? AND FECALTA <= TRUNC(SYSDATE) AND (FECBAJA >= TRUNC(SYSDATE) OR "
                                    "FECBAJA IS NULL)"),
                     {code, inst});

    auto subscriber = read(QStringLiteral("SELECT CodInstalacion,Codigo,Cursillista,FormaPago,CodigoRelacion FROM ABONADOS "
                                          "WHERE Codigo = ? AND CodInstalacion =?"),
                           {code, inst});
    if (!subscriber->hasRow())
        return AccessResult::SubscriberUnknown;

    auto blocks = read(QStringLiteral("SELECT BLOQUEADO FROM BLOQUEOS WHERE CodInstalacion =? AND Codigo =? AND "
                                      "FECHA_DESBLOQUEO IS NULL AND FECHA <= SYSDATE"),
                       {inst, code});
    if (blocks->hasRow())
        return AccessResult::SubscriberBlocked;
    blocks.reset();

    if (lastEntryTooRecent(subscriberCode, installationCode) == 1)
        return AccessResult::EntryTooSoon;

    // Without a related code only the subscriber's own receipts count: the
    // statement then names the subscriber twice.
    const QVariant related = subscriber->field(QStringLiteral("CodigoRelacion"));
    const qlonglong relatedCode = related.isNull() ? code : toInt32(related);
    auto receipts = read(QStringLiteral("SELECT CodInstalacion,Codigo FROM Recibos WHERE CodInstalacion = ? AND (Codigo = ? OR "
                                        "Codigo = ?) AND CodDevolucion < 90 AND FECHA <= TRUNC(sysdate) ORDER BY NumRecibo ASC"),
                         {inst, code, relatedCode});
    if (receipts->hasRow())
        return AccessResult::ReceiptsUnpaid;
    receipts.reset();

    const QVariant kind = subscriber->field(QStringLiteral("Cursillista"));
    const double cursillista = kind.isNull() ? -1 : toDouble(kind);
    if (cursillista == 0) {
        if (!fees->hasRow())
            return AccessResult::FeeNotCurrent;
        const QVariant feeCode = fees->field(QStringLiteral("CodCuota"));
        fees.reset();
        return checkFeeTimetable(subscriberCode, installationCode, feeCode);
    }
    if (cursillista == 1)
        return checkCourseTimetable(subscriberCode, installationCode);
    return AccessResult::Granted;
}

AccessResult ReferenceRules::checkFeeTimetable(std::int32_t subscriberCode, std::int32_t installationCode,
                                          const QVariant& feeCode)
{
    // A current fee row without a fee code has no definition to judge by,
    // like a code that has no Cuotas row.
    if (feeCode.isNull())
        return AccessResult::Granted;
    auto fee = read(QStringLiteral("SELECT * FROM Cuotas WHERE CodInstalacion = ? AND CodCuota = ?"),
                    {installationCode, toInt32(feeCode)});
    if (!fee->hasRow())
        return AccessResult::Granted;

    const QDateTime now = clock_.now();
    const int day = now.date().dayOfWeek();
    static const char* const window[8][2] = {{nullptr, nullptr},       {"HoraInicio1", "HoraFin1"},
                                             {"HoraInicio1", "HoraFin1"}, {"HoraInicio1", "HoraFin1"},
                                             {"HoraInicio1", "HoraFin1"}, {"HoraInicio4", "HoraFin4"},
                                             {"HoraInicio2", "HoraFin2"}, {"HoraInicio3", "HoraFin3"}};
    const AccessResult refusal = day <= 5 ? AccessResult::OutsideFeeHours : AccessResult::OutsideTimetable;

    // Ten minutes early is inside; no grace after the end. A Null bound
    // sets no limit on its side.
    const auto start = bound(fee->field(QLatin1String(window[day][0])));
    const auto end = bound(fee->field(QLatin1String(window[day][1])));
    const QString nowText = text(now.time());
    const bool outside = (start && nowText < shiftedTimeText(*start, -FeeEarlySeconds)) || (end && nowText > text(*end));
    if (!outside)
        return AccessResult::Granted;

    if (hasMonthlyAllowance(toDouble(fee->field(QStringLiteral("CodCuota"))))) {
        // Without an allowance there is nothing left of it.
        const QVariant allowance = fee->field(QStringLiteral("NUMACCESOS_MTO"));
        const std::int32_t monthly = allowance.isNull() ? 0 : toInt32(allowance);
        fee.reset();
        if (monthlyAllowanceLeft(subscriberCode, static_cast<std::uint8_t>(installationCode), monthly))
            return AccessResult::Granted;
    }
    return refusal;
}

AccessResult ReferenceRules::checkCourseTimetable(std::int32_t subscriberCode, std::int32_t installationCode)
{
    auto enrolments = read(
        QStringLiteral("SELECT M.CodInstalacion,M.Codigo,M.Cobrado,M.CodCurso,C.FECINICIO,C.FECFIN FROM MovtosCursos M "
                       "INNER JOIN CURSOS C ON (M.CODINSTALACION = C.CODINSTALACION AND M.CODCURSO=C.CODCURSO) "
                       "WHERE C.FECINICIO <= TRUNC(SYSDATE) AND C.FECFIN > TRUNC(SYSDATE) AND M.Codigo = ? AND "
                       "M.CodInstalacion =?"),
        {subscriberCode, installationCode});
    if (!enrolments->hasRow())
        return AccessResult::OutsideTimetable;

    const QDateTime now = clock_.now();
    const QDateTime today = wallTime(now.date(), QTime(0, 0));
    const QString nowText = text(now.time());
    for (std::size_t row = 0; row < enrolments->size(); ++row) {
        // An enrolment without a course code names no course: skipped.
        const QVariant courseCode = enrolments->field(QStringLiteral("CodCurso"), row);
        if (courseCode.isNull())
            continue;
        auto course = read(
            QStringLiteral("SELECT CodCurso, Codinstalacion,FecInicio,FecFin,FormaPago,HoraInicio1,HoraInicio2,HoraInicio3, "
                           "HoraInicio4,HoraInicio5,HoraInicio6,HoraInicio7, HoraFin1,HoraFin2,HoraFin3,HoraFin4,HoraFin5,HoraFin6, "
                           "HoraFin7 FROM Cursos WHERE CodInstalacion = ? AND CodCurso = ?"),
            {installationCode, toInt32(courseCode)});
        if (!course->hasRow())
            continue;
        const QDateTime from = toDateTime(course->field(QStringLiteral("FecInicio")));
        const QDateTime to = toDateTime(course->field(QStringLiteral("FecFin")));
        if ((from.isValid() && from > today) || (to.isValid() && to < today))
            continue;

        const int day = now.date().dayOfWeek();
        const std::int16_t entries = countEntriesToday(subscriberCode, installationCode);
        if (entries > 0) {
            const auto end = bound(course->field(QStringLiteral("HoraFin") + QString::number(day)));
            if (!end)
                return AccessResult::OutsideTimetable;
            return nowText > shiftedTimeText(*end, CourseAfterEndSeconds) ? AccessResult::OutsideTimetable : AccessResult::Granted;
        }
        const auto start = bound(course->field(QStringLiteral("HoraInicio") + QString::number(day)));
        if (!start)
            return AccessResult::OutsideTimetable;
        const bool inside = nowText >= shiftedTimeText(*start, -CourseEarlySeconds) && nowText <= shiftedTimeText(*start, CourseLateSeconds);
        return inside ? AccessResult::Granted : AccessResult::OutsideTimetable;
    }
    return AccessResult::OutsideTimetable;
}

std::int16_t ReferenceRules::lastEntryTooRecent(std::int32_t subscriberCode, std::int32_t installationCode)
{
    auto last = read(QStringLiteral("SELECT MAX(HORAENTRADA) HORA FROM MOVIMIENTOS WHERE CODIGO=? AND INSTALACIONABONADO=?"),
                     {subscriberCode, installationCode});
    if (!last->hasRow())
        return -1;
    const QVariant hora = last->field(QStringLiteral("HORA"));
    if (hora.isNull())
        return 0;
    const QDateTime entry = toDateTime(hora);
    const QDateTime now = clock_.now();
    const QString format = QStringLiteral("dd/MM/yyyy");
    if (!entry.isValid() || entry.date().toString(format) != now.date().toString(format))
        return 0;
    // The workstation and the server clocks may disagree: an entry "later"
    // than now by less than five minutes is just as recent.
    const int seconds = std::abs(entry.time().secsTo(now.time()));
    return seconds < EntrySpacingSeconds ? 1 : 0;
}

std::int16_t ReferenceRules::countEntriesToday(std::int32_t subscriberCode, std::int32_t installationCode)
{
    auto count = read(QStringLiteral("SELECT count(*) ENTRADAS FROM MOVIMIENTOS WHERE CODIGO=? AND CODINSTALACION=? AND "
                                     "FECHA >= TRUNC(SYSDATE) AND FECHA < TRUNC(SYSDATE) + 1"),
                      {subscriberCode, installationCode});
    return toInt16(count->field(QStringLiteral("ENTRADAS")));
}

bool ReferenceRules::monthlyAllowanceLeft(std::int32_t subscriberCode, std::uint8_t installationCode, std::int32_t allowance)
{
    auto total = read(QStringLiteral("SELECT COUNT(*) TOTAL FROM MOVIMIENTOS WHERE CODINSTALACION=? AND CODIGO=? AND "
                                     "FECHA >= TRUNC(SYSDATE,'MM') AND FECHA < ADD_MONTHS(TRUNC(SYSDATE,'MM'),1)"),
                      {installationCode, subscriberCode});
    const QVariant value = total->field(QStringLiteral("TOTAL"));
    if (value.isNull())
        return false;
    return toDouble(value) < allowance;
}

} // namespace parking::test

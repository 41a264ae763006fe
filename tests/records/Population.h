#pragma once
// A generated population of subscribers of installation 7 with every kind
// of fact a decision reads (fees with their timetables, courses, blocks,
// receipts, entry history), around 2026-03-04, from a seed.
#include <QDateTime>
#include <QStringList>

#include <random>

namespace parking::test {

class Population {
public:
    explicit Population(std::uint32_t seed) : random_(seed) {}

    QString time() { return QStringLiteral("'%1:%2:00'").arg(pick(0, 23), 2, 10, QLatin1Char('0')).arg(pick(0, 59), 2, 10, QLatin1Char('0')); }
    QString timeOrNull() { return pick(0, 5) == 0 ? QStringLiteral("NULL") : time(); }
    // A day around 2026-03-04, at a time of day, as SQL.
    QString day(int from, int to, bool withTime = false)
    {
        const QDateTime d = QDateTime(QDate(2026, 3, 4).addDays(pick(from, to)), withTime ? QTime(pick(0, 23), pick(0, 59)) : QTime(0, 0));
        return d.toString(QStringLiteral("''yyyy-MM-dd HH:mm:ss''"));
    }
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    template <typename T, std::size_t N>
    const T& any(const T (&items)[N]) { return items[pick(0, static_cast<int>(N) - 1)]; }

    // Fee definitions, courses, and `count` subscribers with their rows.
    QStringList rows(int count)
    {
        QStringList sql;
        for (int code : {10, 11, 33, 34, 35}) {
            QStringList hours;
            for (int i = 0; i < 8; ++i)
                hours << timeOrNull();
            sql << QStringLiteral("INSERT INTO Cuotas (CodInstalacion,CodCuota,HoraInicio1,HoraInicio2,HoraInicio3,HoraInicio4,"
                                  "HoraFin1,HoraFin2,HoraFin3,HoraFin4,NUMACCESOS_MTO) VALUES (7,%1,%2,%3)")
                       .arg(code).arg(hours.join(QLatin1Char(','))).arg(pick(0, 3) == 0 ? QStringLiteral("NULL") : QString::number(pick(0, 6)));
        }
        for (int course = 1; course <= 6; ++course) {
            QStringList hours;
            for (int i = 0; i < 14; ++i)
                hours << timeOrNull();
            sql << QStringLiteral("INSERT INTO CURSOS (CodInstalacion,CodCurso,FecInicio,FecFin,FormaPago,HoraInicio1,HoraInicio2,"
                                  "HoraInicio3,HoraInicio4,HoraInicio5,HoraInicio6,HoraInicio7,HoraFin1,HoraFin2,HoraFin3,HoraFin4,"
                                  "HoraFin5,HoraFin6,HoraFin7) VALUES (7,%1,%2,%3,1,%4)")
                       .arg(course).arg(day(-60, 2), day(-2, 60), hours.join(QLatin1Char(',')));
        }
        static const char* const kinds[] = {"0", "0", "1", "1", "2", "NULL"};
        static const char* const feeCodes[] = {"10", "11", "33", "34", "35", "12", "NULL"};
        int receipt = 1;
        for (int s = 1; s <= count; ++s) {
            sql << QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,FormaPago,CodigoRelacion) VALUES (7,%1,%2,1,%3)")
                       .arg(s).arg(QLatin1String(any(kinds)), pick(0, 4) == 0 ? QString::number(pick(1, count)) : QStringLiteral("NULL"));
            for (int f = pick(0, 2); f > 0; --f)
                sql << QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (7,%1,%2,%3,%4)")
                           .arg(s).arg(day(-40, 1), pick(0, 2) == 0 ? QStringLiteral("NULL") : day(-3, 30), QLatin1String(any(feeCodes)));
            for (int e = pick(0, 2); e > 0; --e)
                sql << QStringLiteral("INSERT INTO MovtosCursos VALUES (7,%1,%2,1)").arg(s).arg(pick(1, 7));
            if (pick(0, 9) == 0)
                sql << QStringLiteral("INSERT INTO BLOQUEOS VALUES (7,%1,1,%2,%3,NULL)")
                           .arg(s).arg(day(-5, 3, true), pick(0, 1) ? QStringLiteral("NULL") : day(-2, 2, true));
            if (pick(0, 7) == 0)
                sql << QStringLiteral("INSERT INTO Recibos VALUES (%1,7,%2,10.0,%3,%4)").arg(receipt++).arg(s).arg(day(-30, 3)).arg(pick(0, 1) ? 0 : 90);
            for (int m = pick(0, 6); m > 0; --m) {
                const QString when = day(-35, 2, true);
                const QString midnight = when.left(11) + QStringLiteral(" 00:00:00'");
                sql << QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (%1,%2,%3,%4,%5)")
                           .arg(pick(0, 5) ? 7 : 8).arg(s).arg(pick(0, 5) ? 7 : 8).arg(midnight, when);
            }
        }
        return sql;
    }

private:
    std::mt19937 random_;
};

} // namespace parking::test

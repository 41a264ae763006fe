#pragma once
// Everything the rights decision needs about one subscriber, as the
// records layer reads it in one statement (records::loadAccessFacts): the
// subscriber's row, blocks, unpaid receipts, the last entry, today's and
// this month's entries, the current fee rows with their definitions, the
// current course enrolments with their courses, and the station's free
// spaces.
//
// Values that the decision converts (and that a damaged row may hold in
// the wrong type) are kept as read, so a bad value fails the decision
// exactly where it would matter, not the reading. Rows keep the order the
// server gave them: the first current fee row and the first enrolment
// decide.
//
// The statement's filters (today, this month, current, blocked since) use
// the database server's date; the decision's timetables use the
// workstation's clock.
#include <QDateTime>
#include <QVariant>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace parking {

struct FeeDefinition {
    QVariant code;      // CodCuota
    QVariant allowance; // NUMACCESOS_MTO: entries a month outside the timetable
    // HoraInicio1..4 and HoraFin1..4: Monday to Thursday, Saturday, Sunday, Friday.
    std::array<QVariant, 4> start;
    std::array<QVariant, 4> end;
};

struct CourseFacts {
    QVariant from; // FecInicio
    QVariant to;   // FecFin
    // HoraInicio1..7 and HoraFin1..7, Monday first.
    std::array<QVariant, 7> start;
    std::array<QVariant, 7> end;
};

struct AccessFacts {
    bool subscriberFound = false;
    QVariant courseHolder;    // ABONADOS.Cursillista: 0 fee, 1 course, anything else neither
    bool blocked = false;     // a block in force now (server's clock)
    bool receiptsUnpaid = false;
    QVariant lastEntry;       // MAX(HORAENTRADA) of the subscriber's installation; Null: none
    QVariant entriesToday;    // in the movements' installation, the server's day
    QVariant entriesThisMonth;
    std::vector<QVariant> currentFeeCodes; // CodCuota of each current fee row, in the server's order
    std::vector<FeeDefinition> fees;       // Cuotas rows of those codes
    std::vector<CourseFacts> courses;      // one per current enrolment, in the server's order
    std::optional<QVariant> freeSpaces;    // INSTALACIONES.PLAZAS_LIBRES of the station's installation

    // The Cuotas row of a fee code; nullptr when there is none.
    const FeeDefinition* fee(double code) const;
};

} // namespace parking

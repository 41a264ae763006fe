#pragma once
// What start-up reads of the installation: its reader row (Lector: the
// readers' port texts and the display messages) and its own row
// (INSTALACIONES: the name, the capacity, the free spaces), as typed
// values read once; and, for the demo's simulator, the subscribers with
// their cards, and the demo readers' port texts written in.
#include "Connection.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace parking::records {

// The display messages, each as its column holds it (Null: empty).
struct ReaderMessages {
    QString granted;       // MsjOk
    QString unknownCard;   // MsjIDMal
    QString timetable;     // MsjHorarioMal
    QString unpaid;        // MsjImpagado
    QString notCurrent;    // MsjBaja
    bool operator==(const ReaderMessages&) const = default;
};

struct ReaderRow {
    std::optional<double> readers; // Lectores; nullopt for Null (the stations run)
    QString entrancePort;          // PARKING_ENTRADA (Null: empty)
    QString exitPort;              // PARKING_SALIDA
    ReaderMessages messages;
};
// nullopt: the installation has no reader row.
std::optional<ReaderRow> loadReaderRow(Connection& c, std::int16_t installation);

struct SiteRow {
    QString name;
    std::optional<std::int16_t> capacity; // nullopt for Null
    std::int16_t freeSpaces = 0;
};
// nullopt: the installation has no row. A Null name or count, or one that
// is no such number, is a DatabaseError.
std::optional<SiteRow> loadSiteRow(Connection& c, std::int16_t installation);

// A subscriber the demo's simulator can present.
struct SubscriberCard {
    std::int32_t code = 0;
    std::int32_t installation = 0;
    QString name;
    QString card; // CODTARJETA; empty when none
};
QList<SubscriberCard> loadSubscriberCards(Connection& c);

// The installation's readers' port texts, as the demo points them at its
// emulated readers.
void setReaderPorts(Connection& c, std::int16_t installation, const QString& entrance, const QString& exit);

} // namespace parking::records

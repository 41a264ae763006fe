#include "StatusText.h"
#include "StationRole.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace parking {

namespace {

QJsonValue instant(const QDateTime& t)
{
    return t.isValid() ? QJsonValue(t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))) : QJsonValue();
}

QJsonValue count(int value)
{
    return value < 0 ? QJsonValue() : QJsonValue(value);
}

QJsonObject stationJson(StationRole role, const StationStatus& st)
{
    QJsonObject passages;
    for (const auto& [o, n] : st.passages)
        passages.insert(outcomeLabel(o), static_cast<qint64>(n));
    return {{QStringLiteral("number"), stationNumber(role)},
            {QStringLiteral("role"), role == StationRole::Entrance ? QStringLiteral("entrance") : QStringLiteral("exit")},
            {QStringLiteral("readerOnline"), st.readerOnline},
            {QStringLiteral("readerSince"), instant(st.readerSince)},
            {QStringLiteral("secureChannel"), secureChannelLabel(st.secureChannel)},
            {QStringLiteral("display"), st.display},
            {QStringLiteral("offlineTransitions"), static_cast<qint64>(st.offlineTransitions)},
            {QStringLiteral("tamper"), st.tamper ? QJsonValue(*st.tamper) : QJsonValue()},
            {QStringLiteral("powerOk"), st.powerOk ? QJsonValue(*st.powerOk) : QJsonValue()},
            {QStringLiteral("installKeyOnly"), st.installKeyOnly},
            {QStringLiteral("passages"), passages}};
}

// Prometheus label values: backslash, double quote and line feed escaped.
QByteArray labelValue(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 15);
}

class Exposition {
public:
    void family(const char* name, const char* type, const char* help)
    {
        out_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const QByteArray& name, const QByteArray& labels, double value)
    {
        out_ += name;
        if (!labels.isEmpty())
            out_ += '{' + labels + '}';
        out_ += ' ' + number(value) + '\n';
    }
    QByteArray take() { return std::move(out_); }

private:
    QByteArray out_;
};

QByteArray stationLabel(StationRole role)
{
    return "station=\"" + QByteArray::number(stationNumber(role)) + '"';
}

void writePassages(Exposition& e, const StatusSnapshot& s)
{
    e.family("parking_passages_total", "counter", "Identified passages by station and outcome.");
    for (StationRole role : BothStations) {
        for (const auto& [o, n] : s.station(role).passages)
            e.sample("parking_passages_total", stationLabel(role) + ",outcome=\"" + labelValue(outcomeLabel(o)) + '"',
                     static_cast<double>(n));
    }
}

void writeDecisions(Exposition& e, const DecisionHistogram& h)
{
    e.family("parking_rights_decision_seconds", "histogram", "Time the entrance's rights decision took.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < h.Bounds.size(); ++i) {
        cumulative += h.buckets[i];
        e.sample("parking_rights_decision_seconds_bucket", "le=\"" + number(h.Bounds[i]) + '"',
                 static_cast<double>(cumulative));
    }
    e.sample("parking_rights_decision_seconds_bucket", "le=\"+Inf\"", static_cast<double>(h.count));
    e.sample("parking_rights_decision_seconds_sum", {}, h.sum);
    e.sample("parking_rights_decision_seconds_count", {}, static_cast<double>(h.count));
}

void writeReaders(Exposition& e, const StatusSnapshot& s)
{
    e.family("parking_reader_up", "gauge", "Whether the station's reader answers (1) or not (0).");
    for (StationRole role : BothStations)
        e.sample("parking_reader_up", stationLabel(role), s.station(role).readerOnline ? 1 : 0);
    e.family("parking_reader_offline_transitions_total", "counter", "Times the station's reader went offline.");
    for (StationRole role : BothStations)
        e.sample("parking_reader_offline_transitions_total", stationLabel(role),
                 static_cast<double>(s.station(role).offlineTransitions));
    // Only readers that said their state: an absent sample is "unknown", not "fine".
    e.family("parking_reader_tamper", "gauge", "Whether the station's reader reports its case open (1) or closed (0).");
    for (StationRole role : BothStations) {
        if (const auto tamper = s.station(role).tamper)
            e.sample("parking_reader_tamper", stationLabel(role), *tamper ? 1 : 0);
    }
    e.family("parking_reader_power_ok", "gauge", "Whether the station's reader reports its power normal (1) or failing (0).");
    for (StationRole role : BothStations) {
        if (const auto ok = s.station(role).powerOk)
            e.sample("parking_reader_power_ok", stationLabel(role), *ok ? 1 : 0);
    }
    e.family("parking_reader_install_key_only", "gauge",
             "Whether the station's reader answers only the install key while a key is stored (1: swapped or reset).");
    for (StationRole role : BothStations)
        e.sample("parking_reader_install_key_only", stationLabel(role),
                 s.station(role).installKeyOnly ? 1 : 0);
}

} // namespace

QString outcomeLabel(Outcome o)
{
    switch (o) {
    case Outcome::Granted:
        return QStringLiteral("granted");
    case Outcome::Full:
        return QStringLiteral("full");
    case Outcome::Error:
        return QStringLiteral("error");
    case Outcome::SubscriberUnknown:
        return QStringLiteral("unknown_subscriber");
    case Outcome::OutsideTimetable:
        return QStringLiteral("outside_timetable");
    case Outcome::ReceiptsUnpaid:
        return QStringLiteral("receipts_unpaid");
    case Outcome::FeeNotCurrent:
        return QStringLiteral("fee_not_current");
    case Outcome::SubscriberBlocked:
        return QStringLiteral("blocked");
    case Outcome::OutsideFeeHours:
        return QStringLiteral("outside_fee_hours");
    case Outcome::EntryTooSoon:
        return QStringLiteral("entry_too_soon");
    }
    return QStringLiteral("other");
}

QString secureChannelLabel(SecureChannelState state)
{
    switch (state) {
    case SecureChannelState::None:
        return QStringLiteral("none");
    case SecureChannelState::Off:
        return QStringLiteral("off");
    case SecureChannelState::Waiting:
        return QStringLiteral("waiting");
    case SecureChannelState::Established:
        return QStringLiteral("established");
    }
    return QStringLiteral("none");
}

QByteArray statusJson(const StatusSnapshot& s, const QDateTime& now)
{
    QJsonArray grid;
    for (const StatusGridRow& row : s.grid) {
        grid.append(QJsonObject{{QStringLiteral("time"), row.time.toString(QStringLiteral("HH:mm:ss"))},
                                {QStringLiteral("station"), stationNumber(row.station)},
                                {QStringLiteral("subscriber"), static_cast<qint64>(row.subscriber)},
                                {QStringLiteral("text"), row.text},
                                {QStringLiteral("colour"), row.red ? QStringLiteral("red") : QStringLiteral("black")}});
    }
    QJsonObject deadlines;
    for (const auto& [call, n] : s.deadlinesExceeded)
        deadlines.insert(callLabel(call), static_cast<qint64>(n));
    const QJsonObject database{{QStringLiteral("connected"), s.databaseConnected},
                               {QStringLiteral("outageSince"), instant(s.outageSince)},
                               {QStringLiteral("outageSeconds"), s.outageSeconds(now)},
                               {QStringLiteral("probeFailures"), static_cast<qint64>(s.probeFailures)},
                               {QStringLiteral("deadlinesExceeded"), deadlines},
                               {QStringLiteral("journalPending"), static_cast<qint64>(s.journalPending)}};
    QJsonObject replica{{QStringLiteral("enabled"), s.replicaEnabled},
                        {QStringLiteral("refreshedAt"), instant(s.replicaRefreshedAt)},
                        {QStringLiteral("ageSeconds"), s.replicaRefreshedAt.isValid()
                                                           ? QJsonValue(std::max<qint64>(0, s.replicaRefreshedAt.secsTo(now)))
                                                           : QJsonValue()},
                        {QStringLiteral("refreshSeconds"),
                         s.replicaRefreshSeconds ? QJsonValue(*s.replicaRefreshSeconds) : QJsonValue()},
                        {QStringLiteral("offlineDecisionsThisOutage"), static_cast<qint64>(s.offlineDecisionsThisOutage)}};
    const QJsonObject root{
        {QStringLiteral("installation"), s.installation},
        {QStringLiteral("capacity"), count(s.capacity)},
        {QStringLiteral("freeSpaces"), count(s.freeSpaces)},
        {QStringLiteral("inService"), s.inService},
        {QStringLiteral("stations"), QJsonArray{stationJson(StationRole::Entrance, s.station(StationRole::Entrance)),
                                                stationJson(StationRole::Exit, s.station(StationRole::Exit))}},
        {QStringLiteral("database"), database},
        {QStringLiteral("replica"), replica},
        {QStringLiteral("grid"), grid},
        {QStringLiteral("version"), s.version},
        {QStringLiteral("startedAt"), instant(s.startedAt)},
        {QStringLiteral("uptimeSeconds"), s.startedAt.isValid() ? s.startedAt.secsTo(now) : 0},
        {QStringLiteral("now"), instant(now)}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QByteArray statusMetrics(const StatusSnapshot& s, const QDateTime& now)
{
    Exposition e;
    writePassages(e, s);
    writeDecisions(e, s.decisions);
    e.family("parking_database_up", "gauge", "Whether the database answers (1) or is in an outage (0).");
    e.sample("parking_database_up", {}, s.databaseConnected ? 1 : 0);
    e.family("parking_database_probe_failures_total", "counter", "Connection probes that failed.");
    e.sample("parking_database_probe_failures_total", {}, static_cast<double>(s.probeFailures));
    e.family("parking_database_outage_seconds_total", "counter", "Seconds spent in database outages.");
    e.sample("parking_database_outage_seconds_total", {}, s.outageSeconds(now));
    e.family("parking_database_deadline_exceeded_total", "counter",
             "Calls on the database not answered within their deadline, by call.");
    for (const auto& [call, n] : s.deadlinesExceeded)
        e.sample("parking_database_deadline_exceeded_total", "call=\"" + labelValue(callLabel(call)) + '"',
                 static_cast<double>(n));
    writeReaders(e, s);
    e.family("parking_journal_pending_writes", "gauge", "Writes waiting in the journal for the database.");
    e.sample("parking_journal_pending_writes", {}, static_cast<double>(s.journalPending));
    if (s.replicaEnabled) {
        if (s.replicaRefreshedAt.isValid()) {
            e.family("parking_replica_age_seconds", "gauge", "Seconds since the local replica was last refreshed.");
            e.sample("parking_replica_age_seconds", {}, static_cast<double>(std::max<qint64>(0, s.replicaRefreshedAt.secsTo(now))));
        }
        if (s.replicaCompleteAt.isValid()) {
            e.family("parking_replica_complete_age_seconds", "gauge",
                     "Seconds since the local replica's last complete refresh (what EdadMaxima= bounds).");
            e.sample("parking_replica_complete_age_seconds", {},
                     static_cast<double>(std::max<qint64>(0, s.replicaCompleteAt.secsTo(now))));
        }
        e.family("parking_replica_max_age_seconds", "gauge",
                 "EdadMaxima=: past this since its last complete refresh the replica decides nothing.");
        e.sample("parking_replica_max_age_seconds", {}, static_cast<double>(s.replicaMaxAgeSeconds));
        if (s.replicaRefreshSeconds) {
            e.family("parking_replica_refresh_seconds", "gauge", "How long the last refresh of the replica took.");
            e.sample("parking_replica_refresh_seconds", {}, *s.replicaRefreshSeconds);
        }
        e.family("parking_offline_decisions_total", "counter", "Entrances decided from the replica, by result.");
        for (const auto& [granted, n] : s.offlineDecisions)
            e.sample("parking_offline_decisions_total", granted ? "result=\"granted\"" : "result=\"refused\"",
                     static_cast<double>(n));
    }
    if (s.freeSpaces >= 0) {
        e.family("parking_free_spaces", "gauge", "Free spaces as last counted.");
        e.sample("parking_free_spaces", {}, s.freeSpaces);
    }
    if (s.capacity >= 0) {
        e.family("parking_capacity", "gauge", "Spaces of the installation.");
        e.sample("parking_capacity", {}, s.capacity);
    }
    e.family("parking_build_info", "gauge", "The program's version.");
    e.sample("parking_build_info", "version=\"" + labelValue(s.version) + '"', 1);
    e.family("parking_uptime_seconds", "gauge", "Seconds since the program started.");
    e.sample("parking_uptime_seconds", {}, s.startedAt.isValid() ? static_cast<double>(s.startedAt.secsTo(now)) : 0);
    if (s.startedAt.isValid()) {
        // The name every exporter uses, so that restarts count the same way.
        e.family("process_start_time_seconds", "gauge", "Start time of the process since the Unix epoch, in seconds.");
        e.sample("process_start_time_seconds", {}, static_cast<double>(s.startedAt.toSecsSinceEpoch()));
    }
    return e.take();
}

} // namespace parking

#pragma once
// The local replica: what the decisions at one installation read, copied
// from the server into an embedded database file of its own, so that an
// entrance can be decided while the server is away or slow. The same facts
// statement runs on it (loadAccessFacts). Subscribers of every installation
// are copied, since a car park serves the subscribers of others too; of
// their rows only those a decision can need:
//   ABONADOS, Cuotas, MovtosCursos, INSTALACIONES; fee rows and courses not
//   ended before last month; blocks not lifted; unpaid receipts; last
//   month's and this month's MOVIMIENTOS rows, and each subscriber's last
//   entry (as a row of installation -1, which the month's and the day's
//   counts never see).
#include "Connection.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace parking::records {

struct ReplicaInfo {
    std::int16_t installation = 0;
    QDateTime refreshedAt;    // the workstation's clock when the copy was read
    qint64 serverOffsetMs = 0; // the server's clock less the workstation's then
    std::size_t rows = 0;      // rows copied by that refresh
    QDateTime completeAt;     // the workstation's clock at the last complete refresh
    bool complete = true;     // that refresh was a complete one

    // The server's clock when the copy was read.
    QDateTime serverTime() const { return refreshedAt.addMSecs(serverOffsetMs); }
};

// How far back an incremental refresh reads entries again before the
// previous refresh: rows committed late (a long transaction, a clock a
// little behind) are not missed.
inline constexpr qint64 IncrementalOverlapSeconds = 600;

// Builds a complete replica at `path` (which must not exist; created 0600)
// from `server`, read as of `workstationNow`. Throws DatabaseError; what was
// written of `path` is then the caller's to remove.
ReplicaInfo buildReplica(Connection& server, const QString& path, std::int16_t installation,
                         const QDateTime& workstationNow);

// Brings the replica at `path`, a copy of the one `previous` describes, up
// to date: every table but the entries read again whole (they are small),
// the entries since the previous refresh (less the overlap) added. In one
// transaction. Throws DatabaseError, and what was written of `path` is the
// caller's to remove. An entry the server was given after the previous
// refresh with an older time than that (another gate's journal replayed
// late) waits for the next complete refresh.
ReplicaInfo updateReplica(Connection& server, const QString& path, const ReplicaInfo& previous,
                          const QDateTime& workstationNow);

// Copies the replica at `from` to `to` (which must not exist; created
// 0600), for an incremental refresh to work on. Throws DatabaseError.
void copyReplica(const QString& from, const QString& to);

// What the replica says of itself; nothing when it has no such record (not
// a replica, or one cut short).
std::optional<ReplicaInfo> readReplicaInfo(Connection& replica);

} // namespace parking::records

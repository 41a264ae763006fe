#pragma once
// The status snapshot as the status server sends it: JSON for the page and
// for scripts (docs/status.md), Prometheus's text exposition for
// monitoring. Pure functions of the snapshot and the moment of the request.
#include "StatusBoard.h"

#include <QByteArray>

namespace parking {

QByteArray statusJson(const StatusSnapshot& s, const QDateTime& now);
// The names the JSON and the metrics give an outcome ("granted",
// "receipts_unpaid", ...) and a Secure Channel's state ("established", ...).
QString outcomeLabel(Outcome outcome);
QString secureChannelLabel(SecureChannelState state);
QByteArray statusMetrics(const StatusSnapshot& s, const QDateTime& now);

} // namespace parking

#pragma once
// The remote console's actions, as the status server receives them:
// POST /api/open {"station": 1|2} and POST /api/spaces {"value": N}. This
// part checks the request (JSON only, a known station, a value), applies
// the guard (rate limits, retries answered once) and asks ConsoleActions to
// do the work where the stations live; the answer is JSON saying what was
// done or why not. Who may ask (the operator key) is the server's check.
#include "ConsoleGuard.h"
#include "StationRole.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <tuple>
#include <optional>
#include <utility>

namespace parking {

// What the operator window's buttons do, done for the console. Called on
// the status server's thread; an implementation carries the work over to
// the stations' thread.
class ConsoleActions {
public:
    struct Outcome {
        bool done = false;
        QString reason;              // why not, when not done
        std::optional<int> freeSpaces; // the count after the action
    };
    virtual ~ConsoleActions() = default;
    // `from`: the client's address, and `operatorName` the named operator
    // who asked (empty: the shared operator key), for the audit line.
    virtual Outcome openBarrier(StationRole station, const QString& from, const QString& operatorName) = 0;
    // `value`: the count as text, checked by the same rules as the window's box.
    virtual Outcome setFreeSpaces(const QString& value, const QString& from, const QString& operatorName) = 0;
    // A line for the event log (a refusal worth knowing about).
    virtual void note(const QString& line) = 0;
};

struct ConsoleRequest {
    QByteArray path;           // "/api/open" or "/api/spaces"
    QByteArray contentType;    // as sent
    QByteArray body;
    QByteArray idempotencyKey; // empty: none
    QString from;              // the client's address
    QString operatorName;      // a named operator's; empty: the shared key
};

class RemoteConsole {
public:
    explicit RemoteConsole(ConsoleActions& actions) : actions_(actions) {}

    ConsoleGuard::Answer handle(const ConsoleRequest& request, ConsoleGuard::Time now);
    // An answer for a request refused before it reached the console (no key,
    // the read key), counted like the others.
    ConsoleGuard::Answer refuse(const QByteArray& path, int status, const QString& reason);

    // parking_remote_actions_total, by action, outcome and named operator.
    QByteArray metrics() const;

private:
    // The answer, and whether the request reached the stations.
    std::pair<ConsoleGuard::Answer, bool> act(const QByteArray& action, const ConsoleRequest& request,
                                              ConsoleGuard::Time now);
    ConsoleGuard::Answer counted(const QByteArray& action, const QByteArray& outcome, ConsoleGuard::Answer answer,
                                 const QString& operatorName = {});

    ConsoleActions& actions_;
    ConsoleGuard guard_;
    std::map<std::tuple<QByteArray, QByteArray, QString>, quint64> counts_;
};

// The answer {"done": false, "reason": ...} with `status`.
ConsoleGuard::Answer refusal(int status, const QString& reason);

} // namespace parking

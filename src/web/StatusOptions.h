#pragma once
// The status page's options as the server runs with them, read from the
// [Estado] and [Operadores] sections: what a misconfigured page must refuse
// to start (or to reload) with, and why.
#include "Configuration.h"
#include "OperatorDirectory.h"
#include "Result.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSslConfiguration>

#include <optional>

namespace parking {

struct StatusOptions {
    static constexpr qsizetype OperatorKeyMinimum = 16;

    QHostAddress address;
    quint16 port = 0;
    QByteArray key;         // empty: none
    QByteArray operatorKey; // the shared ClaveOperador=; empty: none
    OperatorDirectory operators;
    std::optional<QSslConfiguration> tls;

    bool console() const { return !operatorKey.isEmpty() || !operators.empty(); }
};

// The options (nullopt: no status page), or why the page cannot start.
Result<std::optional<StatusOptions>> readStatusOptions(const StatusSettings& settings);

} // namespace parking

#pragma once
// Failed logins to the status page, counted per client address and per
// operator name: past a few within the window, that address or that name
// is refused (429) until its oldest failure leaves the window, even with
// the right key, so a key cannot be guessed at the server's speed. What is
// kept is bounded: a client inventing names cannot make it grow. Time is
// handed in, so the rules run under test without waiting.
#include <QHash>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>

namespace parking {

class LoginLimiter {
public:
    using Time = std::chrono::steady_clock::time_point;

    static constexpr int FailuresPerName = 5;
    static constexpr int FailuresPerAddress = 10;
    static constexpr std::chrono::minutes Window{5};
    static constexpr qsizetype MaxTracked = 1024;

    // How long `address` (and `name`, when one is given) stays refused;
    // nullopt when it may try.
    std::optional<std::chrono::seconds> refusedFor(const QString& address, const QString& name, Time now);

    // What began to be refused with a failure, for one log line each.
    struct Began {
        bool address = false;
        bool name = false;
    };
    Began failed(const QString& address, const QString& name, Time now);

private:
    using Failures = std::deque<Time>;
    static std::optional<std::chrono::seconds> refusal(Failures& failures, int limit, Time now);
    static bool add(QHash<QString, Failures>& table, const QString& key, int limit, Time now);
    static void bound(QHash<QString, Failures>& table, Time now);

    QHash<QString, Failures> byAddress_;
    QHash<QString, Failures> byName_; // folded names
};

} // namespace parking

#pragma once
// What keeps the remote console's actions few and single: at most one
// opening a second per barrier and ten actions a minute in all (one
// operator key), and a request retried with the same Idempotency-Key
// within a minute answered with the first answer instead of acting again.
// Time is handed in, so the rules run under test without waiting.
#include "StationRole.h"

#include <QByteArray>
#include <QHash>

#include <chrono>
#include <deque>
#include <optional>

namespace parking {

class ConsoleGuard {
public:
    using Time = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::seconds OpeningGap{1};
    static constexpr int ActionsPerMinute = 10;
    static constexpr std::chrono::seconds RetryWindow{60};
    // Idempotency keys longer than this, or more remembered at once, are
    // refused: a client cannot make the server keep much.
    static constexpr qsizetype MaxKeyLength = 128;
    static constexpr qsizetype MaxRemembered = 1000;

    struct Answer {
        int status = 200;
        QByteArray body;
    };

    // The first answer given to `key`, if it was given within the window.
    std::optional<Answer> earlierAnswer(const QByteArray& key, Time now);
    void remember(const QByteArray& key, const Answer& answer, Time now);

    // Whether one more action may go now; counts it when it may.
    // `barrier`: the one an opening opens; nullopt for anything else.
    bool allow(std::optional<StationRole> barrier, Time now);

private:
    void forgetOld(Time now);
    struct Remembered {
        Time at;
        Answer answer;
    };
    QHash<QByteArray, Remembered> answers_;
    std::deque<Time> recent_; // the actions of the last minute
    std::optional<Time> lastOpening_[2];
};

} // namespace parking

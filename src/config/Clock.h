#pragma once
// Where "now" comes from. The workstation and the database server each have
// one; tests and demos set them to any day and second, production reads the
// system time. Nothing else in the program may call the system clock for a
// business decision.
#include <QDateTime>

#include <atomic>
#include <chrono>
#include <memory>

namespace parking {

// Dates and times in this program are wall-clock readings: the date and
// time of day as a person reads them, marked as UTC so that
// no time-zone rule ever shifts or invalidates one (02:30 on the night the
// clocks go forward is a time stored data may hold; the hour that repeats
// in autumn stays two readings of the same text). Every clock returns
// them, every date read from the database or a file is made one.
QDateTime wallTime(const QDate& date, const QTime& time);
QDateTime wallTime(const QDateTime& t);

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The system's local time, shifted by an offset that set() chooses so that
// now() reads the given instant at that moment and runs on from there.
// Safe to read from any thread (the database probe reads it off the UI thread).
// The zone's offset from UTC is looked up at most once every
// ZoneCheckEvery: working it out reads the zone file, which a decision
// that reads the clock several times should not have to do.
class SettableClock final : public Clock {
public:
    QDateTime now() const override;
    // From this moment on, now() reads `instant` and runs on from it.
    void set(const QDateTime& instant);
    // Back to plain system time.
    void reset() { offsetMs_.store(0); }

    static constexpr qint64 ZoneCheckEveryMs = 10'000;

private:
    // Milliseconds to add to UTC for the wall clock.
    qint64 zoneOffsetMs(qint64 utcMs) const;

    std::atomic<qint64> offsetMs_{0};
    mutable std::atomic<qint64> zoneOffsetMs_{0};
    mutable std::atomic<qint64> zoneCheckedAtMs_{-1};
};

// Where elapsed time comes from (how long a decision took, how long a read
// waited, how long a light still shows): the system's monotonic clock in
// the program, one a test moves by hand.
class SteadyClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~SteadyClock() = default;
    virtual TimePoint now() const = 0;
};

// The system's steady clock; one for the whole program, safe from any thread.
const SteadyClock& systemSteadyClock();

class ManualSteadyClock final : public SteadyClock {
public:
    TimePoint now() const override { return now_; }
    void advance(std::chrono::nanoseconds by) { now_ += by; }

private:
    TimePoint now_{};
};

// Stands still at the instant it was given until moved; for tests.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime instant = {}) : instant_(std::move(instant)) {}
    QDateTime now() const override { return wallTime(instant_); }
    void set(const QDateTime& instant) { instant_ = instant; }
    void advance(qint64 seconds) { instant_ = instant_.addSecs(seconds); }

private:
    QDateTime instant_;
};

// "YYYY-MM-DD hh:mm:ss" exactly, the form used on the command line, in
// scripts, the journal and stored dates, as a wall-clock reading. An
// invalid QDateTime when the text is not of that form.
QDateTime parseIsoInstant(const QString& text);

} // namespace parking

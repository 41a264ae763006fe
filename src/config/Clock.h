#pragma once
// Where "now" comes from. The workstation and the database server each have
// one; tests and demos set them to any day and second, production reads the
// system time. Nothing else in the program may call the system clock for a
// business decision.
#include <QDateTime>

#include <atomic>
#include <memory>

namespace parking {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The system's local time, shifted by an offset that set() chooses so that
// now() reads the given instant at that moment and runs on from there.
// Safe to read from any thread (the database probe reads it off the UI thread).
class SettableClock final : public Clock {
public:
    QDateTime now() const override;
    // From this moment on, now() reads `instant` and runs on from it.
    void set(const QDateTime& instant);
    // Back to plain system time.
    void reset() { offsetMs_.store(0); }

private:
    std::atomic<qint64> offsetMs_{0};
};

// Stands still at the instant it was given until moved; for tests.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime instant = {}) : instant_(std::move(instant)) {}
    QDateTime now() const override { return instant_; }
    void set(const QDateTime& instant) { instant_ = instant; }
    void advance(qint64 seconds) { instant_ = instant_.addSecs(seconds); }

private:
    QDateTime instant_;
};

// "YYYY-MM-DD hh:mm:ss", the form used on the command line and in scripts.
// An invalid QDateTime when the text is not of that form.
QDateTime parseIsoInstant(const QString& text);

} // namespace parking

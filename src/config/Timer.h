#pragma once
// Repeating timers behind a small interface, so that what runs on a timer
// (display restore, the connection probe) can be driven by a test in
// simulated time: the program takes its timers from a TimerSource, real Qt
// timers in production, ManualTimers in tests.
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace parking {

class Timer {
public:
    virtual ~Timer() = default;
    // Starts a full interval from now (restarts a running timer).
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class TimerSource {
public:
    virtual ~TimerSource() = default;
    // A stopped timer that calls `onTimeout` every `interval` once started.
    virtual std::unique_ptr<Timer> make(std::chrono::milliseconds interval, std::function<void()> onTimeout) = 0;
};

// QTimer on the calling thread's event loop.
class QtTimers final : public TimerSource {
public:
    std::unique_ptr<Timer> make(std::chrono::milliseconds interval, std::function<void()> onTimeout) override;
};

// Timers on a simulated clock that moves only when told: advance() fires
// every timeout that falls due, in time order (timers due at the same
// instant in the order they were made). Nothing runs on its own.
class ManualTimers final : public TimerSource {
public:
    ~ManualTimers() override;
    std::unique_ptr<Timer> make(std::chrono::milliseconds interval, std::function<void()> onTimeout) override;
    void advance(std::chrono::milliseconds by);
    std::chrono::milliseconds elapsed() const { return now_; }

private:
    class Manual;
    friend class Manual;
    std::vector<Manual*> timers_;
    std::chrono::milliseconds now_{0};
};

} // namespace parking

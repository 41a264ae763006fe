#include "Timer.h"

#include <QTimer>

#include <algorithm>

namespace parking {

namespace {

class QtTimer final : public Timer {
public:
    QtTimer(std::chrono::milliseconds interval, std::function<void()> onTimeout)
    {
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, std::move(onTimeout));
    }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

std::unique_ptr<Timer> QtTimers::make(std::chrono::milliseconds interval, std::function<void()> onTimeout)
{
    return std::make_unique<QtTimer>(interval, std::move(onTimeout));
}

class ManualTimers::Manual final : public Timer {
public:
    Manual(ManualTimers& source, std::chrono::milliseconds interval, std::function<void()> onTimeout)
        : source_(&source), interval_(std::max(interval, std::chrono::milliseconds(1))), onTimeout_(std::move(onTimeout))
    {
        source_->timers_.push_back(this);
    }
    ~Manual() override
    {
        if (source_)
            std::erase(source_->timers_, this);
    }
    void start() override
    {
        active_ = true;
        due_ = (source_ ? source_->now_ : std::chrono::milliseconds(0)) + interval_;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }

    ManualTimers* source_;
    std::chrono::milliseconds interval_;
    std::function<void()> onTimeout_;
    std::chrono::milliseconds due_{0};
    bool active_ = false;
};

ManualTimers::~ManualTimers()
{
    for (Manual* t : timers_)
        t->source_ = nullptr;
}

std::unique_ptr<Timer> ManualTimers::make(std::chrono::milliseconds interval, std::function<void()> onTimeout)
{
    return std::make_unique<Manual>(*this, interval, std::move(onTimeout));
}

void ManualTimers::advance(std::chrono::milliseconds by)
{
    const auto target = now_ + by;
    for (;;) {
        Manual* next = nullptr;
        for (Manual* t : timers_) {
            if (t->active_ && t->due_ <= target && (!next || t->due_ < next->due_))
                next = t;
        }
        if (!next)
            break;
        now_ = next->due_;
        next->due_ += next->interval_;
        next->onTimeout_(); // may start, stop or destroy timers
    }
    now_ = target;
}

} // namespace parking

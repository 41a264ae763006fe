#include "DatabaseSession.h"

#include <thread>

namespace parking {

namespace {

// Looks at `flag` until it is set or `spin` has gone; whether it was set.
// It yields between looks: on a machine of few processors the server, or
// the thread that will set the flag, gets the processor first.
bool spinUntil(const std::atomic<bool>& flag, std::chrono::microseconds spin)
{
    const auto until = std::chrono::steady_clock::now() + spin;
    while (!flag.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace

bool PendingCall::waitDone(std::chrono::milliseconds wait, std::chrono::microseconds expected)
{
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + wait;
    if (spinUntil(ended_, std::min<std::chrono::microseconds>(SpinFor, wait)))
        return true;
    std::unique_lock lock(mutex_);
    const auto due = start + expected - WakeEarly;
    if (expected > SpinFor + WakeEarly && due < until) {
        if (changed_.wait_until(lock, due, [this] { return done_; }))
            return true;
        lock.unlock();
        if (spinUntil(ended_, std::min<std::chrono::microseconds>(
                                  SpinLate, std::chrono::duration_cast<std::chrono::microseconds>(until - due))))
            return true;
        lock.lock();
    }
    return changed_.wait_until(lock, until, [this] { return done_; });
}

bool PendingCall::giveUp()
{
    std::lock_guard lock(mutex_);
    if (done_)
        return false;
    givenUp_ = true;
    return true;
}

std::exception_ptr PendingCall::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

bool PendingCall::finish(std::exception_ptr error)
{
    std::lock_guard lock(mutex_);
    done_ = true;
    error_ = std::move(error);
    endedAt_ = std::chrono::steady_clock::now();
    ended_.store(true, std::memory_order_release);
    changed_.notify_all();
    return givenUp_;
}

void PendingCall::started()
{
    std::lock_guard lock(mutex_);
    started_ = std::chrono::steady_clock::now();
}

std::chrono::milliseconds PendingCall::ran() const
{
    std::lock_guard lock(mutex_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(endedAt_ - started_);
}

DatabaseSession::DatabaseSession(std::shared_ptr<Connection> connection, Late late)
    : connection_(std::move(connection)), late_(std::move(late)), thread_([this] { run(); })
{
}

DatabaseSession::~DatabaseSession()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    {
        // The owner may be the user-interface thread: a close the server
        // does not answer is cut, never waited for.
        std::unique_lock lock(mutex_);
        if (!endedWake_.wait_for(lock, CloseLimit, [this] { return ended_; }) && connection_) {
            aborted_ = true;
            connection_->abort();
        }
    }
    thread_.join();
}

std::shared_ptr<PendingCall> DatabaseSession::post(DatabaseCall kind, Work work)
{
    auto call = std::make_shared<PendingCall>(kind);
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(work), call});
        queued_.store(true, std::memory_order_release);
    }
    wake_.notify_one();
    return call;
}

bool DatabaseSession::busy() const
{
    std::lock_guard lock(mutex_);
    return running_ || !jobs_.empty();
}

void DatabaseSession::abort()
{
    std::lock_guard lock(mutex_);
    aborted_ = true;
    if (connection_)
        connection_->abort();
}

void DatabaseSession::run()
{
    bool lingering = false;
    for (;;) {
        Job job;
        std::shared_ptr<Connection> connection;
        // Right after a call the next one is looked for before sleeping.
        if (lingering)
            spinUntil(queued_, LingerFor);
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            queued_.store(!jobs_.empty(), std::memory_order_release);
            running_ = true;
            connection = connection_;
        }
        lingering = true;
        job.call->started();
        std::exception_ptr error;
        try {
            job.work(*connection);
        } catch (...) {
            error = std::current_exception();
        }
        // The work goes before the call is said to have ended: what it
        // holds is released here, not on the caller's thread.
        job.work = nullptr;
        if (job.call->finish(error) && late_)
            late_(job.call);
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // The connection closes here, on the thread that used it, while
    // abort() can still reach it.
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (connection) {
        try {
            connection->close();
        } catch (...) {
            // Closing a connection that failed may fail too; it is gone either way.
        }
    }
    std::shared_ptr<Connection> last;
    {
        std::lock_guard lock(mutex_);
        last = std::move(connection_);
        ended_ = true;
    }
    endedWake_.notify_all();
}

} // namespace parking

#include "DatabaseSession.h"

namespace parking {

bool PendingCall::waitDone(std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [this] { return done_; });
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
    ended_ = std::chrono::steady_clock::now();
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
    return std::chrono::duration_cast<std::chrono::milliseconds>(ended_ - started_);
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
    thread_.join();
}

std::shared_ptr<PendingCall> DatabaseSession::post(DatabaseCall kind, Work work)
{
    auto call = std::make_shared<PendingCall>(kind);
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(work), call});
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
    for (;;) {
        Job job;
        std::shared_ptr<Connection> connection;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = true;
            connection = connection_;
        }
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
    // The connection closes here, on the thread that used it.
    std::shared_ptr<Connection> last;
    {
        std::lock_guard lock(mutex_);
        last = std::move(connection_);
    }
}

} // namespace parking

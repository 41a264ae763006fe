#include "DatabaseWorker.h"

namespace parking {

bool JobOutcome::waitDone(std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [this] { return done_; });
}

std::exception_ptr JobOutcome::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

void JobOutcome::finish(std::exception_ptr error)
{
    std::lock_guard lock(mutex_);
    done_ = true;
    error_ = std::move(error);
    changed_.notify_all();
}

DatabaseWorker::DatabaseWorker() : thread_([this] { run(); }) {}

DatabaseWorker::~DatabaseWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

std::shared_ptr<JobOutcome> DatabaseWorker::post(std::function<void()> job)
{
    auto outcome = std::make_shared<JobOutcome>();
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(job), outcome});
    }
    wake_.notify_one();
    return outcome;
}

void DatabaseWorker::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        std::exception_ptr error;
        try {
            job.work();
        } catch (...) {
            error = std::current_exception();
        }
        job.outcome->finish(error);
    }
}

} // namespace parking

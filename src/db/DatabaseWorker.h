#pragma once
// The one thread that waits on the database for the user-interface thread:
// connection attempts and probes run here, one at a time and in order, so
// the window keeps handling events while a server takes its time.
//
// A caller may stop waiting for a job that outlived its limit; the job still
// runs to its end here. Jobs own what they work on (a connection held by
// shared_ptr), never a reference into their caller. The destructor drops the
// jobs that have not started, waits for the one that runs and joins the
// thread: nothing is left running once the owner is gone.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace parking {

// How a job ended, shared by the worker and whoever waits for it.
class JobOutcome {
public:
    // True once the job has ended; waits at most `wait` for it.
    bool waitDone(std::chrono::milliseconds wait);
    // What the job threw, or null.
    std::exception_ptr error() const;
    void finish(std::exception_ptr error);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::exception_ptr error_;
};

class DatabaseWorker {
public:
    DatabaseWorker();
    ~DatabaseWorker();
    DatabaseWorker(const DatabaseWorker&) = delete;
    DatabaseWorker& operator=(const DatabaseWorker&) = delete;

    std::shared_ptr<JobOutcome> post(std::function<void()> job);

private:
    struct Job {
        std::function<void()> work;
        std::shared_ptr<JobOutcome> outcome;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace parking

#pragma once
// One database connection and the one thread that talks to it. Every call
// on the connection runs on that thread, one at a time and in order, so
// whoever waits for a call can stop waiting at its deadline: a server that
// stopped answering holds this thread, never the caller's.
//
// A session whose call outlived its caller's deadline is set aside by its
// owner: it is given nothing more, its call runs to its end (or is ended by
// abort()), and its connection is released on its own thread. The
// destructor drops the calls that have not started, waits for the one that
// runs and joins the thread: nothing is left running once the owner is
// gone. Calls own what they work on, never a reference into their caller.
#include "Connection.h"
#include "DatabaseCall.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace parking {

// One call as its caller and the session's thread both see it: whether it
// has ended, what it threw, and whether its caller stopped waiting first.
class PendingCall {
public:
    explicit PendingCall(DatabaseCall kind) : kind_(kind) {}
    DatabaseCall kind() const { return kind_; }
    // True once the call has ended; waits at most `wait` for it. Waking a
    // thread that sleeps costs a few hundred microseconds on a virtual
    // machine, so the caller looks rather than sleeps around the moment the
    // answer is due: for the first SpinFor (a server nearby answers within
    // it), and, for a call `expected` to take longer (a distant server, as
    // its recent calls took), from a little before that time on.
    bool waitDone(std::chrono::milliseconds wait, std::chrono::microseconds expected = {});
    static constexpr std::chrono::microseconds SpinFor{2000};
    static constexpr std::chrono::microseconds WakeEarly{2000};
    static constexpr std::chrono::microseconds SpinLate{4000};
    // The caller stops waiting: true when the call had not ended (its
    // answer, when it comes, is late and changes nothing); false when it
    // ended just now, and its outcome stands.
    bool giveUp();
    // What the call threw, or null.
    std::exception_ptr error() const;
    // The session's thread: the call has ended. True when its caller had
    // already given up on it.
    bool finish(std::exception_ptr error);
    // How long the call ran (from its start on the session's thread).
    std::chrono::milliseconds ran() const;
    void started();

private:
    const DatabaseCall kind_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::atomic<bool> ended_{false}; // done_, for looking without the lock
    bool givenUp_ = false;
    std::exception_ptr error_;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point endedAt_{};
};

class DatabaseSession {
public:
    using Work = std::function<void(Connection&)>;
    // Runs on the session's thread when a call ends after its caller gave
    // up on it: the owner learns of late answers through it.
    using Late = std::function<void(const std::shared_ptr<PendingCall>&)>;

    DatabaseSession(std::shared_ptr<Connection> connection, Late late);
    ~DatabaseSession();
    DatabaseSession(const DatabaseSession&) = delete;
    DatabaseSession& operator=(const DatabaseSession&) = delete;

    // Queues `work`; its outcome is in the returned record.
    std::shared_ptr<PendingCall> post(DatabaseCall kind, Work work);
    // Whether a call runs or waits.
    bool busy() const;
    // Asks the connection to end the call that runs, from any thread; the
    // connection is of no further use afterwards.
    void abort();
    bool aborted() const { return aborted_; }

    // When the session was set aside (the owner's note); zero while in use.
    std::chrono::steady_clock::time_point setAsideAt{};

private:
    struct Job {
        Work work;
        std::shared_ptr<PendingCall> call;
    };
    void run();
    // After a call, the thread looks for the next one this long before it
    // sleeps: a passage's write follows its decision within that time.
    static constexpr std::chrono::microseconds LingerFor{1000};
    // How long the owner waits for the connection's close before cutting
    // it: a round trip or two on a sound link.
    static constexpr std::chrono::milliseconds CloseLimit{100};

    mutable std::mutex mutex_;
    std::atomic<bool> queued_{false}; // jobs_ is not empty, for looking without the lock
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    bool aborted_ = false;
    bool ended_ = false; // the thread has closed its connection
    std::condition_variable endedWake_;
    // Closed by the thread as it ends and only then taken away, under
    // mutex_, so that abort() reaches a close that hangs and never a
    // connection being released.
    std::shared_ptr<Connection> connection_;
    Late late_;
    std::thread thread_;
};

} // namespace parking

// The portable one-shot timer service: one thread per service fires the pending timers in
// deadline order, on the real steady clock or on a manual clock that tests move.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/one_shot_timer.h"
#include "platform/thread_annotations.h"

namespace quiltra::platform {

class TimerService {
public:
    TimerService();
    // Stops the thread (see stop()).
    ~TimerService();
    TimerService(const TimerService&) = delete;
    TimerService& operator=(const TimerService&) = delete;

    // Arms a one-shot timer; starts the thread on first use. Returns its id (never 0).
    uint32_t set(uint32_t delayMs, TimerCallback callback, uintptr_t context);
    // True when the timer was pending and is now cancelled; never waits.
    bool kill(uint32_t timerId);
    // Cancels every pending timer and joins the thread, waiting for a running callback.
    // Overlapping stops all return only once the thread has ended. From a callback it only
    // cancels (a thread cannot join itself).
    void stop();
    // Switches between the steady clock and the manual clock (which restarts at 0 ms).
    // Pending timers were armed on the other clock: they are cancelled.
    void useManualTime(bool on);
    // Moves the manual clock on by `ms`, firing every timer due by then in deadline order
    // (the clock stands at each timer's deadline while its callback runs) before returning.
    // From a callback it only moves the target; the timers fire after that callback.
    void advanceManualTime(uint32_t ms);

private:
    struct Due {
        uint64_t deadlineMs;
        uint64_t sequence;  // arming order, for timers with the same deadline
        bool operator<(const Due& other) const {
            return deadlineMs != other.deadlineMs ? deadlineMs < other.deadlineMs
                                                  : sequence < other.sequence;
        }
    };
    struct Timer {
        uint32_t id;
        TimerCallback callback;
        uintptr_t context;
    };

    void run();
    uint64_t nowMs() const QUILTRA_REQUIRES(mutex_);
    bool onTimerThread() const QUILTRA_REQUIRES(mutex_);
    bool manualTimeSettled() const QUILTRA_REQUIRES(mutex_);
    void startThread() QUILTRA_REQUIRES(mutex_);

    mutable std::mutex mutex_;
    // Wakes the timer thread: a new first timer, a manual advance, a stop.
    std::condition_variable wake_;
    // Wakes advanceManualTime and stop: a callback finished, the thread went idle, or a
    // stop ended.
    std::condition_variable settled_;
    const std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();

    // Files a timer in both indexes, reusing spare nodes.
    void insert(const Due& due, const Timer& timer) QUILTRA_REQUIRES(mutex_);
    // Takes a pending timer out of both indexes, keeping its nodes as spares.
    void erase(std::map<Due, Timer>::iterator timer) QUILTRA_REQUIRES(mutex_);

    std::map<Due, Timer> pending_ QUILTRA_GUARDED_BY(mutex_);
    std::unordered_map<uint32_t, Due> byId_ QUILTRA_GUARDED_BY(mutex_);
    // Nodes of timers that fired or were killed, for the next ones: a scanner re-arms its
    // grab timeout with every turn, and that must not cost an allocation each time.
    static constexpr std::size_t kSpareNodes = 64;
    std::vector<std::map<Due, Timer>::node_type> sparePending_ QUILTRA_GUARDED_BY(mutex_);
    std::vector<std::unordered_map<uint32_t, Due>::node_type> spareIds_ QUILTRA_GUARDED_BY(mutex_);
    uint32_t lastId_ QUILTRA_GUARDED_BY(mutex_) = 0;
    uint64_t sequence_ QUILTRA_GUARDED_BY(mutex_) = 0;
    uint32_t runningId_ QUILTRA_GUARDED_BY(mutex_) = 0;  // the callback running now, or 0
    bool manual_ QUILTRA_GUARDED_BY(mutex_) = false;
    uint64_t manualNowMs_ QUILTRA_GUARDED_BY(mutex_) = 0;
    uint64_t manualTargetMs_ QUILTRA_GUARDED_BY(mutex_) = 0;
    // Set while any stop() is in progress; the thread ends when it sees it.
    bool stopping_ QUILTRA_GUARDED_BY(mutex_) = false;
    // The stop() calls in progress (not counting those from a callback); the last one to
    // finish clears stopping_.
    int stopsInProgress_ QUILTRA_GUARDED_BY(mutex_) = 0;
    // A stop() is joining the thread; the other stops wait for it on settled_.
    bool joining_ QUILTRA_GUARDED_BY(mutex_) = false;
    // Owned by this service; started by set(), joined by stop().
    std::thread thread_ QUILTRA_GUARDED_BY(mutex_);
    std::thread::id threadId_ QUILTRA_GUARDED_BY(mutex_);
};

}  // namespace quiltra::platform

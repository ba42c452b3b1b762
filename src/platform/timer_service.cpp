#include "platform/timer_service.h"

#include "platform/thread_name.h"

namespace quiltra::platform {

TimerService::TimerService() = default;

TimerService::~TimerService() {
    stop();
}

uint64_t TimerService::nowMs() const {
    if (manual_) {
        return manualNowMs_;
    }
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - epoch_)
                                     .count());
}

bool TimerService::onTimerThread() const {
    return threadId_ == std::this_thread::get_id();
}

void TimerService::startThread() {
    thread_ = std::thread([this] { run(); });
    threadId_ = thread_.get_id();
}

uint32_t TimerService::set(uint32_t delayMs, TimerCallback callback, uintptr_t context) {
    if (callback == nullptr) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    // Ids count up and skip 0 and any id still pending, so one is reused only after 2^32
    // further timers.
    do {
        ++lastId_;
    } while (lastId_ == 0 || byId_.count(lastId_) != 0);
    const Due due{nowMs() + delayMs, sequence_++};
    insert(due, Timer{lastId_, callback, context});
    if (!thread_.joinable() && !stopping_) {
        startThread();  // stop() starts it again itself when timers came in meanwhile
    }
    if (pending_.begin()->first.sequence == due.sequence) {
        wake_.notify_one();  // the new timer is the first one: the thread waits too long
    }
    return lastId_;
}

bool TimerService::kill(uint32_t timerId) {
    std::lock_guard lock(mutex_);
    const auto found = byId_.find(timerId);
    if (found == byId_.end()) {
        return false;
    }
    erase(pending_.find(found->second));
    return true;
}

void TimerService::insert(const Due& due, const Timer& timer) {
    if (sparePending_.capacity() == 0) {
        // Once, with the first timer (a service that never arms one allocates nothing).
        byId_.reserve(kSpareNodes);
        sparePending_.reserve(kSpareNodes);
        spareIds_.reserve(kSpareNodes);
    }
    if (sparePending_.empty() || spareIds_.empty()) {
        pending_.emplace(due, timer);
        byId_.emplace(timer.id, due);
        return;
    }
    auto pendingNode = std::move(sparePending_.back());
    sparePending_.pop_back();
    pendingNode.key() = due;
    pendingNode.mapped() = timer;
    pending_.insert(std::move(pendingNode));
    auto idNode = std::move(spareIds_.back());
    spareIds_.pop_back();
    idNode.key() = timer.id;
    idNode.mapped() = due;
    byId_.insert(std::move(idNode));
}

void TimerService::erase(std::map<Due, Timer>::iterator timer) {
    auto idNode = byId_.extract(timer->second.id);
    auto pendingNode = pending_.extract(timer);
    if (sparePending_.size() < kSpareNodes && !idNode.empty()) {
        sparePending_.push_back(std::move(pendingNode));
        spareIds_.push_back(std::move(idNode));
    }
}

void TimerService::stop() {
    std::unique_lock lock(mutex_);
    pending_.clear();
    byId_.clear();
    if (onTimerThread()) {
        return;  // from a callback: cancelled, but the thread cannot join itself
    }
    // stopping_ stays set until the last of overlapping stops is done, so the thread ends
    // whichever of them joins it, and no new thread starts meanwhile.
    ++stopsInProgress_;
    stopping_ = true;
    wake_.notify_all();
    if (thread_.joinable()) {
        std::thread thread = std::move(thread_);
        joining_ = true;
        lock.unlock();
        thread.join();
        lock.lock();
        joining_ = false;
        threadId_ = {};
    } else {
        // Another stop may be joining the thread: return only once it has ended.
        settled_.wait(lock, [this]() QUILTRA_REQUIRES(mutex_) { return !joining_; });
    }
    if (--stopsInProgress_ == 0) {
        stopping_ = false;
        if (!pending_.empty()) {
            startThread();  // timers armed while the old thread was ending
        }
    }
    settled_.notify_all();
}

void TimerService::useManualTime(bool on) {
    std::lock_guard lock(mutex_);
    pending_.clear();
    byId_.clear();
    manual_ = on;
    manualNowMs_ = 0;
    manualTargetMs_ = 0;
    wake_.notify_all();
}

bool TimerService::manualTimeSettled() const {
    // While a stop is in progress, timers armed meanwhile wait for the thread it restarts.
    return (!thread_.joinable() && stopsInProgress_ == 0) ||
           (runningId_ == 0 &&
            (pending_.empty() || pending_.begin()->first.deadlineMs > manualTargetMs_));
}

void TimerService::advanceManualTime(uint32_t ms) {
    std::unique_lock lock(mutex_);
    if (!manual_) {
        return;
    }
    manualTargetMs_ += ms;
    if (onTimerThread()) {
        return;
    }
    wake_.notify_all();
    settled_.wait(lock, [this]() QUILTRA_REQUIRES(mutex_) { return manualTimeSettled(); });
    if (manual_) {
        manualNowMs_ = manualTargetMs_;
    }
}

void TimerService::run() {
    setCurrentThreadName("quiltra-timer");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            settled_.notify_all();
            wake_.wait(lock);
            continue;
        }
        const auto first = pending_.begin();
        const uint64_t deadline = first->first.deadlineMs;
        if (manual_) {
            if (deadline > manualTargetMs_) {
                settled_.notify_all();
                wake_.wait(lock);
                continue;
            }
            if (deadline > manualNowMs_) {
                manualNowMs_ = deadline;  // the clock stands at the deadline being served
            }
        } else if (deadline > nowMs()) {
            wake_.wait_until(lock, epoch_ + std::chrono::milliseconds(deadline));
            continue;
        }
        const Timer timer = first->second;
        erase(first);
        runningId_ = timer.id;
        // The callback runs without the lock, so it may arm and kill timers, and kill()
        // never waits for it.
        lock.unlock();
        timer.callback(timer.id, timer.context);
        lock.lock();
        runningId_ = 0;
        settled_.notify_all();
    }
}

}  // namespace quiltra::platform

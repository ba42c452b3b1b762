#include <windows.h>
// mmsystem.h after windows.h
#include <mmsystem.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/no_destructor.h"
#include "platform/one_shot_timer.h"

namespace quiltra::platform {

namespace {

// The multimedia timers armed through this library and not yet fired or killed. Whoever
// removes a timer's entry owns its callback: the trampoline runs it, killTimer cancels it;
// so a kill that races with the firing never lets the callback run after killTimer said
// true. The storage is never destroyed (the winmm thread may still fire while the process
// exits); stopTimerService leaves no timer of ours behind.
struct Registry {
    struct Entry {
        TimerCallback callback;
        uintptr_t context;
    };
    std::mutex mutex;
    std::condition_variable idle;  // a callback finished
    std::unordered_map<UINT, Entry> pending;
    int running = 0;
    DWORD runningThread = 0;  // the thread of a running callback (winmm uses one)
};

Registry& registry() {
    static NoDestructor<Registry> storage;
    return storage.get();
}

void CALLBACK trampoline(UINT timerId, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    Registry& timers = registry();
    Registry::Entry entry;
    {
        std::lock_guard lock(timers.mutex);
        const auto found = timers.pending.find(timerId);
        if (found == timers.pending.end()) {
            return;  // killed meanwhile
        }
        entry = found->second;
        timers.pending.erase(found);
        ++timers.running;
        timers.runningThread = GetCurrentThreadId();
    }
    entry.callback(static_cast<uint32_t>(timerId), entry.context);
    std::lock_guard lock(timers.mutex);
    --timers.running;
    timers.idle.notify_all();
}

}  // namespace

uint32_t setOneShotTimer(uint32_t delayMs, TimerCallback callback, uintptr_t context) {
    if (callback == nullptr) {
        return 0;
    }
    Registry& timers = registry();
    // Held across timeSetEvent so that a timer firing at once waits for its entry.
    std::lock_guard lock(timers.mutex);
    const UINT id = timeSetEvent(delayMs, 1, trampoline, 0, TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
    if (id != 0) {
        timers.pending[id] = Registry::Entry{callback, context};
    }
    return static_cast<uint32_t>(id);
}

bool killTimer(uint32_t timerId) {
    Registry& timers = registry();
    std::lock_guard lock(timers.mutex);
    if (timers.pending.erase(static_cast<UINT>(timerId)) == 0) {
        return false;
    }
    timeKillEvent(static_cast<UINT>(timerId));
    return true;
}

void stopTimerService() {
    Registry& timers = registry();
    std::unique_lock lock(timers.mutex);
    for (const auto& [id, entry] : timers.pending) {
        timeKillEvent(id);
    }
    timers.pending.clear();
    if (timers.running > 0 && timers.runningThread == GetCurrentThreadId()) {
        return;  // from a callback: cancelled, but it cannot wait for itself
    }
    timers.idle.wait(lock, [&] { return timers.running == 0; });
}

// The manual clock exists only off Windows: here the real multimedia timer runs.
void useManualTime(bool) {}
void advanceManualTime(uint32_t) {}

}  // namespace quiltra::platform

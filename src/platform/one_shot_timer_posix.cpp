#include "platform/no_destructor.h"
#include "platform/one_shot_timer.h"
#include "platform/timer_service.h"

namespace quiltra::platform {

namespace {

// The library's one timer service. Its storage is never destroyed, so a call that comes in
// while the process exits still finds a working service. Its thread, though, must not
// outlive the library's code: StopAtUnload ends it when the library is unloaded (or the
// process exits) without stopTimerService, waiting for a callback that is running. A
// joinable std::thread is therefore never destroyed (which would terminate the process).
TimerService& service() {
    static NoDestructor<TimerService> storage;
    return storage.get();
}

struct StopAtUnload {
    ~StopAtUnload() { service().stop(); }
} stopAtUnload;

}  // namespace

uint32_t setOneShotTimer(uint32_t delayMs, TimerCallback callback, uintptr_t context) {
    return service().set(delayMs, callback, context);
}

bool killTimer(uint32_t timerId) {
    return service().kill(timerId);
}

void stopTimerService() {
    service().stop();
}

void useManualTime(bool on) {
    service().useManualTime(on);
}

void advanceManualTime(uint32_t ms) {
    service().advanceManualTime(ms);
}

}  // namespace quiltra::platform

// One-shot timers with 1 ms resolution (timeSetEvent / timeKillEvent with TIME_ONESHOT).
//
// Off Windows one timer thread per library ("quiltra-timer", started on first use) fires
// the pending timers in deadline order. Killing a timer never waits for a callback that is
// already running; a callback may arm or kill timers itself. On Windows the real multimedia
// timer is used.
#pragma once

#include <cstdint>

namespace quiltra::platform {

using TimerCallback = void (*)(uint32_t timerId, uintptr_t context);

// Arms a timer that calls callback(id, context) once, after delayMs milliseconds, on the
// timer thread. Returns its id, never 0; 0 when it could not be armed.
uint32_t setOneShotTimer(uint32_t delayMs, TimerCallback callback, uintptr_t context);

// Cancels a pending timer. Returns true when it was still pending (its callback will not
// run); false when it already fired, is running or is unknown. Never waits.
bool killTimer(uint32_t timerId);

// Cancels every pending timer and stops the timer thread, waiting for a running callback.
// From a timer callback it only cancels (it cannot wait for itself). The service restarts
// on the next setOneShotTimer. Unloading the library without it ends the thread too.
void stopTimerService();

// Test support off Windows (on Windows both do nothing: the real multimedia timer runs):
// while manual time is on, the timer thread follows a clock that only advanceManualTime
// moves, starting from 0 ms. Switching the clock cancels the pending timers; a timer armed
// with delay 0 is due at once.
void useManualTime(bool on);
// Moves the manual clock forward and fires every timer due by then, in deadline order,
// before returning.
void advanceManualTime(uint32_t ms);

}  // namespace quiltra::platform

// A recursive lock (a Windows critical section; a recursive mutex elsewhere): the thread
// that holds it may take it again. Meets the Lockable requirements, so std::lock_guard and
// std::unique_lock work with it.
#pragma once

#include "thread_annotations.h"

namespace quiltra::platform {

class QUILTRA_CAPABILITY("mutex") RecursiveLock {
public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void lock() QUILTRA_ACQUIRE();
    bool try_lock() QUILTRA_TRY_ACQUIRE(true);
    void unlock() QUILTRA_RELEASE();

private:
    // Storage for the native object (CRITICAL_SECTION or pthread_mutex_t), so this header
    // needs no system header. Checked against the native size in each implementation.
    alignas(8) unsigned char native_[64];
};

}  // namespace quiltra::platform

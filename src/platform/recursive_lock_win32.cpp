#include <windows.h>

#include "platform/recursive_lock.h"

namespace quiltra::platform {

namespace {

CRITICAL_SECTION* native(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

RecursiveLock::RecursiveLock() {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(native_), "native lock storage too small");
    static_assert(alignof(CRITICAL_SECTION) <= 8, "native lock storage misaligned");
    InitializeCriticalSection(native(native_));
}

RecursiveLock::~RecursiveLock() {
    DeleteCriticalSection(native(native_));
}

void RecursiveLock::lock() {
    EnterCriticalSection(native(native_));
}

bool RecursiveLock::try_lock() {
    return TryEnterCriticalSection(native(native_)) != 0;
}

void RecursiveLock::unlock() {
    LeaveCriticalSection(native(native_));
}

}  // namespace quiltra::platform

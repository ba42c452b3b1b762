#include <pthread.h>

#include <cstdlib>

#include "platform/recursive_lock.h"

namespace quiltra::platform {

namespace {

pthread_mutex_t* native(unsigned char* storage) {
    return reinterpret_cast<pthread_mutex_t*>(storage);
}

}  // namespace

RecursiveLock::RecursiveLock() {
    static_assert(sizeof(pthread_mutex_t) <= sizeof(native_), "native lock storage too small");
    static_assert(alignof(pthread_mutex_t) <= 8, "native lock storage misaligned");
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    // Initialisation fails only when the system is out of resources; a lock that is not
    // one would silently break every invariant it guards.
    if (pthread_mutex_init(native(native_), &attributes) != 0) {
        std::abort();
    }
    pthread_mutexattr_destroy(&attributes);
}

RecursiveLock::~RecursiveLock() {
    pthread_mutex_destroy(native(native_));
}

void RecursiveLock::lock() {
    pthread_mutex_lock(native(native_));
}

bool RecursiveLock::try_lock() {
    return pthread_mutex_trylock(native(native_)) == 0;
}

void RecursiveLock::unlock() {
    pthread_mutex_unlock(native(native_));
}

}  // namespace quiltra::platform

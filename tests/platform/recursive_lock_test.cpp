#include "platform/recursive_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace quiltra::platform {
namespace {

bool triedFromAnotherThread(RecursiveLock& lock) {
    bool taken = false;
    std::thread([&] {
        taken = lock.try_lock();
        if (taken) {
            lock.unlock();
        }
    }).join();
    return taken;
}

TEST(RecursiveLock, HolderMayTakeItAgainWhileOthersCannot) {
    RecursiveLock lock;
    std::lock_guard outer(lock);
    {
        std::lock_guard inner(lock);
        EXPECT_TRUE(lock.try_lock());
        lock.unlock();
        EXPECT_FALSE(triedFromAnotherThread(lock));
    }
    EXPECT_FALSE(triedFromAnotherThread(lock));  // still held once
}

TEST(RecursiveLock, ReleasedAfterAsManyUnlocksAsLocks) {
    RecursiveLock lock;
    lock.lock();
    lock.lock();
    lock.unlock();
    lock.unlock();
    EXPECT_TRUE(triedFromAnotherThread(lock));
}

TEST(RecursiveLock, GuardsACounterAcrossThreads) {
    RecursiveLock lock;
    int counter = 0;  // guarded by lock
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            std::lock_guard outer(lock);
            std::lock_guard inner(lock);
            ++counter;
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace quiltra::platform

#include "platform/one_shot_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/timer_service.h"

namespace quiltra::platform {
namespace {

using namespace std::chrono_literals;

// What the timers did, as seen by their callbacks; the context of every test timer is the
// address of a Probe.
struct Firings {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> tags;      // guarded by mutex
    std::vector<uint32_t> ids;  // guarded by mutex

    void add(uint32_t id, int tag) {
        std::lock_guard lock(mutex);
        ids.push_back(id);
        tags.push_back(tag);
        changed.notify_all();
    }
    std::vector<int> seen() {
        std::lock_guard lock(mutex);
        return tags;
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return tags.size() >= count; });
    }
};

// One timer's script: record the tag, then optionally kill or re-arm.
struct Probe {
    Firings* firings;
    int tag;
    TimerService* service = nullptr;
    uint32_t killId = 0;
    bool killResult = false;
    int rearmTimes = 0;  // re-arm with rearmDelay this many more times
    uint32_t rearmDelay = 0;
};

void record(uint32_t id, uintptr_t context) {
    auto* probe = reinterpret_cast<Probe*>(context);
    probe->firings->add(id, probe->tag);
    if (probe->killId != 0) {
        probe->killResult = probe->service->kill(probe->killId);
    }
    if (probe->rearmTimes > 0) {
        --probe->rearmTimes;
        probe->service->set(probe->rearmDelay, record, context);
    }
}

uintptr_t asContext(Probe& probe) {
    return reinterpret_cast<uintptr_t>(&probe);
}

// Waits until `done` reaches `count`. A stop that hangs leaves threads behind that still use
// the service, so the test cannot clean up: it ends the program instead of hanging.
void awaitOrAbort(const std::atomic<int>& done, int count, const char* what) {
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (done.load() < count) {
        if (std::chrono::steady_clock::now() > limit) {
            std::fprintf(stderr, "hung: %s\n", what);
            std::abort();
        }
        std::this_thread::sleep_for(1ms);
    }
}

class ManualTimers : public ::testing::Test {
protected:
    void SetUp() override { service.useManualTime(true); }
    Probe probe(int tag) { return Probe{&firings, tag, &service}; }

    Firings firings;
    TimerService service;
};

TEST_F(ManualTimers, FireInDeadlineOrderThenArmingOrder) {
    Probe third = probe(3), first = probe(1), second = probe(2), sameAsFirst = probe(4);
    service.set(30, record, asContext(third));
    service.set(10, record, asContext(first));
    service.set(20, record, asContext(second));
    service.set(10, record, asContext(sameAsFirst));
    service.advanceManualTime(9);
    EXPECT_TRUE(firings.seen().empty());
    service.advanceManualTime(11);
    EXPECT_EQ(firings.seen(), (std::vector<int>{1, 4, 2}));
    service.advanceManualTime(10);
    EXPECT_EQ(firings.seen(), (std::vector<int>{1, 4, 2, 3}));
}

TEST_F(ManualTimers, IdsAreNeverZeroAndNotReused) {
    Probe p = probe(1);
    std::vector<uint32_t> ids;
    for (int i = 0; i < 100; ++i) {
        ids.push_back(service.set(5, record, asContext(p)));
        if (i % 2 == 0) {
            service.kill(ids.back());
        }
    }
    service.advanceManualTime(5);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_NE(ids[i], 0u);
        for (std::size_t j = 0; j < i; ++j) {
            ASSERT_NE(ids[i], ids[j]);
        }
    }
    EXPECT_EQ(service.set(5, nullptr, 0), 0u);
}

TEST_F(ManualTimers, KilledBeforeFiringNeverFires) {
    Probe killed = probe(1), kept = probe(2);
    const uint32_t id = service.set(10, record, asContext(killed));
    service.set(10, record, asContext(kept));
    EXPECT_TRUE(service.kill(id));
    EXPECT_FALSE(service.kill(id));
    EXPECT_FALSE(service.kill(0));
    EXPECT_FALSE(service.kill(id + 1000));
    service.advanceManualTime(20);
    EXPECT_EQ(firings.seen(), std::vector<int>{2});
}

TEST_F(ManualTimers, ACallbackMayKillAPendingTimerButNotItself) {
    Probe killer = probe(1), victim = probe(2);
    const uint32_t victimId = service.set(20, record, asContext(victim));
    killer.killId = victimId;
    service.set(10, record, asContext(killer));
    service.advanceManualTime(30);
    EXPECT_TRUE(killer.killResult);
    EXPECT_EQ(firings.seen(), std::vector<int>{1});

    Probe selfKiller = probe(3);
    const uint32_t selfId = service.set(10, record, asContext(selfKiller));
    selfKiller.killId = selfId;  // running: too late to cancel
    service.advanceManualTime(10);
    EXPECT_FALSE(selfKiller.killResult);
    EXPECT_EQ(firings.seen(), (std::vector<int>{1, 3}));
}

TEST_F(ManualTimers, ACallbackMayReArmAndTheClockStepsThroughEachDeadline) {
    Probe repeating = probe(7);
    repeating.rearmTimes = 3;
    repeating.rearmDelay = 10;
    service.set(10, record, asContext(repeating));
    service.advanceManualTime(25);  // fires at 10 and 20, the next is due at 30
    EXPECT_EQ(firings.seen(), (std::vector<int>{7, 7}));
    service.advanceManualTime(100);
    EXPECT_EQ(firings.seen(), (std::vector<int>{7, 7, 7, 7}));
}

TEST_F(ManualTimers, StopCancelsPendingTimersAndTheServiceRestarts) {
    Probe a = probe(1), b = probe(2), later = probe(3);
    service.set(10, record, asContext(a));
    service.set(20, record, asContext(b));
    service.stop();
    service.advanceManualTime(50);
    EXPECT_TRUE(firings.seen().empty());
    service.set(10, record, asContext(later));
    service.advanceManualTime(10);
    EXPECT_EQ(firings.seen(), std::vector<int>{3});
}

TEST_F(ManualTimers, KillNeverWaitsForARunningCallbackButEveryStopDoes) {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    struct Blocking {
        std::atomic<bool>* entered;
        std::atomic<bool>* release;
        std::atomic<bool>* finished;
    } blocking{&entered, &release, &finished};
    const auto blockingCallback = [](uint32_t, uintptr_t context) {
        auto* b = reinterpret_cast<Blocking*>(context);
        b->entered->store(true);
        while (!b->release->load()) {
            std::this_thread::sleep_for(1ms);
        }
        b->finished->store(true);
    };
    const uint32_t id = service.set(10, blockingCallback, reinterpret_cast<uintptr_t>(&blocking));
    std::thread advancer([&] { service.advanceManualTime(10); });
    while (!entered.load()) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_FALSE(service.kill(id));  // returns while the callback is still running

    // Two overlapping stops: the second finds the thread already being joined by the first.
    std::atomic<int> stopped{0};
    std::vector<std::thread> stoppers;
    for (int i = 0; i < 2; ++i) {
        stoppers.emplace_back([&] {
            service.stop();
            ++stopped;
        });
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(stopped.load(), 0);
    release.store(true);
    awaitOrAbort(stopped, 2, "overlapping stops after the callback returned");
    for (std::thread& stopper : stoppers) {
        stopper.join();
    }
    advancer.join();
    EXPECT_TRUE(finished.load());
}

// Stops that overlap each other and a set(), started together many times over: each returns
// once the thread has ended, and the service serves timers afterwards.
TEST(TimerServiceStops, OverlappingStopsEndTheThreadAndTheServiceServesAfterwards) {
    for (int round = 0; round < 100; ++round) {
        Firings firings;
        Probe first{&firings, 1}, during{&firings, 2}, after{&firings, 3};
        TimerService service;
        service.set(0, record, asContext(first));  // starts the thread
        std::atomic<bool> go{false};
        std::atomic<int> done{0};
        const auto together = [&](auto work) {
            return std::thread([&go, &done, work] {
                while (!go.load()) {
                    std::this_thread::yield();
                }
                work();
                ++done;
            });
        };
        std::thread threads[] = {together([&] { service.stop(); }),
                                 together([&] { service.stop(); }),
                                 together([&] { service.set(0, record, asContext(during)); })};
        go.store(true);
        awaitOrAbort(done, 3, "overlapping stops");
        for (std::thread& thread : threads) {
            thread.join();
        }
        service.stop();  // `during` has fired or was cancelled
        const std::size_t fired = firings.seen().size();
        service.set(0, record, asContext(after));
        ASSERT_TRUE(firings.waitFor(fired + 1, 10s)) << "round " << round;
        EXPECT_EQ(firings.seen().back(), 3) << "round " << round;
    }
}

TEST(TimerServiceLifetime, DestroyingAServiceWithPendingTimersEndsItsThread) {
    Firings firings;
    Probe p{&firings, 1};
    {
        TimerService service;
        service.set(60000, record, asContext(p));
    }
    EXPECT_TRUE(firings.seen().empty());
}

TEST(OneShotTimer, FiresOnceInRealTimeAndCanBeKilled) {
    Firings firings;
    Probe soon{&firings, 1};
    Probe never{&firings, 2};
    const uint32_t neverId = setOneShotTimer(60000, record, asContext(never));
    const uint32_t soonId = setOneShotTimer(20, record, asContext(soon));
    ASSERT_NE(soonId, 0u);
    ASSERT_NE(neverId, 0u);
    EXPECT_NE(soonId, neverId);
    ASSERT_TRUE(firings.waitFor(1, 10s));
    EXPECT_EQ(firings.seen(), std::vector<int>{1});
    {
        std::lock_guard lock(firings.mutex);
        EXPECT_EQ(firings.ids, std::vector<uint32_t>{soonId});
    }
    EXPECT_FALSE(killTimer(soonId));  // already fired
    EXPECT_TRUE(killTimer(neverId));
    stopTimerService();
}

#if !defined(_WIN32)
TEST(OneShotTimer, ManualTimeDrivesTheLibraryTimer) {
    Firings firings;
    Probe p{&firings, 5};
    useManualTime(true);
    setOneShotTimer(50, record, asContext(p));
    advanceManualTime(49);
    EXPECT_TRUE(firings.seen().empty());
    advanceManualTime(1);
    EXPECT_EQ(firings.seen(), std::vector<int>{5});
    useManualTime(false);
    stopTimerService();
}
#endif

}  // namespace
}  // namespace quiltra::platform

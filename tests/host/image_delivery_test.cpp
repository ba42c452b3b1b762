// Images of real camera ports: the driver calls Quiltra's hook on its own thread, and the
// hook hands each image to the host's callback of that port. Also the races between that
// thread and the host's opening, closing, callback changes and finalize.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>

#include "host_test_fixture.h"

namespace quiltra::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using namespace std::chrono_literals;

using ImageDelivery = HostTest;

TEST_F(ImageDelivery, AnImageOfARealPortReachesTheHostsCallbackOnTheDriversThread) {
    startWithDriver();
    openCamera(3);
    CallbackRecorder recorder;
    ASSERT_EQ(setCompleteCallback(0, 3, &CallbackRecorder::callback), 1);
    driver().setDeliverOnGrab(true);
    ASSERT_EQ(doCVLGrab(0, 3), 1);
    driver().waitForDeliveries();
    auto calls = recorder.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].grabber, 0);
    EXPECT_EQ(calls[0].port, 3);
    EXPECT_NE(calls[0].thread, std::this_thread::get_id());
}

TEST_F(ImageDelivery, TheCallbackGetsTheGrabberAndPortTheDriverReported) {
    startWithDriver();
    openCamera(3);
    CallbackRecorder recorder;
    setCompleteCallback(0, 3, &CallbackRecorder::callback);
    driver().deliver(5, 3);
    driver().waitForDeliveries();
    ASSERT_EQ(recorder.calls().size(), 1u);
    EXPECT_EQ(recorder.calls()[0].grabber, 5);
}

TEST_F(ImageDelivery, WithoutACallbackOrOnAnotherPortNothingIsCalled) {
    startWithDriver();
    openCamera(1);
    openCamera(2);
    CallbackRecorder recorder;
    driver().deliver(0, 1);  // port 1 has no host callback
    setCompleteCallback(0, 2, &CallbackRecorder::callback);
    setCompleteCallback(0, 2, nullptr);
    driver().deliver(0, 2);  // removed again
    driver().waitForDeliveries();
    EXPECT_EQ(driver().delivered(), 2);
    EXPECT_THAT(recorder.calls(), IsEmpty());
}

TEST_F(ImageDelivery, AnImageArrivingAfterThePortWasClosedReachesNoCallback) {
    startWithDriver();
    openCamera(1);
    CallbackRecorder recorder;
    setCompleteCallback(0, 1, &CallbackRecorder::callback);
    closeCVLPort(0, 1);
    driver().deliver(0, 1);  // a late image: the fake still holds the hook
    driver().waitForDeliveries();
    EXPECT_EQ(driver().delivered(), 1);
    EXPECT_THAT(recorder.calls(), IsEmpty());
    // Reopened, the port starts without a host callback.
    openCamera(1);
    driver().deliver(0, 1);
    driver().waitForDeliveries();
    EXPECT_THAT(recorder.calls(), IsEmpty());
}

// The host reads the image inside its callback, as hosts do.
std::vector<std::uint8_t> rowReadInCallback;
void QUILTRA_CALL readRowInCallback(int grabber, int port) {
    rowReadInCallback.assign(4, 0);
    if (getCVLGrabRow(grabber, port, rowReadInCallback.data(), 1, 0, 3) != 1) {
        rowReadInCallback.clear();
    }
}

TEST_F(ImageDelivery, TheHostReadsRowsOfARealPortFromInsideItsCallback) {
    startWithDriver();
    openCamera(2);
    setCompleteCallback(0, 2, &readRowInCallback);
    driver().deliver(0, 2);
    driver().waitForDeliveries();
    EXPECT_THAT(rowReadInCallback,
                testing::ElementsAre(fake::pixel(2, 1, 0), fake::pixel(2, 1, 1),
                                     fake::pixel(2, 1, 2), fake::pixel(2, 1, 3)));
}

TEST_F(ImageDelivery, DriversThatDeliverInsideTheirOwnEntriesDoNotDeadlockAgainstTheHook) {
    // Each of these driver entries waits until its thread has delivered an image through
    // Quiltra's hook; Quiltra must not hold the lock the hook takes while it calls them.
    for (const char* entry : {"setCompleteCallback", "doCVLGrab", "closeCVLPort", "finalize"}) {
        SCOPED_TRACE(entry);
        useDriver();
        driver().setDeliverInside(entry);
        ASSERT_EQ(initializeHost(), 1);
        int size[2] = {0, 0};
        EXPECT_EQ(openCVLPort(0, 1, "Alpha", size), 1);
        CallbackRecorder recorder;
        setCompleteCallback(0, 1, &CallbackRecorder::callback);
        EXPECT_EQ(doCVLGrab(0, 1), 1);
        closeCVLPort(0, 1);
        EXPECT_EQ(finalize(), 1);
        EXPECT_THAT(driver().calls(), Not(Contains("deliveryTimedOut")));
        EXPECT_EQ(driver().delivered(), 1);
    }
}

// A host callback that blocks until the test lets it go.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
    std::atomic<bool> running{false};
};
Gate* gate = nullptr;

void QUILTRA_CALL blockingCallback(int, int) {
    gate->running = true;
    std::unique_lock<std::mutex> lock(gate->mutex);
    gate->entered = true;
    gate->changed.notify_all();
    gate->changed.wait(lock, [] { return gate->open; });
    gate->running = false;
}

TEST_F(ImageDelivery, ClosingAPortWaitsForItsCallbackInProgressAndNoneRunsAfterwards) {
    Gate closingGate;
    gate = &closingGate;
    startWithDriver();
    openCamera(1);
    setCompleteCallback(0, 1, &blockingCallback);
    driver().deliver(0, 1);
    {
        std::unique_lock<std::mutex> lock(closingGate.mutex);
        closingGate.changed.wait(lock, [&] { return closingGate.entered; });
    }
    std::atomic<bool> callbackRanAfterClose{false};
    auto closing = std::async(std::launch::async, [&] {
        closeCVLPort(0, 1);
        callbackRanAfterClose = closingGate.running.load();
    });
    EXPECT_EQ(closing.wait_for(100ms), std::future_status::timeout);
    {
        std::lock_guard<std::mutex> lock(closingGate.mutex);
        closingGate.open = true;
        closingGate.changed.notify_all();
    }
    closing.get();
    EXPECT_FALSE(callbackRanAfterClose);
    driver().waitForDeliveries();
    gate = nullptr;
}

// Closes its own port from inside the callback, on the driver's thread.
void QUILTRA_CALL closeOwnPort(int grabber, int port) {
    closeCVLPort(grabber, port);
}

TEST_F(ImageDelivery, ACallbackMayCloseItsOwnPort) {
    startWithDriver();
    openCamera(2);
    setCompleteCallback(0, 2, &closeOwnPort);
    driver().deliver(0, 2);
    driver().waitForDeliveries();
    EXPECT_EQ(driver().callsOf("closeCVLPort").size(), 1u);
    EXPECT_EQ(doCVLGrab(0, 2), 0);
}

// Closes port 2, whose driver waits in closeCVLPort until its own thread has delivered an
// image of that port through Quiltra's hook.
void QUILTRA_CALL closePortTwo(int grabber, int) {
    closeCVLPort(grabber, 2);
}

TEST_F(ImageDelivery, ACallbackMayCloseAPortWhoseDriverWaitsForItsDeliveryThread) {
    startWithDriver();
    openCamera(1);
    openCamera(2);
    setCompleteCallback(0, 1, &closePortTwo);
    driver().setDeliverInside("closeCVLPort");
    // This thread plays a second delivery thread of the driver, announcing port 1.
    driver().completeCallback(1)(0, 1);
    EXPECT_THAT(driver().calls(), Not(Contains("deliveryTimedOut")));
    EXPECT_THAT(driver().callsOf("closeCVLPort"), ElementsAre("closeCVLPort(0,2)"));
}

std::atomic<int> imagesToA{0};
std::atomic<int> imagesToB{0};
void QUILTRA_CALL countA(int, int) {
    ++imagesToA;
}
void QUILTRA_CALL countB(int, int) {
    ++imagesToB;
}

TEST_F(ImageDelivery, ChangingTheCallbackWhileImagesArriveSendsEachImageToOneOfThem) {
    imagesToA = 0;
    imagesToB = 0;
    startWithDriver();
    openCamera(1);
    setCompleteCallback(0, 1, &countA);
    constexpr int kImages = 2000;
    auto streaming = std::async(std::launch::async, [&] {
        for (int i = 0; i < kImages; ++i) {
            driver().deliver(0, 1);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        setCompleteCallback(0, 1, (i % 2) != 0 ? &countA : &countB);
    }
    streaming.get();
    driver().waitForDeliveries();
    EXPECT_EQ(imagesToA + imagesToB, kImages);
}

TEST_F(ImageDelivery, FinalizeWhileImagesArriveEndsWithTheDriversThreadStopped) {
    startWithDriver();
    openCamera(1);
    openCamera(2);
    CallbackRecorder recorder;
    setCompleteCallback(0, 1, &CallbackRecorder::callback);
    setCompleteCallback(0, 2, &CallbackRecorder::callback);
    for (int i = 0; i < 200; ++i) {
        driver().deliver(0, 1 + i % 2);
    }
    EXPECT_EQ(finalize(), 1);
    // The fake's finalize stopped its thread: nothing reaches the host any more.
    size_t seen = recorder.calls().size();
    driver().deliver(0, 1);
    driver().waitForDeliveries();
    EXPECT_EQ(recorder.calls().size(), seen);
}

}  // namespace
}  // namespace quiltra::test

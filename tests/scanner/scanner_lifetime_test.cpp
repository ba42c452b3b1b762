// Scanner ports closed while images flow: from inside the scanner's own callbacks (on the
// driver's thread, a camera worker and the timer thread), from a host thread while several
// driver threads deliver, and by finalize. Nothing may hang, be used after it is freed, or
// call the host after its close has returned.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "grab_cycle_fixture.h"
#include "platform/one_shot_timer.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAre;

// A completion callback that closes the port it is called for.
std::atomic<int> closingCalls{0};
void QUILTRA_CALL closeOwnPort(int grabber, int port) {
    ++closingCalls;
    closeCVLPort(grabber, port);
}

class ScannerLifetime : public GrabCycle {};

TEST_F(ScannerLifetime, AScannerClosedFromItsOwnCompletionCallbackClosesAfterItReturns) {
    struct Case {
        const char* thread;
        bool threaded;
        bool byTimeout;
    };
    for (const Case& c : std::vector<Case>{
             {"driver", false, false}, {"worker", true, false}, {"timer", false, true}}) {
#if defined(_WIN32)
        if (c.byTimeout) {
            continue;  // the Windows multimedia timer has no manual clock
        }
#endif
        SCOPED_TRACE(c.thread);
        closingCalls = 0;
        start(scannerSections({1, 2}, 2, 4, 6, "PassThru=-\nActiveGrabTimeout=50\nMinScans=1\n",
                              c.threaded),
              {1, 2});
        ASSERT_EQ(openCVLPort(0, kScannerPort, "Scanner0001", size_), 1);
        ASSERT_EQ(setCompleteCallback(0, kScannerPort, &closeOwnPort), 1);
        deliver(c.byTimeout ? std::vector<int>{1, 2} : std::vector<int>{1, 2, 1, 2});
        if (c.byTimeout) {
            platform::advanceManualTime(50);
        }
        // The close completes once the callback's frame has ended; then the port is free
        // again, the plug-ins are released, and later images reach no callback.
        for (int wait = 0; wait < 5000 && openCVLPort(0, kScannerPort, "Camera", size_) != 1;
             ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(closingCalls.load(), 1);
        closeCVLPort(0, kScannerPort);
        EXPECT_EQ(resampler_.liveInstances(), 0);
        deliver({1, 2, 1, 2});
        EXPECT_EQ(closingCalls.load(), 1);
        finalize();
    }
}

// The host's side of the stress test: every completion reads the whole final image.
std::atomic<int> completions{0};
void QUILTRA_CALL readFinalImage(int grabber, int port) {
    std::vector<uint8_t> row(64 * 3);
    for (int r = 0; getCVLGrabRow(grabber, port, row.data(), r, 0, 11) == 1; ++r) {
    }
    ++completions;
}

TEST_F(ScannerLifetime, ScannersSurviveDriverThreadsWhileTheHostClosesAndReopensThem) {
    start(scannerSections({1, 2}, 2, 4, 6, "PassThru=0\nActiveGrabTimeout=1\n", true) +
              scannerSections({2, 3}, 3, 4, 6, "ActiveGrabTimeout=2\nMinScans=3\n", false,
                              "Scanner0002"),
          {1, 2, 3});
    platform::useManualTime(false);  // real time: timeouts fire among the images
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size_), 1);
    ASSERT_EQ(openCVLPort(0, 11, "Scanner0002", size_), 1);
    setCompleteCallback(0, 10, &readFinalImage);
    setCompleteCallback(0, 11, &readFinalImage);

    // Three driver threads call Quiltra's hook for their ports as fast as they can.
    std::atomic<bool> stop{false};
    std::vector<std::thread> driverThreads;
    for (int port : {1, 2, 3}) {
        CompleteCallback hook = driver().completeCallback(port);
        ASSERT_NE(hook, nullptr);
        driverThreads.emplace_back([&stop, hook, port] {
            while (!stop) {
                hook(0, port);
            }
        });
    }
    for (int round = 0; round < 100; ++round) {
        closeCVLPort(0, 10);
        ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size_), 1);
        setCompleteCallback(0, 10, &readFinalImage);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // finalize closes the scanners while the images still come.
    EXPECT_EQ(finalize(), 1);
    stop = true;
    for (std::thread& thread : driverThreads) {
        thread.join();
    }
    EXPECT_GT(completions.load(), 0);
    EXPECT_EQ(resampler_.liveInstances(), 0);
}

}  // namespace
}  // namespace quiltra::test

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

// Property writes and commands of a host thread, and property reads of another, while
// driver threads deliver images into a scanner whose threaded cameras process them and
// whose grab timeout fires among them. No data race, no torn image: every completion reads
// the whole final image, and the cycle works as before once the host stops.
TEST_F(ScannerLifetime, PropertiesAndCommandsFromTheHostWhileImagesFlow) {
    start(scannerSections({1, 2}, 3, 4, 6, "PassThru=0\nActiveGrabTimeout=1\n", true) +
              "[Scanner0001.Camera1.Calib1]\nCalibFile=c.cal\nSize_x=5\nSize_y=9\n"
              "[Scanner0001.Camera2.Calib1]\nCalibFile=c.cal\n",
          {1, 2});
    platform::useManualTime(false);
    ASSERT_EQ(openCVLPort(0, kScannerPort, "Scanner0001", size_), 1);
    setCompleteCallback(0, kScannerPort, &readFinalImage);

    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int port : {1, 2}) {
        CompleteCallback hook = driver().completeCallback(port);
        ASSERT_NE(hook, nullptr);
        threads.emplace_back([&stop, hook, port] {
            while (!stop) {
                hook(0, port);
            }
        });
    }
    std::atomic<int> badReads{0};
    threads.emplace_back([&stop, &badReads] {
        const char* names[] = {"PixelSize",
                               "Width",
                               "Height",
                               "ScanCount",
                               "Overlap",
                               "Count",
                               "ScanTime",
                               "TrigTime",
                               "Verbose",
                               "MinScanCount",
                               "ActiveGrabTimeoutCount"};
        while (!stop) {
            for (const char* name : names) {
                int value = 0;
                badReads += getProperty(0, kScannerPort, name, &value) == 1 ? 0 : 1;
            }
            int width = 0;
            getProperty(0, kScannerPort, "Width", &width);
            badReads += width == 12 || width == 15 ? 0 : 1;  // calibration entry 0 or 1
        }
    });
    char reply[512];
    for (int round = 0; round < 200; ++round) {
        const std::string value = std::to_string(round % 5);
        setProperty(0, kScannerPort, "Calib", round % 2);
        setProperty(0, kScannerPort, "Overlap", round % 3);
        setProperty(0, kScannerPort, "Count", round % 4);
        setProperty(0, kScannerPort, "PassThru", round % 3 - 1);
        setProperty(0, kScannerPort, "Continuous", 0);
        if (round % 50 == 0) {  // rewrites the configuration file
            setProperty(0, kScannerPort, "ScanCount", 1 + round % 4);
        }
        execCmd(0, kScannerPort, "reset", ("fill=" + value).c_str(), reply, sizeof reply);
        execCmd(0, kScannerPort, "clear", "fill=-1", reply, sizeof reply);
        execCmd(0, kScannerPort, "set", ("PassThru=" + value + ",-1").c_str(), reply, sizeof reply);
        execCmd(0, kScannerPort, "trig", "", reply, sizeof reply);
        execCmd(0, kScannerPort, "get", "value=imageStatus", reply, sizeof reply);
    }
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(badReads.load(), 0);

    // Back to one known state: three scans, entry 0, no overlap, nothing passed through,
    // and, once the workers have placed the images still handed to them, a new cycle.
    setProperty(0, kScannerPort, "Calib", 0);
    setProperty(0, kScannerPort, "ScanCount", 3);
    setProperty(0, kScannerPort, "Overlap", 0);
    setProperty(0, kScannerPort, "ActiveGrabTimeout", 0);
    setProperty(0, kScannerPort, "PassThru", 9);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    execCmd(0, kScannerPort, "reset", "", reply, sizeof reply);
    const int before = completions.load();
    deliver({1, 2, 1, 2, 1, 2});
    for (int wait = 0; wait < 5000 && completions.load() == before; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(completions.load(), before + 1);
    int count = -1;
    EXPECT_EQ(getProperty(0, kScannerPort, "Count", &count), 1);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace quiltra::test

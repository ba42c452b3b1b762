// The grab cycle through the C interface: camera images of the fake driver assembled into
// bands and segments, pass-through notifications and completion in their order, the fifth
// image of a four-scan cycle, the reset check and the grab timeout on the manual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "grab_cycle_fixture.h"
#include "platform/one_shot_timer.h"
#include "scanner/scan_camera.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST_F(GrabCycle, BandsAndSegmentsHoldEachCamerasScansExactly) {
    struct Case {
        const char* name;
        int bits;
        std::string cameraKeys;  // the second camera's output size, when it differs
        int outputColumns2, outputRows2;
    };
    for (const Case& c :
         std::vector<Case>{{"grey", 8, "", 6, 4},
                           {"colour", 24, "", 6, 4},
                           {"narrower and shorter", 8, "Size_x=2\nSize_y=3\n", 3, 2},
                           {"wider, colour", 24, "Size_x=3\nSize_y=9\n", 9, 3},
                           {"negative rows write nothing", 8, "Size_x=-2\nSize_y=3\n", 3, -2}}) {
        SCOPED_TRACE(c.name);
        std::string sections = scannerSections({1, 2}, 3, 4, 6);
        sections += c.cameraKeys;  // the section of camera 2 comes last
        start(sections, {1, 2}, 6, 4, c.bits);
        openScanner();
        ASSERT_EQ(size_[0], 6 + c.outputColumns2);
        ASSERT_EQ(size_[1], 3 * 4);
        deliver({1, 2, 2, 1, 1, 2});
        EXPECT_THAT(callsSince(), testing::Contains("0,10").Times(1));

        FinalImageModel model(size_[0], 4, 3, bytesPerPixel_);
        for (int band = 0; band < 3; ++band) {
            model.place(band, 0, 1, band, 6, 4, 6, 4);
            model.place(band, 6, 2, band, 6, 4, c.outputColumns2, c.outputRows2);
        }
        EXPECT_EQ(finalImage(), model.bytes);
        closeCVLPort(0, kScannerPort);
        finalize();
    }
}

TEST_F(GrabCycle, TheReferenceResamplerTurnsAndCutsACamerasField) {
    // Camera 2's field through the real plug-in: turned by 180 degrees, its corner `cornerY`
    // columns along, so that output column j shows camera column cornerY + 5 - j (0 beyond).
    struct Case {
        int bits, mode, cornerY;
    };
    for (const Case& c : {Case{8, 2, 0}, Case{24, 0, 3}, Case{8, 1, -2}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, mode " + std::to_string(c.mode));
        std::string sections = scannerSections({1, 2}, 1, 4, 6);
        sections += "ResampleDLL=" + libraryPath("OvixResample") +
                    "\nTopLeft_x=0\nTopLeft_y=" + std::to_string(c.cornerY) +
                    "\nSize_x=4\nSize_y=6\nAngle=180\nResampleMode=" + std::to_string(c.mode) +
                    "\n";
        start(sections, {1, 2}, 6, 4, c.bits);
        openScanner();
        ASSERT_EQ(size_[0], 12);
        deliver({1, 2});

        FinalImageModel model(size_[0], 4, 1, bytesPerPixel_);
        model.place(0, 0, 1, 0, 6, 4, 6, 4);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 6; ++j) {
                const int column = c.cornerY + 5 - j;
                for (int b = 0; b < bytesPerPixel_; ++b) {
                    model.bytes[(std::size_t(i) * 12 + 6 + j) * bytesPerPixel_ + b] =
                        column >= 0 && column < 6 ? fake::pixel(2, 3 - i, column, b) : 0;
                }
            }
        }
        EXPECT_EQ(finalImage(), model.bytes);
        closeCVLPort(0, kScannerPort);
        finalize();
    }
}

TEST_F(GrabCycle, TheReferencePrefilterFiltersACamerasImagesWithItsOptions) {
    // Camera 2 through the real prefilter plug-in: gain 2 from its file, offset 1 from the
    // options, so each byte p comes out as min(2p + 1, 255).
    const std::string file = dir_.file("camera2.pf");
    writeFile(file, "quiltra-prefilter 1\ngain = 2\n");
    std::string sections = scannerSections({1, 2}, 1, 4, 6);
    sections += "FilterDLL=" + libraryPath("OvixImageFilter") + "\nPrefilter=" + file +
                "\nPrefilterOptions=offset=1\n";
    start(sections, {1, 2}, 6, 4, 24);
    openScanner();
    deliver({1, 2});

    FinalImageModel model(size_[0], 4, 1, bytesPerPixel_);
    model.place(0, 0, 1, 0, 6, 4, 6, 4);
    model.place(0, 6, 2, 0, 6, 4, 6, 4);
    for (int i = 0; i < 4; ++i) {
        for (int k = 6 * bytesPerPixel_; k < 12 * bytesPerPixel_; ++k) {
            uint8_t& v = model.bytes[std::size_t(i) * 12 * bytesPerPixel_ + k];
            v = uint8_t(std::min(2 * v + 1, 255));
        }
    }
    EXPECT_EQ(finalImage(), model.bytes);
}

TEST_F(GrabCycle, PassThroughNotificationsAndCompletionComeInTheirOrder) {
    struct Case {
        const char* passThru;
        int overlap;
        int active;
        std::vector<int> ports;  // the cameras' ports: {1, 1} share one
        std::vector<int> firstCycle, secondCycle;
        std::vector<std::string> expected;  // callbacks of the second cycle
    };
    const std::vector<int> four = {1, 2, 1, 2, 1, 2, 1, 2};
    const std::vector<int> three = {1, 2, 1, 2, 1, 2};
    for (const Case& c : std::vector<Case>{
             {"1,-1", 0, 0, {1, 2}, four, four, {"0,1", "0,2", "0,1", "0,10", "0,2"}},
             {"1,-1", 1, 0, {1, 2}, four, three, {"0,1", "0,10", "0,2"}},
             {"1,-1", 0, 1, {1, 2}, four, four, {"0,1", "0,2", "0,1", "0,2", "0,10"}},
             {"0",
              0,
              0,
              {1, 2},
              four,
              four,
              {"0,1", "0,2", "0,1", "0,2", "0,1", "0,2", "0,1", "0,10", "0,2"}},
             {"-", 0, 0, {1, 2}, four, four, {"0,10"}},
             {"", 0, 0, {1, 2}, four, four, {"0,10"}},
             {"0", 0, 0, {1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {"0,1", "0,1", "0,1", "0,1", "0,10"}},
         }) {
        SCOPED_TRACE(std::string("PassThru=") + c.passThru + " Overlap=" +
                     std::to_string(c.overlap) + " Active=" + std::to_string(c.active));
        start(scannerSections(c.ports, 4, 4, 6,
                              std::string("PassThru=") + c.passThru +
                                  "\nOverlap=" + std::to_string(c.overlap) +
                                  "\nActive=" + std::to_string(c.active) + "\n"),
              {1, 2});
        openScanner();
        deliver(c.firstCycle);
        const std::size_t firstCycleCalls = callsSince().size();
        deliver(c.secondCycle);
        EXPECT_THAT(callsSince(firstCycleCalls), ElementsAreArray(c.expected));
        finalize();
    }
}

TEST_F(GrabCycle, AFifthImageOfAFourScanCycleOverwritesTheLastBand) {
    start(scannerSections({1, 2}, 4, 4, 6, "PassThru=-\n"), {1, 2});
    openScanner();
    deliver({1, 1, 1, 1, 1, 2, 2, 2});
    EXPECT_THAT(callsSince(0), IsEmpty());
    deliver({2});
    EXPECT_THAT(callsSince(0), ElementsAre("0,10"));
    FinalImageModel model(12, 4, 4, 1);
    for (int band = 0; band < 4; ++band) {
        model.place(band, 0, 1, band == 3 ? 4 : band, 6, 4, 6, 4);
        model.place(band, 6, 2, band, 6, 4, 6, 4);
    }
    EXPECT_EQ(finalImage(), model.bytes);
}

TEST_F(GrabCycle, ImagesArrivingFasterThanTheWorkerResamplesArePlacedInOrder) {
    // Images that need resampling, at 30 ms each, on the camera's worker, announced back to
    // back: the driver's thread waits for the camera (its lock, or the bounded wait), and
    // the images keep their order.
    start(scannerSections({1}, 3, 2, 3, "PassThru=-\n", /*threaded=*/true), {1});
    resampler_.set("delayMs", 30);
    openScanner();
    for (int image = 0; image < 3; ++image) {
        driver().deliver(0, 1);
    }
    driver().waitForDeliveries();
    for (int wait = 0; wait < 5000 && callsSince().empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_THAT(callsSince(), ElementsAre("0,10"));
    FinalImageModel model(3, 2, 3, 1);
    for (int band = 0; band < 3; ++band) {
        model.place(band, 0, 1, band, 6, 4, 3, 2);
    }
    EXPECT_EQ(finalImage(), model.bytes);
    // Whether the bounded wait ran depends on timing; when it did, it said so in its words.
    for (const std::string& message : DebugMessages::all()) {
        if (message.rfind("Waited ", 0) == 0) {
            EXPECT_THAT(message, testing::EndsWith(" ms for camera processing port 1\n"));
        }
    }
}

// A host callback that holds the first final image until the test lets it go.
struct HeldCallback {
    static void QUILTRA_CALL callback(int /*grabber*/, int /*port*/) {
        std::unique_lock lock(mutex);
        if (++calls == 1) {
            changed.notify_all();
            changed.wait(lock, [] { return released; });
        }
    }
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline int calls = 0;
    static inline bool released = false;
};

TEST_F(GrabCycle, AWorkerAWholeRingBehindDropsTheNextImageInsteadOfOverwritingOne) {
    // The host holds the first final image, so the worker falls behind: ten more images fill
    // the ring, the next one is dropped at collection, and the ten are each placed once.
    start(scannerSections({1}, 1, 2, 3, "PassThru=-\n", /*threaded=*/true), {1});
    openScanner();
    ASSERT_EQ(setCompleteCallback(0, kScannerPort, &HeldCallback::callback), 1);
    driver().deliver(0, 1);
    {
        std::unique_lock lock(HeldCallback::mutex);
        HeldCallback::changed.wait(lock, [] { return HeldCallback::calls == 1; });
    }
    for (uint32_t image = 0; image < ScanCamera::kRingSize + 1; ++image) {
        driver().deliver(0, 1);
        driver().waitForDeliveries();
    }
    {
        std::lock_guard lock(HeldCallback::mutex);
        HeldCallback::released = true;
    }
    HeldCallback::changed.notify_all();
    const int placed = 1 + static_cast<int>(ScanCamera::kRingSize);
    for (int wait = 0; wait < 5000; ++wait) {
        {
            std::lock_guard lock(HeldCallback::mutex);
            if (HeldCallback::calls >= placed) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // no twelfth image follows
    std::lock_guard lock(HeldCallback::mutex);
    EXPECT_EQ(HeldCallback::calls, placed);
    FinalImageModel model(3, 2, 1, 1);
    model.place(0, 0, 1, static_cast<int>(ScanCamera::kRingSize), 6, 4, 3, 2);
    EXPECT_EQ(finalImage(), model.bytes);
}

TEST_F(GrabCycle, TheResetCheckFlagsAScannerWhoseCameraPortWasReopenedChanged) {
    struct Case {
        const char* name;
        int width, height, bits;
        bool flagged;
        // Callbacks of an image of port 2, then of port 1: a flagged scanner refuses its
        // cameras' images, which go to the camera port's own callback; a camera whose pixel
        // size changed collects nothing, in every scanner.
        std::vector<std::string> calls;
    };
    for (const Case& c : std::vector<Case>{{"unchanged", 6, 4, 8, false, {"0,10", "0,11"}},
                                           {"wider", 7, 4, 8, true, {"0,2", "0,1", "0,11"}},
                                           {"taller", 6, 5, 8, true, {"0,2", "0,1", "0,11"}},
                                           {"other pixel size", 6, 4, 16, true, {"0,2"}}}) {
        SCOPED_TRACE(c.name);
        start(scannerSections({1, 2}, 1, 4, 6, "PassThru=-\n") +
                  scannerSections({1}, 1, 4, 6, "PassThru=-\n", false, "Scanner0002"),
              {1, 2}, 6, 4, 8, /*verbose=*/1);
        openScanner();
        openScanner(11, "Scanner0002");
        closeCVLPort(0, 1);
        driver().setImageSize(1, c.width, c.height);
        driver().setPropertyValue(1, "PixelSize", c.bits);
        openCamera(1);
        ASSERT_EQ(setCompleteCallback(0, 1, &CallbackRecorder::callback), 1);
        ASSERT_EQ(setCompleteCallback(0, 2, &CallbackRecorder::callback), 1);
        uint8_t row[16];
        EXPECT_EQ(getCVLGrabRow(0, kScannerPort, row, 0, 0, 0), c.flagged ? 0 : 1);
        // The check ends at the first scanner it flags: the second keeps its flag.
        EXPECT_EQ(getCVLGrabRow(0, 11, row, 0, 0, 0), 1);
        if (c.flagged) {
            EXPECT_THAT(DebugMessages::all(),
                        ElementsAre("Scanner0001: reset required due to camera changes\n"));
        } else {
            EXPECT_THAT(DebugMessages::all(), IsEmpty());
        }
        deliver({2});
        driver().clearCalls();
        deliver({1});
        EXPECT_EQ(driver().callsOf("getCVLGrabRow").empty(), c.bits != 8);
        EXPECT_THAT(callsSince(), ElementsAreArray(c.calls));
        finalize();
    }
}

TEST_F(GrabCycle, TheGrabTimeoutCompletesOrDropsAStalledCycle) {
#if defined(_WIN32)
    GTEST_SKIP() << "the Windows multimedia timer has no manual clock";
#endif
    struct Case {
        std::vector<int> ports;
        int minScans;
        std::vector<int> deliveries;
        const char* message;
        bool completes;
    };
    for (const Case& c : std::vector<Case>{
             {{1, 2}, 1, {1, 2, 1, 2, 1, 2}, "count/lost 3/2 - receivemask 00", true},
             {{1, 2}, -1, {1, 2, 1, 2, 1, 2}, "count/lost 3/2 - receivemask 00", true},
             {{1, 2}, 0, {1, 2, 1, 2, 1, 2}, "count/lost 3/2 - receivemask 00", false},
             {{1, 2}, 5, {1, 2}, "count/lost 1/2 - receivemask 00", false},
             {{1, 2}, 4, {1}, "count/lost 1/1 - receivemask 01", true},
             {{1, 2, 3}, 0, {1}, "count/lost 1/2 - receivemask 001", false},
             {{1}, 0, {1}, "count/lost 1/0 - receivemask 1", false},
         }) {
        SCOPED_TRACE(c.message);
        start(scannerSections(c.ports, 4, 4, 6,
                              "PassThru=-\nActiveGrabTimeout=100\nMinScans=" +
                                  std::to_string(c.minScans) + "\n"),
              {1, 2, 3});
        openScanner();
        // A first cycle completes, so every band has content that a fill must clear.
        for (int scan = 0; scan < 4; ++scan) {
            deliver(c.ports);
        }
        ASSERT_THAT(callsSince(0), ElementsAre("0,10"));
        const std::vector<uint8_t> before = finalImage();
        deliver(c.deliveries);
        platform::advanceManualTime(99);
        EXPECT_THAT(DebugMessages::all(), IsEmpty());
        platform::advanceManualTime(1);
        EXPECT_THAT(DebugMessages::all(),
                    ElementsAre(std::string("Scanner0001: image timeout - ") + c.message + "\n"));
        const std::vector<uint8_t> after = finalImage();
        if (c.completes) {
            EXPECT_THAT(callsSince(1), ElementsAre("0,10"));
            // The scans that did not come are 0; the last band was not delivered by anyone.
            const std::size_t lastBand = after.size() / 4 * 3;
            EXPECT_EQ(std::vector<uint8_t>(after.begin() + lastBand, after.end()),
                      std::vector<uint8_t>(after.size() - lastBand, 0));
        } else {
            EXPECT_THAT(callsSince(1), IsEmpty());
        }
        EXPECT_NE(after, before);
        // The cycle was reset: a full cycle completes again, and no timer is left pending.
        DebugMessages::clear();
        for (int scan = 0; scan < 4; ++scan) {
            deliver(c.ports);
        }
        EXPECT_EQ(callsSince().size(), c.completes ? 3u : 2u);
        platform::advanceManualTime(1000);
        EXPECT_THAT(DebugMessages::all(), IsEmpty());
        finalize();
    }
}

TEST_F(GrabCycle, ATurnThatCompletesRearmsTheTimeoutAndZeroMeansNone) {
#if defined(_WIN32)
    GTEST_SKIP() << "the Windows multimedia timer has no manual clock";
#endif
    start(scannerSections({1, 2}, 4, 4, 6, "ActiveGrabTimeout=100\n") +
              scannerSections({1, 2}, 4, 4, 6, "ActiveGrabTimeout=0\n", false, "Scanner0002"),
          {1, 2});
    openScanner();
    openScanner(11, "Scanner0002");
    deliver({1});
    platform::advanceManualTime(60);
    deliver({2});  // completes the turn: the timeout starts again from here
    platform::advanceManualTime(60);
    EXPECT_THAT(DebugMessages::all(), IsEmpty());
    platform::advanceManualTime(40);
    EXPECT_THAT(DebugMessages::all(),
                ElementsAre("Scanner0001: image timeout - count/lost 1/2 - receivemask 00\n"));
    platform::advanceManualTime(100000);
    EXPECT_EQ(DebugMessages::all().size(), 1u);  // Scanner0002 waits for ever
}

}  // namespace
}  // namespace quiltra::test

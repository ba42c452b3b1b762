#include "scanner/scanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_binding.h"
#include "fake_driver_library.h"
#include "fake_plugin.h"
#include "platform/one_shot_timer.h"
#include "test_support.h"

namespace quiltra {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::mutex messagesMutex;
std::vector<std::string> messages;

void QUILTRA_CALL collectMessage(const char* text) {
    std::lock_guard guard(messagesMutex);
    messages.emplace_back(text);
}

std::vector<std::string> takeMessages() {
    std::lock_guard guard(messagesMutex);
    return std::exchange(messages, {});
}

// A scanner whose driver binding loaded nothing: cameras have one byte per pixel.
class ScannerRecords : public ::testing::Test {
protected:
    void SetUp() override { takeMessages(); }

    DriverBinding binding_{"", "", collectMessage};
    Scanner scanner_{&binding_, "Scanner0001", 0, 20};
};

ResamplerGeometry outputOf(int rows, int columns) {
    ResamplerGeometry geometry;
    geometry.outputRows = rows;
    geometry.outputColumns = columns;
    return geometry;
}

TEST_F(ScannerRecords, NewScannerHasOneScanNoCamerasAndNoFinalImage) {
    std::lock_guard guard(scanner_.lock);
    EXPECT_EQ(scanner_.name, "Scanner0001");
    EXPECT_EQ(scanner_.port, 20);
    EXPECT_EQ(scanner_.scanCount, 1u);
    EXPECT_EQ(scanner_.width, 0);
    EXPECT_EQ(scanner_.height, 0);
    EXPECT_EQ(scanner_.image, nullptr);
    EXPECT_EQ(scanner_.minScanIndex(), 0xFFFFFFFFu);
    EXPECT_EQ(scanner_.maxScanIndex(), 0u);
    EXPECT_TRUE(scanner_.passThru.empty());
    EXPECT_EQ(scanner_.saveScannerHook, nullptr);
}

TEST_F(ScannerRecords, ScanCountZeroCountsAsOneAndWithoutCamerasNothingIsAllocated) {
    EXPECT_TRUE(scanner_.setScanCount(0));
    std::lock_guard guard(scanner_.lock);
    EXPECT_EQ(scanner_.scanCount, 1u);
    EXPECT_TRUE(scanner_.setScanCount(5));
    EXPECT_EQ(scanner_.scanCount, 5u);
    EXPECT_EQ(scanner_.height, 0);
    EXPECT_EQ(scanner_.image, nullptr);
}

TEST_F(ScannerRecords, AddedCameraHasItsDefaultsAndAZeroFilledRingOfTen) {
    ScanCamera* camera = scanner_.addCamera(3, 4, 2);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(&camera->scanner, &scanner_);
    EXPECT_EQ(camera->grabber, 0);
    EXPECT_EQ(camera->port, 3);
    EXPECT_TRUE(camera->threaded);
    EXPECT_EQ(camera->bytesPerPixel, 1);  // the driver has no getProperty
    EXPECT_EQ(camera->ringSize, 10u);
    std::lock_guard guard(camera->lock);
    for (const auto& buffer : camera->ring) {
        EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0));
    }
    EXPECT_TRUE(camera->processed.empty());
    EXPECT_EQ(camera->activeFilter(), nullptr);
    EXPECT_EQ(camera->activeResampler(), nullptr);
}

TEST_F(ScannerRecords, SecondCameraOfTheSameSizeDoublesTheWidthAndSameCountKeepsTheImage) {
    scanner_.setScanCount(3);
    scanner_.addCamera(1, 100, 50);
    {
        std::lock_guard guard(scanner_.lock);
        EXPECT_EQ(scanner_.width, 100);
        EXPECT_EQ(scanner_.height, 150);
        EXPECT_EQ(scanner_.imageSize, 15000u);
    }
    scanner_.addCamera(2, 100, 50);
    std::lock_guard guard(scanner_.lock);
    EXPECT_EQ(scanner_.width, 200);
    EXPECT_EQ(scanner_.height, 150);
    EXPECT_EQ(scanner_.bytesPerPixel, 1);
    ASSERT_EQ(scanner_.imageSize, 30000u);
    const std::vector<uint8_t> zeros(30000, 0);
    EXPECT_EQ(std::memcmp(scanner_.image.get(), zeros.data(), zeros.size()), 0);

    scanner_.image[29999] = 0xAB;
    const uint8_t* before = scanner_.image.get();
    EXPECT_TRUE(scanner_.setScanCount(3));
    EXPECT_EQ(scanner_.image.get(), before);
    EXPECT_EQ(scanner_.image[29999], 0xAB);
}

TEST_F(ScannerRecords, BandHeightIsTheTallestOutputAndWidthTheSumOfOutputColumns) {
    ScanCamera* first = scanner_.addCamera(1, 640, 480);
    ScanCamera* second = scanner_.addCamera(2, 640, 480);
    first->resamplers.push_back(
        std::make_unique<ResamplerBinding>("no-such-library", "", outputOf(100, 60)));
    second->resamplers.push_back(
        std::make_unique<ResamplerBinding>("no-such-library", "", outputOf(120, 30)));
    EXPECT_EQ(first->outputSize().columns, 60);
    EXPECT_EQ(first->outputSize().rows, 100);
    scanner_.setScanCount(2);
    std::lock_guard guard(scanner_.lock);
    EXPECT_EQ(scanner_.scanSize().width, 90);
    EXPECT_EQ(scanner_.scanSize().bandHeight, 120);
    EXPECT_EQ(scanner_.width, 90);
    EXPECT_EQ(scanner_.height, 240);
    EXPECT_EQ(scanner_.imageSize, 90u * 240u);

    // An index past the list selects no resampler: the camera's own size.
    std::lock_guard cameraGuard(second->lock);
    second->calibIndex = 1;
    EXPECT_EQ(second->activeResampler(), nullptr);
    EXPECT_EQ(second->outputSize().columns, 640);
    EXPECT_EQ(second->outputSize().rows, 480);
}

TEST_F(ScannerRecords, ScanIndicesGiveTheSlowestAndFastestCamera) {
    ScanCamera* first = scanner_.addCamera(1, 1, 1);
    ScanCamera* second = scanner_.addCamera(2, 1, 1);
    std::lock_guard guard(scanner_.lock);
    first->scanIndex = 3;
    second->scanIndex = 5;
    EXPECT_EQ(scanner_.minScanIndex(), 3u);
    EXPECT_EQ(scanner_.maxScanIndex(), 5u);
}

TEST_F(ScannerRecords, FinalImageBeyondThirtyTwoBitsIsReportedNotWrapped) {
    scanner_.addCamera(1, 100, 100);
    EXPECT_FALSE(scanner_.setScanCount(1000000));
    EXPECT_THAT(
        takeMessages(),
        ElementsAre("Scanner0001: final image too big, (100x100000000) 8 bit - 10000.0 MB\n"));
    {
        std::lock_guard guard(scanner_.lock);
        EXPECT_EQ(scanner_.image, nullptr);
        EXPECT_FALSE(scanner_.hasImage());
    }
    // A later count that fits allocates again.
    EXPECT_TRUE(scanner_.setScanCount(2));
    std::lock_guard guard(scanner_.lock);
    EXPECT_EQ(scanner_.imageSize, 20000u);
    EXPECT_TRUE(scanner_.hasImage());
}

TEST_F(ScannerRecords, RingBeyondThirtyTwoBitsFailsTheCamera) {
    EXPECT_EQ(scanner_.addCamera(1, 70000, 70000), nullptr);
    EXPECT_THAT(takeMessages(),
                ElementsAre("Scanner0001: final image too big, (70000x70000) 8 bit - 4900.0 MB\n"));
    EXPECT_TRUE(scanner_.cameras.empty());
    EXPECT_EQ(scanner_.addCamera(1, -1, 10), nullptr);
    EXPECT_EQ(scanner_.addCamera(1, 2147483647, 2147483647), nullptr);
}

TEST_F(ScannerRecords, SizesBeyondSixtyFourBitsNeitherOverflowNorAllocate) {
    ScanCamera* camera = scanner_.addCamera(1, 1, 1);
    camera->resamplers.push_back(std::make_unique<ResamplerBinding>(
        "no-such-library", "", outputOf(2147483647, 2147483647)));
    takeMessages();
    EXPECT_FALSE(scanner_.setScanCount(0xFFFFFFFFu));
    EXPECT_THAT(
        takeMessages(),
        ElementsAre(::testing::StartsWith("Scanner0001: final image too big, (2147483647x")));
    std::lock_guard guard(scanner_.lock);
    EXPECT_EQ(scanner_.image, nullptr);
}

TEST_F(ScannerRecords, AtMostThirtyTwoCamerasFitTheReceiveMask) {
    for (int i = 0; i < 32; ++i) {
        ASSERT_NE(scanner_.addCamera(i, 1, 1), nullptr);
    }
    EXPECT_EQ(scanner_.addCamera(32, 1, 1), nullptr);
    EXPECT_EQ(scanner_.cameras.size(), 32u);
}

TEST(ScanCameraPixelSize, DriverBitsGiveBytesPerPixel) {
    const std::string path = test::libraryPath("fake_driver");
    fake::FakeDriverLibrary fake(path);
    DriverBinding binding(path.c_str(), "", nullptr);
    ASSERT_NE(binding.entries().getProperty, nullptr);
    const struct {
        int bits;
        int bytes;
    } cases[] = {{24, 3}, {12, 1}, {16, 2}, {8, 1}, {0, 1}, {1, 1}, {7, 1}, {32, 4}};
    for (const auto& c : cases) {
        fake->setPropertyValue(5, "PixelSize", c.bits);
        fake->clearCalls();
        EXPECT_EQ(ScanCamera::bytesPerPixelOf(&binding, 5), c.bytes) << c.bits << " bits";
        EXPECT_THAT(fake->callsOf("getProperty"),
                    ElementsAre(::testing::StartsWith("getProperty(0,5,\"PixelSize\"")));
    }
    // A failing getProperty is not examined: the value it left counts.
    fake->setPropertyValue(5, "PixelSize", 24);
    fake->setResult("getProperty", 0);
    EXPECT_EQ(ScanCamera::bytesPerPixelOf(&binding, 5), 3);
}

TEST(ScanCameraPixelSize, DriverWithoutGetPropertyGivesOneByte) {
    const std::string path = test::libraryPath("fake_driver_no_get_property");
    fake::FakeDriverLibrary fake(path);
    DriverBinding binding(path.c_str(), "", nullptr);
    EXPECT_EQ(ScanCamera::bytesPerPixelOf(&binding, 5), 1);
    EXPECT_EQ(ScanCamera::bytesPerPixelOf(nullptr, 5), 1);
}

TEST(ScannerDestruction, ReleasesEveryBindingOfEveryCamera) {
    test::FakePlugin prefilter("fake_prefilter");
    test::FakePlugin resampler("fake_resampler");
    DriverBinding binding("", "", nullptr);
    {
        Scanner scanner(&binding, "Scanner0002", 0, 9);
        for (int port : {1, 2}) {
            ScanCamera* camera = scanner.addCamera(port, 2, 2);
            camera->filters.push_back(FilterBinding::make(prefilter.path().c_str(), "a.flt", ""));
            camera->filters.push_back(nullptr);
            for (int entry = 0; entry < 2; ++entry) {
                camera->resamplers.push_back(std::make_unique<ResamplerBinding>(
                    resampler.path().c_str(), "", outputOf(2, 2)));
            }
        }
        EXPECT_EQ(prefilter.liveInstances(), 2);
        EXPECT_EQ(resampler.liveInstances(), 4);
    }
    EXPECT_EQ(prefilter.liveInstances(), 0);
    EXPECT_EQ(resampler.liveInstances(), 0);
    // Cameras go in list order, each releasing its resamplers in entry order.
    std::vector<std::string> released;
    for (const auto& call : resampler.calls()) {
        if (call.rfind("ReleaseResampler", 0) == 0) {
            released.push_back(call);
        }
    }
    EXPECT_THAT(released, ElementsAre("ReleaseResampler 1", "ReleaseResampler 2",
                                      "ReleaseResampler 3", "ReleaseResampler 4"));
}

std::atomic<int> timersFired{0};

TEST(ScannerDestruction, CancelsThePendingTimer) {
    platform::useManualTime(true);
    DriverBinding binding("", "", nullptr);
    uint32_t id = 0;
    {
        Scanner scanner(&binding, "Scanner0001", 0, 1);
        scanner.addCamera(2, 1, 1);
        std::lock_guard guard(scanner.lock);
        id = platform::setOneShotTimer(
            50, [](uint32_t, uintptr_t) { timersFired.fetch_add(1); }, 0);
        ASSERT_NE(id, 0u);
        scanner.timerId = id;
    }
    platform::advanceManualTime(100);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // real timers on Windows
    EXPECT_EQ(timersFired.load(), 0);
    EXPECT_FALSE(platform::killTimer(id));  // no longer pending
    platform::useManualTime(false);
}

TEST_F(ScannerRecords, ATimeoutWithoutAFinalImageWritesNothingButCountsReportsAndResets) {
#if defined(_WIN32)
    GTEST_SKIP() << "the Windows multimedia timer has no manual clock";
#endif
    platform::useManualTime(true);
    auto scanner = std::make_shared<Scanner>(&binding_, "Scanner0001", 0, 20);
    ScanCamera* first = scanner->addCamera(1, 4, 2);
    ScanCamera* second = scanner->addCamera(2, 4, 2);
    scanner->setScanCount(2);
    {
        std::lock_guard guard(scanner->lock);
        scanner->activeGrabTimeout = 10;
        scanner->minScans = 0x40000000;  // as many as the scans below: a timeout completes
    }
    EXPECT_EQ(scanner->placeImage(*first), Placement::placed);  // arms the timeout
    // The final image is lost to a reallocation that failed while the timer was pending.
    EXPECT_FALSE(scanner->setScanCount(0x40000000));
    takeMessages();
    platform::advanceManualTime(10);
    EXPECT_THAT(takeMessages(),
                ElementsAre("Scanner0001: image timeout - count/lost 1/1 - receivemask 01\n"));
    std::lock_guard guard(scanner->lock);
    EXPECT_EQ(scanner->image, nullptr);
    EXPECT_EQ(scanner->activeGrabTimeoutCount, 1u);
    EXPECT_EQ(second->activeGrabTimeoutCount, 1u);
    EXPECT_EQ(first->scanIndex, 0u);
    EXPECT_EQ(scanner->receiveMask, 0u);
    EXPECT_EQ(scanner->timerId, 0u);
    platform::useManualTime(false);
}

}  // namespace
}  // namespace quiltra

// Scanner ports as a host sees them through the C interface: opening a scanner name builds
// the scanner from Quiltra.ini, closing the port destroys it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "host_test_fixture.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class ScannerPorts : public HostTest {
protected:
    // The fake driver with Verbose 1, then `sections` after [Config], which names the fake
    // resampler; initialize, then real cameras on ports 1 and 2.
    void start(const std::string& sections) {
        useDriver("fake_driver", 1);
        const std::string file = dir_.file("Quiltra.ini");
        writeFile(file, readFile(file) + "ResampleDLL=" + resampler.path() + "\n" + sections);
        ASSERT_EQ(initializeHost(), 1);
        openCamera(1);
        openCamera(2);
        DebugMessages::clear();
    }

    FakePlugin resampler{"fake_resampler"};
};

const char* const kTwoCameras =
    "[Scanner0001]\nCameras=2\nScans=3\n[Scanner0001.Camera1]\nPort=1\n"
    "[Scanner0001.Camera2]\nPort=2\n";

TEST_F(ScannerPorts, OpeningAScannerBuildsItAndReportsTheFinalImageSize) {
    start(kTwoCameras);
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    // Two fields of 100 x 60 side by side, three scans deep.
    EXPECT_EQ(size[0], 120);
    EXPECT_EQ(size[1], 300);
    // The driver is only asked for the cameras' pixel sizes.
    EXPECT_THAT(driver().calls(), ElementsAre(StartsWith("getProperty(0,1,\"PixelSize\""),
                                              StartsWith("getProperty(0,2,\"PixelSize\"")));
    EXPECT_EQ(resampler.liveInstances(), 2);

    // The port is taken now; the same name opens again as a second scanner elsewhere.
    EXPECT_EQ(openCVLPort(0, 10, "Scanner0001", size), 0);
    EXPECT_EQ(openCVLPort(0, 11, "Scanner0001", size), 1);
    EXPECT_EQ(resampler.liveInstances(), 4);

    closeCVLPort(0, 10);
    EXPECT_EQ(resampler.liveInstances(), 2);
    closeCVLPort(0, 11);
    EXPECT_EQ(resampler.liveInstances(), 0);
    // The closed port is free for anything again.
    EXPECT_EQ(openCVLPort(0, 10, "Camera", size), 1);
}

TEST_F(ScannerPorts, AFailedBuildReportsTheReasonAndLeavesThePortFree) {
    start(
        "[Scanner0002]\nCameras=2\n[Scanner0002.Camera1]\nPort=1\n"
        "[Scanner0002.Camera2]\nPort=3\n");
    int size[2] = {-1, -1};
    EXPECT_EQ(openCVLPort(0, 10, "Scanner0002", size), 0);
    EXPECT_THAT(DebugMessages::all(), ElementsAre("Scanner0002: invalid driver for port 3 in " +
                                                  dir_.file("Quiltra.ini") + "\n"));
    // The camera built before the failure went with the scanner.
    EXPECT_EQ(resampler.liveInstances(), 0);
    EXPECT_EQ(size[0], -1);
    EXPECT_EQ(openCVLPort(0, 10, "Camera", size), 1);
}

TEST_F(ScannerPorts, AScannerPortIsNoCameraForAnotherScanner) {
    start(std::string(kTwoCameras) + "[Scanner0003]\n[Scanner0003.Camera1]\nPort=10\n");
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    EXPECT_EQ(openCVLPort(0, 12, "Scanner0003", size), 0);
    EXPECT_THAT(DebugMessages::all(),
                ElementsAre(StartsWith("Scanner0003: invalid driver for port 10 in ")));
}

TEST_F(ScannerPorts, PropertyRangesAndCommandCallbacksOfAScannerPortAnswer0AndReachNoDriver) {
    start(kTwoCameras);
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    driver().clearCalls();
    int low = 7;
    int high = 7;
    EXPECT_EQ(getPropertyRange(0, 10, "Width", &low, &high), 0);
    EXPECT_EQ(setCmdCallback(0, 10, nullptr), 0);
    EXPECT_THAT(driver().calls(), IsEmpty());
    EXPECT_EQ(low + high, 14);
}

TEST_F(ScannerPorts, AGrabStartsTheCamerasInOrderUpToTheFirstRefusal) {
    start(
        "[Scanner0001]\nCameras=3\n[Scanner0001.Camera1]\nPort=1\n[Scanner0001.Camera2]\n"
        "Port=2\n[Scanner0001.Camera3]\nPort=3\n[Scanner0002]\nCameras=0\n");
    openCamera(3);
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    ASSERT_EQ(openCVLPort(0, 11, "Scanner0002", size), 1);
    driver().clearCalls();
    EXPECT_EQ(doCVLGrab(0, 11), 1);  // no cameras
    EXPECT_EQ(doCVLGrab(5, 10), 1);  // the scanner's own grabber is not looked at
    driver().setPortResult("doCVLGrab", 2, 0);
    EXPECT_EQ(doCVLGrab(0, 10), 0);
    EXPECT_THAT(driver().callsOf("doCVLGrab"),
                ElementsAre("doCVLGrab(0,1)", "doCVLGrab(0,2)", "doCVLGrab(0,3)", "doCVLGrab(0,1)",
                            "doCVLGrab(0,2)"));
}

TEST_F(ScannerPorts, RowReadsOutsideTheFinalImageAreRefused) {
    start(kTwoCameras);  // 120 x 300, one byte per pixel
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    unsigned char row[200];
    struct Read {
        int grabber, row, first, last;
        bool withBuffer;
        int expected;
    };
    for (const Read& read : std::vector<Read>{{0, 0, 0, 119, true, 1},
                                              {0, 299, 7, 7, true, 1},
                                              {1, 0, 0, 0, true, 0},
                                              {0, -1, 0, 0, true, 0},
                                              {0, 300, 0, 0, true, 0},
                                              {0, 0, -1, 3, true, 0},
                                              {0, 0, 0, 120, true, 0},
                                              {0, 0, 5, 4, true, 0},
                                              {0, 0, 0, 0, false, 0}}) {
        row[1] = 0xAB;
        EXPECT_EQ(getCVLGrabRow(read.grabber, 10, read.withBuffer ? row : nullptr, read.row,
                                read.first, read.last),
                  read.expected)
            << "row " << read.row << " columns " << read.first << ".." << read.last;
        if (read.first == read.last && read.expected == 1) {
            EXPECT_EQ(row[1], 0xAB);  // exactly one pixel copied
        }
    }
}

TEST_F(ScannerPorts, ConfigureCameraWritesTheFirstOpenScannerOfThatName) {
    start(kTwoCameras);
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    ASSERT_EQ(openCVLPort(0, 11, "Scanner0001", size), 1);
    driver().clearCalls();
    EXPECT_EQ(configureCamera(nullptr, "Scanner0001"), 1);
    EXPECT_THAT(driver().calls(), IsEmpty());
    std::string file = readFile(dir_.file("Quiltra.ini"));
    file.erase(std::remove(file.begin(), file.end(), '\r'), file.end());  // CRLF on Windows
    EXPECT_THAT(file, ::testing::HasSubstr("[Scanner0001]\nCameras=2\nScans=3\n"));
    // A scanner name that is not open goes to the driver like any other name.
    EXPECT_EQ(configureCamera(nullptr, "Scanner0002"), 1);
    EXPECT_THAT(driver().calls(), ElementsAre(StartsWith("configureCamera(")));
}

TEST_F(ScannerPorts, FinalizeClosesOpenScannersFirst) {
    start(kTwoCameras);
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    EXPECT_EQ(finalize(), 1);
    EXPECT_EQ(resampler.liveInstances(), 0);
    EXPECT_THAT(driver().callsOf("closeCVLPort"),
                ElementsAre("closeCVLPort(0,1)", "closeCVLPort(0,2)"));
}

TEST_F(ScannerPorts, TheDefaultResamplerLibraryIsFoundBesideTheLibrary) {
    // No ResampleDLL anywhere: the default name, found beside the library in the build
    // tree, turns the camera's 4 x 6 image by 180 degrees.
    useDriver("fake_driver");
    const std::string file = dir_.file("Quiltra.ini");
    writeFile(file, readFile(file) +
                        "[Scanner0001]\nCameras=1\nScans=1\nThreaded=0\nSize_x=4\nSize_y=6\n"
                        "[Scanner0001.Camera1]\nPort=1\nAngle=180\n");
    driver().setImageSize(1, 6, 4);
    ASSERT_EQ(initializeHost(), 1);
    openCamera(1);
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(0, 10, "Scanner0001", size), 1);
    ASSERT_EQ(size[0], 6);
    driver().deliver(0, 1);
    driver().waitForDeliveries();
    for (int row = 0; row < 4; ++row) {
        uint8_t pixels[6] = {};
        ASSERT_EQ(getCVLGrabRow(0, 10, pixels, row, 0, 5), 1);
        for (int column = 0; column < 6; ++column) {
            EXPECT_EQ(pixels[column], fake::pixel(1, 3 - row, 5 - column)) << row << "," << column;
        }
    }
    closeCVLPort(0, 10);
}

TEST_F(ScannerPorts, TheFirstStartFileOpensScannerOneWithoutCameras) {
    // No file yet: the first start writes it and, having read no driver name, loads none.
    EXPECT_EQ(initializeHost(), 0);
    int size[2] = {-1, -1};
    EXPECT_EQ(openCVLPort(0, 5, "Scanner0001", size), 1);
    EXPECT_EQ(size[0], 0);
    EXPECT_EQ(size[1], 0);
    // Scanner0002 has no section: one camera without a port.
    EXPECT_EQ(openCVLPort(0, 6, "Scanner0002", size), 0);
    closeCVLPort(0, 5);
    EXPECT_EQ(openCVLPort(0, 5, "Scanner0001", size), 1);
}

}  // namespace
}  // namespace quiltra::test

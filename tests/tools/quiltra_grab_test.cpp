// quiltra-grab end to end: the program run as a user runs it, on the simulated cameras, with
// its PNG files read back through libpng and its error exits checked. Linux only.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frame_stamp.h"
#include "test_support.h"

namespace quiltra::test {
namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

// Runs a shell command line, standard error joined to standard output.
RunResult runShell(const std::string& commandLine) {
    const std::string command = "{ " + commandLine + "; } 2>&1";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        result.output += buffer;
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Runs quiltra-grab from the build folder with the given arguments.
RunResult runGrab(const std::string& arguments) {
    return runShell((binaryDir() / "quiltra-grab").string() + " " + arguments);
}

struct PngImage {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    std::vector<uint8_t> pixels;

    std::optional<simcam::FrameStamp> stamp() const {
        return simcam::readFrameStamp(pixels.data(), width, height,
                                      static_cast<std::ptrdiff_t>(width) * bytesPerPixel,
                                      bytesPerPixel);
    }
};

// Decodes a PNG file with libpng, in its own format (grey or RGB).
std::optional<PngImage> readPng(const std::filesystem::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.string().c_str()) == 0) {
        return std::nullopt;
    }
    PngImage result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    const bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    result.bytesPerPixel = colour ? 3 : 1;
    result.pixels.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    return result;
}

class QuiltraGrab : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir_.file("simcam.ini"),
                  "[Simcam]\nCameras=3\n"
                  "[Camera1]\nName=Left\nWidth=96\nHeight=48\nExposureDelay=1\n"
                  "[Camera2]\nName=Middle\nWidth=96\nHeight=48\nExposureDelay=1\nPixelSize=24\n"
                  "[Camera3]\nName=Right\nWidth=96\nHeight=48\nExposureDelay=1\n");
    }
    // Common arguments: the simulator itself as the driver library.
    std::string simcamArguments() const {
        return "--library " + libraryPath("simcam") + " --system-dir " + dir_.str() + " --out " +
               out();
    }
    std::string out() const { return dir_.file("out"); }

    TempDir dir_;
};

TEST_F(QuiltraGrab, SavesEveryImageOfEveryCameraAsPngWithPortAndIndexInItsName) {
    const RunResult run = runGrab(simcamArguments() + " --count 3 --verify");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("summary: 9 images saved"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("0 time-outs, 0 failures"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("status of port 1 (Middle): images=3 drops=0"), std::string::npos)
        << "the driver's status of each port\n"
        << run.output;
    struct Expected {
        const char* prefix;
        int camera;
        int bytesPerPixel;
    };
    for (const Expected& camera : {Expected{"Left_port0_", 1, 1}, Expected{"Middle_port1_", 2, 3},
                                   Expected{"Right_port2_", 3, 1}}) {
        for (int index = 0; index < 3; ++index) {
            char name[64];
            std::snprintf(name, sizeof name, "%s%04d.png", camera.prefix, index);
            const auto image = readPng(std::filesystem::path(out()) / name);
            ASSERT_TRUE(image.has_value()) << name;
            EXPECT_EQ(image->width, 96);
            EXPECT_EQ(image->height, 48);
            EXPECT_EQ(image->bytesPerPixel, camera.bytesPerPixel) << name;
            EXPECT_EQ(image->stamp(),
                      (simcam::FrameStamp{camera.camera, static_cast<uint32_t>(index)}))
                << name;
        }
    }
}

TEST_F(QuiltraGrab, OpensOnlyTheRequestedCamerasOnTheirPorts) {
    const RunResult run = runGrab(simcamArguments() + " --camera Right@1 --count 2 --quiet");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find("opened"), std::string::npos) << "--quiet lists nothing";
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(out()) / "Right_port1_0001.png"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(out()) / "Left_port0_0000.png"));
}

TEST_F(QuiltraGrab, ImageTakesTheSizeThePortReportsWhenItChangedAfterOpening) {
    const RunResult run =
        runGrab(simcamArguments() + " --camera Left@0 --set 0:Width=128 --verify");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto image = readPng(std::filesystem::path(out()) / "Left_port0_0000.png");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 128);
    EXPECT_EQ(image->stamp(), (simcam::FrameStamp{1, 0}));
}

TEST_F(QuiltraGrab, ListsTheCamerasAndStops) {
    const RunResult run = runGrab(simcamArguments() + " --list");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("3 cameras, 3 ports"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("camera 1: Middle"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(out()));
}

TEST_F(QuiltraGrab, FailuresExitWithTheirCodeAndAClearMessage) {
    struct Case {
        const char* what;
        std::string arguments;
        int exitCode;
        const char* message;
    };
    const std::string sim = simcamArguments();
    const Case cases[] = {
        {"missing library", "--library /nonexistent/libnothing.so --system-dir " + dir_.str(), 3,
         "library /nonexistent/libnothing.so not found"},
        {"not loadable", "--library " + dir_.file("simcam.ini") + " --system-dir " + dir_.str(), 3,
         "could not be loaded"},
        {"not a driver",
         std::string("--library ") + QUILTRA_TEST_PNG_LIBRARY + " --system-dir " + dir_.str(), 3,
         "is not a camera driver: it lacks initialize, finalize"},
        {"unknown camera", sim + " --camera Nobody@0", 4,
         "cannot open camera Nobody on port 0: openCVLPort returned 0"},
        {"port out of range", sim + " --camera Left@7", 4, "cannot open camera Left on port 7"},
        {"refused property", sim + " --camera Left@0 --set 0:PixelSize=12", 4,
         "port 0: setProperty PixelSize = 12 returned 0"},
        {"grab refused", sim + " --camera Left@0 --set 0:RefuseGrabAfter=1 --count 3", 5,
         "port 0 (Left): grab 2 of 3 refused: doCVLGrab returned 0"},
        {"stalled camera", sim + " --set 1:StallAfter=2 --count 4 --timeout-ms 300", 6,
         "port 1 (Middle): no image within 300 ms (grab 3 of 4)"},
        {"scanner not opened", sim + " --scanner Scanner0009@5", 4,
         "cannot open scanner Scanner0009 on port 5: openCVLPort returned 0 (is the scanner "
         "configured in Quiltra.ini"},
        {"port given twice", sim + " --camera Left@0 --camera Right@0", 4, "port 0 is given twice"},
        {"bad port request", sim + " --camera Left", 2, "expected NAME@PORT"},
        {"bad property request", sim + " --set Width=5", 2, "expected PORT:NAME=VALUE"},
        {"bad count", sim + " --count 0", 2, "--count"},
    };
    for (const Case& c : cases) {
        const RunResult run = runGrab(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.what << "\n" << run.output;
    }
}

TEST_F(QuiltraGrab, StalledCameraStopsAloneWhileTheOthersGoOnAndTheSummaryCountsIt) {
    const RunResult run =
        runGrab(simcamArguments() + " --set 1:StallAfter=1 --count 3 --timeout-ms 300");
    EXPECT_EQ(run.exitCode, 6) << run.output;
    EXPECT_NE(run.output.find("summary: 7 images saved"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1 time-outs, 1 failures"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("debug: simcam: port 1: stalled after 1 images"), std::string::npos)
        << "the driver's debug messages are printed\n"
        << run.output;
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(out()) / "Right_port2_0002.png"));
}

TEST_F(QuiltraGrab, InterruptionEndsTheRunWithTheImagesSoFarAndASummary) {
    // A run far too long to finish, sent SIGINT after 2 s (and killed 30 s later should the
    // interruption not work).
    const RunResult run = runShell(
        "timeout --preserve-status -k 30 -s INT 2 " + (binaryDir() / "quiltra-grab").string() +
        " " + simcamArguments() + " --camera Left@0 --count 100000000 --quiet");
    EXPECT_EQ(run.exitCode, 130) << run.output;
    EXPECT_NE(run.output.find("interrupted during grab"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("summary: "), std::string::npos) << run.output;
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(out()) / "Left_port0_0000.png"));
}

TEST_F(QuiltraGrab, GrabsRealCamerasThroughQuiltraByDefault) {
    writeFile(dir_.file("Quiltra.ini"), "[Config]\nCameraDriver=" + libraryPath("simcam") + "\n");
    const RunResult run =
        runGrab("--system-dir " + dir_.str() + " --out " + out() + " --count 2 --verify");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("driver " + libraryPath("quiltra")), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Scanner0001"), std::string::npos) << "Quiltra adds its scanners";
    EXPECT_NE(run.output.find("summary: 6 images saved"), std::string::npos) << run.output;
    const auto image = readPng(std::filesystem::path(out()) / "Middle_port1_0001.png");
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->bytesPerPixel, 3);
    EXPECT_EQ(image->stamp(), (simcam::FrameStamp{2, 1}));
}

TEST_F(QuiltraGrab, QuiltraWithoutACameraDriverFailsAtInitialize) {
    const RunResult run = runGrab("--system-dir " + dir_.str() + " --out " + out());
    EXPECT_EQ(run.exitCode, 3) << run.output;
    EXPECT_NE(run.output.find("failed: no camera driver is loaded"), std::string::npos)
        << run.output;
    EXPECT_TRUE(std::filesystem::exists(dir_.file("Quiltra.ini"))) << "Quiltra's first start";
}

}  // namespace
}  // namespace quiltra::test

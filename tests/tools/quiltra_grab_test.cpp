// quiltra-grab end to end: the program run as a user runs it, on the simulated cameras, with
// its PNG files read back through libpng and its error exits checked; and its check of a
// scanner's final images and the layout it reads from Quiltra.ini, called directly. Linux
// only.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "console.h"
#include "final_image_check.h"
#include "frame_stamp.h"
#include "scanner_layout.h"
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
    // Common arguments: the simulator itself as the driver library; with the output folder.
    std::string simcamDriver() const {
        return "--library " + libraryPath("simcam") + " --system-dir " + dir_.str();
    }
    std::string simcamArguments() const { return simcamDriver() + " --out " + out(); }
    std::string out() const { return dir_.file("out"); }

    // Three simulated grey cameras of 96 x 48 pixels side by side in Quiltra's Scanner0001,
    // four scans a final image, the scene moving on by one image height per exposure; the
    // arguments that open them on ports 0 to 2 and the scanner on port 3, through Quiltra.
    std::string scannerSetup() const {
        std::string simcam = "[Simcam]\nCameras=3\n";
        std::string quiltra = "[Config]\nCameraDriver=" + libraryPath("simcam") +
                              "\n[Scanner0001]\nCameras=3\nScans=4\nOverlap=0\n"
                              "ActiveGrabTimeout=2000\nSize_x=48\nSize_y=288\n";
        const char* names[] = {"Left", "Middle", "Right"};
        for (int i = 0; i < 3; ++i) {
            simcam += grab::format(
                "[Camera%d]\nName=%s\nWidth=96\nHeight=48\nExposureDelay=1\n"
                "SceneX=%d\nScrollRows=48\n",
                i + 1, names[i], 96 * i);
            quiltra += grab::format("[Scanner0001.Camera%d]\nPort=%d\n", i + 1, i);
        }
        writeFile(dir_.file("simcam.ini"), simcam);
        writeFile(dir_.file("Quiltra.ini"), quiltra);
        return "--system-dir " + dir_.str() + " --out " + out() +
               " --camera Left@0 --camera Middle@1 --camera Right@2 --scanner Scanner0001@3";
    }

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
        {"bad property name", sim + " --get 3", 2, "--get: expected PORT:NAME, got '3'"},
        {"no command", sim + " --cmd \"3: fill=1\"", 2,
         "--cmd: expected PORT:COMMAND or PORT:COMMAND ARGUMENTS"},
        {"no image 0", sim + " --every 0 --get 0:Width", 2,
         "--every: expected a number of images from 1, got '0'"},
        {"after the last image", sim + " --count 2 --after 3 --get 0:Width", 2,
         "--after: image 3 is beyond --count 2"},
        {"bad count", sim + " --count 0", 2, "--count"},
        {"no-save with a folder", sim + " --no-save", 2, "--out excludes --no-save"},
        {"unstamped image, not saved",
         simcamDriver() + " --camera Left@0 --set 0:Stamp=0 --verify --no-save", 7,
         "port 0 image 0: no frame stamp in the top-left corner"},
    };
    for (const Case& c : cases) {
        const RunResult run = runGrab(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.what << "\n" << run.output;
    }
}

TEST_F(QuiltraGrab, NoSaveReadsAndCountsEveryImageButWritesNoFile) {
    const RunResult run =
        runShell("cd " + dir_.str() + " && " + (binaryDir() / "quiltra-grab").string() + " " +
                 simcamDriver() + " --count 3 --verify --no-save");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("summary: 9 images read from 3 ports"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("saved"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out")) << "not even the default folder";
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

// Three simulated cameras side by side through Quiltra's Scanner0001, four scans a final
// image, the scene moving on by one image height per exposure: every final image passes
// --verify, and its bands hold consecutive frames of each camera in its own segment. The
// cameras' images passed through to the host (PassThru 1,-1) are counted, not saved.
TEST_F(QuiltraGrab, ScannerFinalImagesPassVerificationAndAreSaved) {
    const RunResult run = runGrab(scannerSetup() + " --count 3 --verify");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("summary: 3 images saved"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("pass-through notifications"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(out()) / "Left_port0_0000.png"));
    const auto image = readPng(std::filesystem::path(out()) / "Scanner0001_port3_0002.png");
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->width, 288);
    ASSERT_EQ(image->height, 192);
    for (int band = 0; band < 4; ++band) {
        for (int i = 0; i < 3; ++i) {
            const uint8_t* origin = image->pixels.data() + band * 48 * 288 + i * 96;
            EXPECT_EQ(simcam::readFrameStamp(origin, 96, 48, 288, 1),
                      (simcam::FrameStamp{i + 1, static_cast<uint32_t>(8 + band)}))
                << "band " << band << ", segment " << i;
        }
    }
}

// --set, --get and --cmd on the scanner's port, before grabbing and between images.
TEST_F(QuiltraGrab, PropertiesAndCommandsRunBeforeGrabbingAndBetweenImages) {
    struct Case {
        const char* what;
        std::string arguments;
        int exitCode;
        std::vector<std::string> lines;  // in this order in the output
        int lastHeight;                  // of the last final image
    };
    const Case cases[] = {
        {"before grabbing",
         "--get 3:Width --get 3:scancount --cmd \"3:get value=imageStatus\" --verify",
         0,
         {"port 3: Width = 288", "port 3: scancount = 4",
          "port 3: get value=imageStatus -> 1: {'imageCount': 0, 'activeGrabTimeoutCount': 0,",
          "summary: 1 images saved"},
         192},
        {"between images",
         "--count 3 --every 2 --cmd \"3:get value=imageStatus\" --after 1 --set 3:ScanCount=2 "
         "--get 3:Height --cmd 3:STAT",
         0,
         {"after image 1: port 3: set ScanCount = 2", "after image 1: port 3: Height = 96",
          "debug: Scanner0001: last scan ", "after image 1: port 3: STAT -> 1",
          "after image 2: port 3: get value=imageStatus -> 1: {'imageCount': 2,",
          "summary: 3 images saved"},
         96},
        {"refusals",
         "--cmd \"0:other x=1\" --get 3:Nothing",
         4,
         {"port 0: other x=1 -> 0: unknown command other (status, reset, help)",
          "port 0: execCmd other returned 0"},
         0},
        {"a refusal between images",
         "--count 2 --after 1 --get 3:Nothing --get 3:Count",
         4,
         {"after image 1: port 3: getProperty Nothing returned 0",
          "after image 1: port 3: Count = 0", "summary: 2 images saved"},
         192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(out());
        const RunResult run = runGrab(scannerSetup() + " " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        std::size_t from = 0;
        for (const std::string& line : c.lines) {
            from = run.output.find(line, from);
            ASSERT_NE(from, std::string::npos) << line << "\n" << run.output;
        }
        const auto pngPath = [&](int index) {
            return std::filesystem::path(out()) / grab::format("Scanner0001_port3_%04d.png", index);
        };
        std::optional<PngImage> last;
        for (int index = 0; std::filesystem::exists(pngPath(index)); ++index) {
            last = readPng(pngPath(index));
        }
        EXPECT_EQ(last ? last->height : 0, c.lastHeight);
    }
}

TEST_F(QuiltraGrab, QuiltraWithoutACameraDriverFailsAtInitialize) {
    const RunResult run = runGrab("--system-dir " + dir_.str() + " --out " + out());
    EXPECT_EQ(run.exitCode, 3) << run.output;
    EXPECT_NE(run.output.find("failed: no camera driver is loaded"), std::string::npos)
        << run.output;
    EXPECT_TRUE(std::filesystem::exists(dir_.file("Quiltra.ini"))) << "Quiltra's first start";
}

// Final images of three grey cameras of 64 x 20 pixels side by side, four scans, built from
// frame stamps and checked as quiltra-grab --verify checks them.
class FinalImageStamps : public ::testing::Test {
protected:
    static constexpr int kScans = 4;
    static constexpr int kCameras = 3;
    static constexpr int kColumns = 64;
    static constexpr int kRows = 20;
    // stamps[band][segment] of one final image.
    using Stamps = std::vector<std::vector<std::optional<simcam::FrameStamp>>>;

    static tools::ScannerLayout layout(int overlap) {
        tools::ScannerLayout layout;
        layout.name = "Scanner0001";
        layout.scans = kScans;
        layout.overlap = overlap;
        for (int i = 0; i < kCameras; ++i) {
            tools::ScannerSegment segment;
            segment.port = i;
            segment.columns = kColumns;
            segment.rows = kRows;
            segment.camera = i + 1;
            layout.segments.push_back(segment);
        }
        return layout;
    }
    // Segment i carries camera i + 1 with the band's frame.
    static Stamps stamps(const std::vector<uint32_t>& frames) {
        Stamps result(frames.size());
        for (std::size_t band = 0; band < frames.size(); ++band) {
            for (int i = 0; i < kCameras; ++i) {
                result[band].push_back(simcam::FrameStamp{i + 1, frames[band]});
            }
        }
        return result;
    }
    static std::vector<uint8_t> image(const Stamps& stamps, int height = kScans * kRows) {
        const int width = kCameras * kColumns;
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height, 90);
        for (std::size_t band = 0; band < stamps.size(); ++band) {
            for (std::size_t i = 0; i < stamps[band].size(); ++i) {
                if (stamps[band][i]) {
                    uint8_t* origin = pixels.data() + band * kRows * width + i * kColumns;
                    simcam::writeFrameStamp(origin, kColumns, kRows, width, 1, *stamps[band][i]);
                }
            }
        }
        return pixels;
    }
};

TEST_F(FinalImageStamps, EveryBandAndSegmentIsCheckedAndAFaultNamesItsPlaceAndCause) {
    const std::string camera1 = "segment 0 (Scanner0001.Camera1, port 0)";
    const std::string camera2 = "segment 1 (Scanner0001.Camera2, port 1)";
    const std::string camera3 = "segment 2 (Scanner0001.Camera3, port 2)";
    struct Case {
        const char* what;
        int overlap;
        std::vector<uint32_t> frames[2];        // per band, of two final images in turn
        std::function<void(Stamps[2])> change;  // what goes wrong
        std::vector<std::string> faults[2];     // what the check reports for each
    };
    const auto none = [](Stamps[2]) {};
    const Case cases[] = {
        {"right", 0, {{0, 1, 2, 3}, {4, 5, 6, 7}}, none, {{}, {}}},
        {"right, overlap 1: band 0 is the previous band 1",
         1,
         {{0, 1, 2, 3}, {1, 4, 5, 6}},
         none,
         {{}, {}}},
        {"wrong camera",
         0,
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         [](Stamps s[2]) { s[0][2][1]->camera = 3; },
         {{"band 2, " + camera2 + ": the stamp of camera 3 (frame 2) where camera 2 was due"}, {}}},
        {"lost frame, seen again in the next image",
         0,
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         [](Stamps s[2]) { s[0][3][0]->frame = 5; },
         {{"band 3, " + camera1 + ": frame 5 where frame 3 was due (images were lost)"},
          {"band 0, " + camera1 +
           ": frame 4 where frame 6 was due (after the previous final image; an image repeats "
           "or bands are out of order)"}}},
        {"swapped bands",
         0,
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         [](Stamps s[2]) { std::swap(s[1][1][2], s[1][2][2]); },
         {{}, {"bands 1 and 2, " + camera3 + ": swapped (frames 6 and 5)"}}},
        {"first image does not begin with the first exposure",
         0,
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         [](Stamps s[2]) {
             for (auto& band : s[0]) {
                 band[1]->frame += 1;
             }
         },
         {{"band 0, " + camera2 +
           ": frame 1 where frame 0 was due (the camera's first exposure; images were lost)"},
          {"band 0, " + camera2 +
           ": frame 4 where frame 5 was due (after the previous final image; an image repeats "
           "or bands are out of order)"}}},
        {"missing stamp",
         0,
         {{0, 1, 2, 3}, {4, 5, 6, 7}},
         [](Stamps s[2]) { s[1][1][2].reset(); },
         {{}, {"band 1, " + camera3 + ": no frame stamp at its top-left corner (x 128, y 20)"}}},
        {"overlap 1: kept band not from the previous image",
         1,
         {{0, 1, 2, 3}, {1, 4, 5, 6}},
         [](Stamps s[2]) { s[1][0][0]->frame = 0; },
         {{},
          {"band 0, " + camera1 +
           ": frame 0 where frame 1 was due (band 1 of the previous final image, kept by the "
           "overlap 1)"}}},
    };
    for (const Case& c : cases) {
        grab::FinalImageCheck check(layout(c.overlap));
        Stamps images[2] = {stamps(c.frames[0]), stamps(c.frames[1])};
        c.change(images);
        for (int n = 0; n < 2; ++n) {
            const std::vector<uint8_t> pixels = image(images[n]);
            EXPECT_EQ(check.check(pixels.data(), kCameras * kColumns, kScans * kRows, 1),
                      c.faults[n])
                << c.what << ", final image " << n;
        }
    }
}

TEST_F(FinalImageStamps, ImageOfAnotherSizeThanTheLayoutIsNotSearchedForSegments) {
    grab::FinalImageCheck check(layout(0));
    const std::vector<uint8_t> pixels = image(stamps({0, 1, 2}), 3 * kRows);
    EXPECT_EQ(check.check(pixels.data(), kCameras * kColumns, 3 * kRows, 1),
              std::vector<std::string>{
                  "the image is 192 x 60 pixels, but Quiltra.ini [Scanner0001] gives segments "
                  "of 64+64+64 columns and 4 bands of 20 rows; cannot find its segments"});
}

TEST(ScannerLayoutFromQuiltraIni, SegmentsAndBandsAreSizedAsQuiltraBuildsTheScanner) {
    using Segment = std::tuple<int, int, int>;  // port, columns, rows
    struct Case {
        const char* what;
        std::string ini;
        int scans;
        int overlap;
        std::vector<Segment> segments;
    };
    const Case cases[] = {
        {"three cameras side by side, field = image",
         "[Scanner0001]\nCameras=3\nScans=4\nOverlap=0\nSize_x=480\nSize_y=1920\nPitch_x=1\n"
         "Pitch_y=1\n[Scanner0001.Camera1]\nPort=0\n[Scanner0001.Camera2]\nPort=1\n"
         "[scanner0001.camera3]\nport=2\n",
         4,
         0,
         {{0, 640, 480}, {1, 640, 480}, {2, 640, 480}}},
        {"a camera's own Size, a pitch, overlap modulo the scans, a missing Port",
         "[Scanner0001]\nCameras=2\nScans=4\nOverlap=5\nSize_x=100\nSize_y=120\nPitch_x=2\n"
         "Pitch_y=0.5\n[Scanner0001.Camera1]\nPort=3\n[Scanner0001.Camera2]\nSize_y=30.25\n",
         4,
         1,
         {{3, 120, 50}, {-1, 61, 50}}},
        {"no file: Quiltra's defaults", "", 1, 0, {{-1, 120, 100}}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (!c.ini.empty()) {
            writeFile(dir.file("Quiltra.ini"), c.ini);
        }
        const tools::ScannerLayout layout = tools::readScannerLayout(dir.str(), "Scanner0001");
        std::vector<Segment> segments;
        for (const tools::ScannerSegment& segment : layout.segments) {
            segments.push_back({segment.port, segment.columns, segment.rows});
        }
        EXPECT_EQ(layout.scans, c.scans) << c.what;
        EXPECT_EQ(layout.overlap, c.overlap) << c.what;
        EXPECT_EQ(segments, c.segments) << c.what;
    }
}

}  // namespace
}  // namespace quiltra::test

// The simulated camera driver, loaded as a host loads a driver: settings file, delivery from
// its own thread, the frame stamp, scenes, properties, commands and fault injection.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <set>
#include <string>

#include "camera_model.h"
#include "simcam_harness.h"
#include "test_support.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace quiltra::test {
namespace {

// A small, fast camera: 64 x 40 grey, 1 ms exposure, the pattern not moving.
const std::string kSmallCamera = "Width=64\nHeight=40\nExposureDelay=1\nSceneX=0\nScrollRows=0\n";

// simcam.ini text for cameras with the given settings lines, [Camera1] first; a camera
// without a Name line is called Cam<N>.
std::string settingsText(const std::vector<std::string>& cameras) {
    std::string text = "[Simcam]\nCameras=" + std::to_string(cameras.size()) + "\n";
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const std::string number = std::to_string(i + 1);
        const bool named = cameras[i].find("Name=") != std::string::npos;
        text += "[Camera" + number + "]\n" + (named ? "" : "Name=Cam" + number + "\n") + cameras[i];
    }
    return text;
}

class Simcam : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << library_.error();
        recorder().reset(&sim_);
    }
    void TearDown() override {
        sim_.finalize();
        recorder().reset(nullptr);
    }

    static SimcamRecorder& recorder() { return SimcamRecorder::instance(); }
    void writeSettings(const std::vector<std::string>& cameras) {
        writeFile(dir_.file("simcam.ini"), settingsText(cameras));
    }
    int start() { return sim_.initialize(dir_.str().c_str(), &SimcamRecorder::debugProc); }
    // Opens a camera with both callbacks set; its size, or {0, 0} when refused.
    std::array<int, 2> open(int port, const char* name, int bytesPerPixel = 1) {
        std::array<int, 2> size{0, 0};
        if (sim_.openCVLPort(0, port, name, size.data()) != 1) {
            return {0, 0};
        }
        recorder().setImageFormat(port, size[0], size[1], bytesPerPixel);
        sim_.setCompleteCallback(0, port, &SimcamRecorder::completeProc);
        sim_.setCmdCallback(0, port, &SimcamRecorder::cmdProc);
        return size;
    }
    std::string status(int port) {
        char text[256] = "";
        sim_.execCmd(0, port, "status", "", text, sizeof text);
        return text;
    }

    TempDir dir_;
    tools::DriverLibrary library_{libraryPath("simcam")};
    const SimcamEntries& sim_ = library_.entries();
};

TEST_F(Simcam, FirstStartWritesDefaultSettingsFileWithThreeCameras) {
    ASSERT_EQ(start(), 1);
    const std::string file = readFile(dir_.file("simcam.ini"));
    for (const char* expected :
         {"[Simcam]", "Cameras=3", "[Camera3]", "Name=SimCam3", "Width=640", "Height=480",
          "PixelSize=8", "ExposureDelay=20", "Scene=pattern", "SceneX=1280", "DropEvery=0",
          "StallAfter=0", "RandomDelay=0", "RandomSeed=1"}) {
        EXPECT_NE(file.find(expected), std::string::npos) << expected;
    }
    EXPECT_TRUE(recorder().hasDebugMessage({"created", "simcam.ini"}));
    EXPECT_EQ(sim_.getCVLNoOfSupportedCameras(), 3);
    EXPECT_EQ(sim_.getCVLMaxNoOfPorts(0), 3);
    const char** names = sim_.getCVLCameraConfigNames();
    EXPECT_STREQ(names[0], "SimCam1");
    EXPECT_STREQ(names[2], "SimCam3");
    EXPECT_EQ(names[3], nullptr);
    EXPECT_EQ(open(0, "SimCam2"), (std::array<int, 2>{640, 480}));
}

TEST_F(Simcam, EditedSettingsFileIsReadAtTheNextInitialize) {
    ASSERT_EQ(start(), 1);
    ASSERT_EQ(sim_.finalize(), 1);
    recorder().reset(&sim_);
    writeSettings({kSmallCamera, "Name=Left\nWidth=128\nHeight=20\n"});
    ASSERT_EQ(start(), 1);
    EXPECT_EQ(sim_.getCVLNoOfSupportedCameras(), 2);
    EXPECT_STREQ(sim_.getCVLCameraConfigNames()[1], "Left");
    EXPECT_EQ(open(1, "Left"), (std::array<int, 2>{128, 20}));
    EXPECT_FALSE(recorder().hasDebugMessage({"created"}));
    int sceneX = -1;
    ASSERT_EQ(sim_.getProperty(0, 1, "SceneX", &sceneX), 1);
    EXPECT_EQ(sceneX, 64) << "without SceneX the window follows that of the 64 wide camera 1";
}

TEST_F(Simcam, SetSystemPathAloneLoadsTheSettings) {
    writeSettings({kSmallCamera});
    ASSERT_NE(sim_.setDebugMsgProc, nullptr);
    ASSERT_NE(sim_.setSystemPath, nullptr);
    sim_.setDebugMsgProc(&SimcamRecorder::debugProc);
    sim_.setSystemPath(dir_.str().c_str());
    EXPECT_EQ(sim_.getCVLNoOfSupportedCameras(), 1);
    EXPECT_EQ(open(0, "Cam1")[0], 64);
}

TEST_F(Simcam, BadSettingsAreReportedAndReplacedByDefaults) {
    writeFile(dir_.file("simcam.ini"),
              "[Simcam]\nCameras=999\nTargetSquare=-1\nTargetRows=x\n[Camera1]\nName=Cam1\n"
              "Width=abc\nPixelSize=16\nExposureDelay=-5\nScene=missing.png\nRotation=200\n"
              "K1=abc\nShiftRows=3\nVignetting=1.5\nGain=x\nDarkOffset=300\nUniformLevel=-3\n"
              "[Camera2]\nName=Cam1\nScene=target\n");
    ASSERT_EQ(start(), 1);
    EXPECT_TRUE(recorder().hasDebugMessage({"Cameras=999", "1 to 64", "using 3"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1]", "Width=abc", "using 640"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"PixelSize=16", "(8 or 24)", "using 8"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"ExposureDelay=-5", "using 20"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"missing.png", "test pattern"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera2]", "repeats", "using SimCam2"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Simcam] TargetSquare=-1", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Simcam] TargetRows=x", "0 to 10000", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1] Rotation=200", "-180 to 180", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1] K1=abc", "-1 to 1", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1]", "mounting errors apply only", "ignored"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1] Vignetting=1.5", "0 to 1", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1] Gain=x", "-1 to 4", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1] DarkOffset=300", "0 to 255", "using 0"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera1] UniformLevel=-3", "using 200"}));
    EXPECT_TRUE(recorder().hasDebugMessage({"[Camera2] Scene=target", "the plane is blank"}));
    // Still a working camera with the defaults.
    EXPECT_EQ(open(0, "Cam1"), (std::array<int, 2>{640, 480}));
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    EXPECT_EQ(recorder().deliveries()[0].stamp, (simcam::FrameStamp{1, 0}));
}

TEST_F(Simcam, GrabReturnsAtOnceAndImageArrivesFromTheDriversOwnThread) {
    writeSettings({kSmallCamera, kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(1, "Cam2");
    ASSERT_EQ(sim_.doCVLGrab(0, 1), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    const Delivery delivery = recorder().deliveries()[0];
    EXPECT_EQ(delivery.grabber, 0);
    EXPECT_EQ(delivery.port, 1);
    EXPECT_NE(delivery.thread, std::this_thread::get_id());
    ASSERT_FALSE(delivery.pixels.empty()) << "getCVLGrabRow failed inside the callback";
    EXPECT_EQ(delivery.stamp, (simcam::FrameStamp{2, 0}));
}

TEST_F(Simcam, StampCarriesCameraNumberAndConsecutiveFrameNumbers) {
    writeSettings({kSmallCamera, kSmallCamera, kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(0, "Cam3");
    open(2, "Cam1");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
        ASSERT_EQ(sim_.doCVLGrab(0, 2), 1);
    }
    ASSERT_TRUE(recorder().waitForDeliveryCount(6));
    std::vector<uint32_t> framesOfPort0;
    for (const Delivery& delivery : recorder().deliveries()) {
        ASSERT_TRUE(delivery.stamp.has_value());
        EXPECT_EQ(delivery.stamp->camera, delivery.port == 0 ? 3 : 1);
        if (delivery.port == 0) {
            framesOfPort0.push_back(delivery.stamp->frame);
        }
    }
    EXPECT_EQ(framesOfPort0, (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(Simcam, RowPartsMatchTheWholeRowAndBadRequestsAreRefused) {
    writeSettings({kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    uint8_t row[64];
    EXPECT_EQ(sim_.getCVLGrabRow(0, 0, row, 0, 0, 63), 0) << "no image yet";
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    const Delivery delivery = recorder().deliveries()[0];
    uint8_t part[8] = {};
    ASSERT_EQ(sim_.getCVLGrabRow(0, 0, part, 37, 10, 17), 1);
    EXPECT_EQ(std::vector<uint8_t>(part, part + 8),
              std::vector<uint8_t>(delivery.pixels.begin() + 37 * 64 + 10,
                                   delivery.pixels.begin() + 37 * 64 + 18));
    struct BadRequest {
        int port, row, first, last;
        bool nullBuffer;
    };
    for (const BadRequest& bad : {BadRequest{0, 40, 0, 63, false}, BadRequest{0, -1, 0, 63, false},
                                  BadRequest{0, 0, 0, 64, false}, BadRequest{0, 0, 5, 4, false},
                                  BadRequest{0, 0, -1, 3, false}, BadRequest{0, 0, 0, 63, true},
                                  BadRequest{1, 0, 0, 63, false}}) {
        EXPECT_EQ(sim_.getCVLGrabRow(0, bad.port, bad.nullBuffer ? nullptr : row, bad.row,
                                     bad.first, bad.last),
                  0)
            << bad.port << " " << bad.row << " " << bad.first << " " << bad.last;
    }
}

TEST_F(Simcam, ColourPixelsAreStoredRedGreenBlue) {
    writeSettings({"Width=64\nHeight=64\nExposureDelay=1\nPixelSize=24\nSceneX=0\nStamp=0\n"});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1", 3);
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    const Delivery delivery = recorder().deliveries()[0];
    // Test pattern at (40, 50): square (1, 1) is grey 56; G is the row, B the column.
    const uint8_t* pixel = delivery.pixels.data() + (50 * 64 + 40) * 3;
    EXPECT_EQ(pixel[0], 56);
    EXPECT_EQ(pixel[1], 50);
    EXPECT_EQ(pixel[2], 40);
    // At (40, 20) square (1, 0) is grey 200.
    EXPECT_EQ(delivery.pixels[(20 * 64 + 40) * 3], 200);
}

TEST_F(Simcam, ImageFileMovesPastNeighbouringCamerasLikeAConveyor) {
    // A 100 x 30 colour scene whose pixel (x, y) is R = x, G = y, B = x + y.
    const int sceneWidth = 100;
    const int sceneHeight = 30;
    std::vector<uint8_t> scene(sceneWidth * sceneHeight * 3);
    for (int y = 0; y < sceneHeight; ++y) {
        for (int x = 0; x < sceneWidth; ++x) {
            uint8_t* p = scene.data() + (y * sceneWidth + x) * 3;
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x + y);
        }
    }
    ASSERT_NE(stbi_write_png(dir_.file("belt.png").c_str(), sceneWidth, sceneHeight, 3,
                             scene.data(), sceneWidth * 3),
              0);
    const std::string camera =
        "Width=64\nHeight=16\nExposureDelay=1\nScene=belt.png\nStamp=0\n"
        "ScrollRows=7\nPixelSize=24\n";
    writeSettings({camera + "SceneX=0\n", camera + "SceneX=64\nSceneY=3\n"});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1", 3);
    open(1, "Cam2", 3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
        ASSERT_EQ(sim_.doCVLGrab(0, 1), 1);
    }
    ASSERT_TRUE(recorder().waitForDeliveryCount(6));
    std::array<int, 2> framesSeen{0, 0};
    for (const Delivery& delivery : recorder().deliveries()) {
        const int frame = framesSeen[static_cast<std::size_t>(delivery.port)]++;
        const int sceneX = delivery.port == 0 ? 0 : 64;
        const int sceneY = (delivery.port == 0 ? 0 : 3) + frame * 7;
        for (int y : {0, 15}) {
            for (int x : {0, 35, 63}) {
                const int sx = (sceneX + x) % sceneWidth;  // wraps around the scene's edges
                const int sy = (sceneY + y) % sceneHeight;
                const uint8_t* p = delivery.pixels.data() + (y * 64 + x) * 3;
                EXPECT_EQ(p[0], sx) << "port " << delivery.port << " frame " << frame;
                EXPECT_EQ(p[1], sy) << "port " << delivery.port << " frame " << frame;
                EXPECT_EQ(p[2], static_cast<uint8_t>(sx + sy));
            }
        }
    }
}

TEST_F(Simcam, MountedCamerasSeeThePlaneThroughTheirExactModel) {
    // A 200 x 100 colour plane at 0.5 world units per scene pixel, R = column, G = row.
    std::vector<uint8_t> scene(200 * 100 * 3);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            scene[(y * 200 + x) * 3] = static_cast<uint8_t>(x);
            scene[(y * 200 + x) * 3 + 1] = static_cast<uint8_t>(y);
        }
    }
    ASSERT_NE(stbi_write_png(dir_.file("plane.png").c_str(), 200, 100, 3, scene.data(), 600), 0);
    const std::string mounted =
        "Width=64\nHeight=48\nExposureDelay=1\nStamp=0\nScrollRows=4\nWorldX=5\nWorldY=5\n"
        "WorldPitch=0.25\nRotation=10\nShiftColumns=2.5\nShiftRows=-1.5\nScale=0.05\n"
        "TiltColumns=0.03\nTiltRows=-0.02\nK1=0.05\nK2=-0.02\n";
    writeFile(dir_.file("simcam.ini"),
              "[Simcam]\nTargetSquare=2\nTargetRows=30\nTargetColumns=30\n" +
                  settingsText({mounted + "Scene=plane.png\nScenePitch=0.5\nPixelSize=24\n",
                                mounted + "Scene=target\nWorldY=5\n"})
                      .substr(std::string("[Simcam]\n").size()));
    ASSERT_EQ(start(), 1);
    open(0, "Cam1", 3);
    open(1, "Cam2");
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    }
    ASSERT_EQ(sim_.doCVLGrab(0, 1), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(3));
    const simcam::CameraModel model(64, 48, {5.0, 5.0, 0.25},
                                    {10.0, 2.5, -1.5, 0.05, 0.03, -0.02, 0.05, -0.02});
    std::array<int, 2> framesSeen{0, 0};
    for (const Delivery& delivery : recorder().deliveries()) {
        const int frame = framesSeen[static_cast<std::size_t>(delivery.port)]++;
        if (delivery.port == 0) {
            // The plane moves on by 4 pixels' worth (1 world unit) per exposure.
            for (const simcam::Point2 pixel : {simcam::Point2{0, 0}, {63, 0}, {31, 24}, {5, 47}}) {
                const simcam::Point2 world = *model.pixelToWorld(pixel);
                const uint8_t* p = delivery.pixels.data() +
                                   (static_cast<int>(pixel.y) * 64 + static_cast<int>(pixel.x)) * 3;
                EXPECT_NEAR(p[0], world.y / 0.5 - 0.5, 0.51) << pixel.x << ", " << pixel.y;
                EXPECT_NEAR(p[1], (world.x + frame) / 0.5 - 0.5, 0.51)
                    << pixel.x << ", " << pixel.y;
            }
            continue;
        }
        // Square centres land where the closed form says: dark when i + j is even.
        int squaresSeen = 0;
        for (int i = 3; i < 9; ++i) {
            for (int j = 3; j < 11; ++j) {
                const simcam::Point2 pixel = *model.worldToPixel({2.0 * i + 1.0, 2.0 * j + 1.0});
                if (pixel.x < 2 || pixel.x > 61 || pixel.y < 2 || pixel.y > 45) {
                    continue;
                }
                ++squaresSeen;
                const int value = delivery.pixels[static_cast<std::size_t>(
                    std::lround(pixel.y) * 64 + std::lround(pixel.x))];
                EXPECT_NEAR(value, (i + j) % 2 == 0 ? simcam::kTargetDark : simcam::kTargetLight, 3)
                    << "square " << i << ", " << j;
            }
        }
        EXPECT_GE(squaresSeen, 20);
    }
}

TEST_F(Simcam, GreyCameraSeesAnImageFileAsLuma) {
    // A 2 x 1 PGM scene is read as it is; a grey camera shows its values.
    writeFile(dir_.file("belt.pgm"), std::string("P5\n2 1\n255\n") + char(10) + char(240));
    writeSettings({"Width=64\nHeight=16\nExposureDelay=1\nScene=belt.pgm\nStamp=0\n"});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    const Delivery delivery = recorder().deliveries()[0];
    EXPECT_EQ(delivery.pixels[0], 10);
    EXPECT_EQ(delivery.pixels[1], 240);
    EXPECT_EQ(delivery.pixels[64 * 15 + 63], 240);
}

// The test pattern's grey at scene (x, y), written out here so that a change to it shows.
int patternGrey(int x, int y) {
    return x % 128 == 0 || y % 128 == 0 ? 255 : (((x >> 5) + (y >> 5)) & 1) != 0 ? 200 : 56;
}

TEST_F(Simcam, ShadingScalesTheSceneFallsOffToTheCornersAndAddsTheDarkOffset) {
    // 65 x 41 pixels: the centre pixel (32, 20) is the image centre, r = 0 there.
    struct Case {
        const char* name;
        std::string keys;  // besides the size and Stamp=0
        int centre;        // expected at (32, 20), the corners (0, 0) and (64, 40), and (16, 10)
        int corner;
        int between;  // -1: the test pattern at every pixel
    };
    const Case cases[] = {
        {"the pattern without shading keys", "", 0, 0, -1},
        {"the pattern with every shading key 0", "Gain=0\nVignetting=0\nDarkOffset=0\n", 0, 0, -1},
        {"uniform at its default level", "Scene=uniform\n", 200, 200, 200},
        {"uniform with gain", "Scene=uniform\nUniformLevel=100\nGain=0.5\n", 150, 150, 150},
        // r^2 / R^2 = 1/4 halfway to the corner: 200 x (1 - 0.4 / 4) = 180.
        {"uniform with vignetting", "Scene=UNIFORM\nVignetting=0.4\n", 200, 120, 180},
        {"uniform with all three", "Scene=uniform\nGain=-0.5\nVignetting=0.5\nDarkOffset=7\n", 107,
         57, 95},
        {"saturates at 255", "Scene=uniform\nUniformLevel=250\nGain=0.2\nDarkOffset=10\n", 255, 255,
         255},
        {"a covered lens shows the dark offset alone",
         "Scene=dark\nVignetting=0.9\nDarkOffset=12\n", 12, 12, 12},
        {"a covered lens without offset", "Scene=dark\nGain=3\n", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_.finalize();
        recorder().reset(&sim_);
        writeSettings({"Width=65\nHeight=41\nExposureDelay=1\nSceneX=0\nStamp=0\n" + c.keys});
        ASSERT_EQ(start(), 1);
        open(0, "Cam1");
        ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
        ASSERT_TRUE(recorder().waitForDeliveryCount(1));
        const std::vector<uint8_t> pixels = recorder().deliveries()[0].pixels;
        ASSERT_EQ(pixels.size(), 65u * 41u);
        auto at = [&](int x, int y) { return int{pixels[static_cast<std::size_t>(y * 65 + x)]}; };
        if (c.between < 0) {
            for (int y = 0; y < 41; ++y) {
                for (int x = 0; x < 65; ++x) {
                    ASSERT_EQ(at(x, y), patternGrey(x, y)) << x << ", " << y;
                }
            }
            continue;
        }
        EXPECT_EQ(at(32, 20), c.centre);
        EXPECT_EQ(at(0, 0), c.corner);
        EXPECT_EQ(at(64, 40), c.corner);
        EXPECT_EQ(at(64, 0), c.corner);
        EXPECT_EQ(at(16, 10), c.between);
        EXPECT_EQ(at(48, 30), c.between);
    }
}

TEST_F(Simcam, DropEveryThirdImageSkipsItsCallbackAndLeavesAGapInFrameNumbers) {
    writeSettings({kSmallCamera + "DropEvery=3\n"});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    }
    EXPECT_NE(waitForStatus(sim_, 0, "pending=0 frame=6").find("images=4 drops=2"),
              std::string::npos);
    std::vector<uint32_t> frames;
    for (const Delivery& delivery : recorder().deliveries()) {
        frames.push_back(delivery.stamp ? delivery.stamp->frame : 999);
    }
    EXPECT_EQ(frames, (std::vector<uint32_t>{0, 1, 3, 4}));
    ASSERT_TRUE(recorder().waitForCommandCount(2));
    const auto commands = recorder().commandTexts();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], "simcam: port 0: image 2 dropped (DropEvery 3)");
    EXPECT_TRUE(recorder().hasDebugMessage({"image 5 dropped"}));
}

TEST_F(Simcam, StallAfterTwoImagesAcceptsGrabsButAnswersNoneUntilReset) {
    writeSettings({kSmallCamera + "StallAfter=2\n"});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    }
    const std::string stalled = waitForStatus(sim_, 0, "stalled=1");
    EXPECT_NE(stalled.find("images=2 drops=0 stalls=1"), std::string::npos) << stalled;
    EXPECT_EQ(recorder().deliveries().size(), 2u);
    ASSERT_TRUE(recorder().waitForCommandCount(1));
    EXPECT_EQ(recorder().commandTexts(),
              (std::vector<std::string>{"simcam: port 0: stalled after 2 images (StallAfter 2)"}));
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1) << "a stalled camera still takes triggers";
    // Lifting the stall lets the next grab through.
    ASSERT_EQ(sim_.setProperty(0, 0, "StallAfter", 0), 1);
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(3));
    EXPECT_EQ(recorder().deliveries()[2].stamp->frame, 2u);
}

TEST_F(Simcam, RefuseGrabAfterTwoRefusesTheThirdGrab) {
    writeSettings({kSmallCamera + "RefuseGrabAfter=2\n"});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    EXPECT_EQ(sim_.doCVLGrab(0, 0), 1);
    EXPECT_EQ(sim_.doCVLGrab(0, 0), 1);
    EXPECT_EQ(sim_.doCVLGrab(0, 0), 0);
    EXPECT_NE(status(0).find("refusals=1 grabs=2"), std::string::npos) << status(0);
    EXPECT_TRUE(recorder().hasDebugMessage({"grab refused after 2 grabs"}));
    EXPECT_EQ(recorder().commandTexts().back(),
              "simcam: port 0: grab refused after 2 grabs (RefuseGrabAfter 2)");
}

// The extra delays drawn for eight exposures with the given seed.
std::vector<std::string> delaysWithSeed(const SimcamEntries& sim, int seed) {
    SimcamRecorder::instance().reset(&sim);
    std::array<int, 2> size{};
    EXPECT_EQ(sim.openCVLPort(0, 0, "Cam1", size.data()), 1);
    SimcamRecorder::instance().setImageFormat(0, size[0], size[1], 1);
    sim.setCompleteCallback(0, 0, &SimcamRecorder::completeProc);
    sim.setCmdCallback(0, 0, &SimcamRecorder::cmdProc);
    EXPECT_EQ(sim.setProperty(0, 0, "RandomSeed", seed), 1);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(sim.doCVLGrab(0, 0), 1);
    }
    EXPECT_TRUE(SimcamRecorder::instance().waitForDeliveryCount(8));
    sim.closeCVLPort(0, 0);
    return SimcamRecorder::instance().commandTexts();
}

TEST_F(Simcam, SameRandomSeedGivesTheSameExtraDelays) {
    writeSettings({kSmallCamera + "RandomDelay=3\n"});
    ASSERT_EQ(start(), 1);
    const auto first = delaysWithSeed(sim_, 7);
    const auto again = delaysWithSeed(sim_, 7);
    const auto other = delaysWithSeed(sim_, 8);
    ASSERT_EQ(first.size(), 8u);
    EXPECT_NE(first[0].find("image 0 delayed by"), std::string::npos) << first[0];
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
}

TEST_F(Simcam, PropertiesHaveRangesAndRefuseValuesOutsideThem) {
    writeSettings({kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    struct Range {
        const char* name;
        int minValue, maxValue;
    };
    for (const Range& expected :
         {Range{"PixelSize", 8, 24}, Range{"Width", 64, 8192}, Range{"Height", 16, 8192},
          Range{"ExposureTime", 0, 10000000}, Range{"DropEvery", 0, 1000000},
          Range{"StallAfter", 0, 2147483647}, Range{"RandomDelay", 0, 10000},
          Range{"RandomSeed", 0, 2147483647}, Range{"RefuseGrabAfter", 0, 2147483647},
          Range{"ScrollRows", 0, 8192}, Range{"DarkOffset", 0, 255},
          Range{"UniformLevel", 0, 255}}) {
        int minValue = -1;
        int maxValue = -1;
        ASSERT_EQ(sim_.getPropertyRange(0, 0, expected.name, &minValue, &maxValue), 1)
            << expected.name;
        EXPECT_EQ(minValue, expected.minValue) << expected.name;
        EXPECT_EQ(maxValue, expected.maxValue) << expected.name;
    }
    int value = 0;
    ASSERT_EQ(sim_.getProperty(0, 0, "exposuretime", &value), 1);
    EXPECT_EQ(value, 1000) << "1 ms in the file is 1000 us";
    EXPECT_EQ(sim_.setProperty(0, 0, "PixelSize", 16), 0);
    EXPECT_TRUE(recorder().hasDebugMessage({"PixelSize 16", "(8 or 24)", "unchanged"}));
    EXPECT_EQ(sim_.setProperty(0, 0, "Width", 63), 0);
    EXPECT_EQ(sim_.setProperty(0, 0, "NoSuchThing", 1), 0);
    EXPECT_EQ(sim_.getProperty(0, 0, "NoSuchThing", &value), 0);
    EXPECT_EQ(sim_.getPropertyRange(0, 1, "Width", &value, &value), 0) << "port not open";
    ASSERT_EQ(sim_.getProperty(0, 0, "PixelSize", &value), 1);
    EXPECT_EQ(value, 8);
}

TEST_F(Simcam, NewSizeAndPixelSizeApplyFromTheNextImage) {
    writeSettings({kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    ASSERT_EQ(sim_.setProperty(0, 0, "Width", 128), 1);
    ASSERT_EQ(sim_.setProperty(0, 0, "PixelSize", 24), 1);
    recorder().setImageFormat(0, 128, 40, 3);
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    const Delivery delivery = recorder().deliveries()[0];
    ASSERT_FALSE(delivery.pixels.empty());
    EXPECT_EQ(delivery.stamp, (simcam::FrameStamp{1, 0}));
    uint8_t pixel[3];
    EXPECT_EQ(sim_.getCVLGrabRow(0, 0, pixel, 0, 128, 128), 0);
}

TEST_F(Simcam, StatusAndResetCommands) {
    writeSettings({kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(1));
    EXPECT_EQ(waitForStatus(sim_, 0, "images=1"),
              "images=1 drops=0 stalls=0 refusals=0 grabs=1 pending=0 frame=1 stalled=0");
    char cut[8];
    EXPECT_EQ(sim_.execCmd(0, 0, "STATUS", "", cut, sizeof cut), 1);
    EXPECT_STREQ(cut, "images=");
    char text[128];
    EXPECT_EQ(sim_.execCmd(0, 0, "reset", "", text, sizeof text), 1);
    EXPECT_EQ(status(0),
              "images=0 drops=0 stalls=0 refusals=0 grabs=0 pending=0 frame=0 stalled=0");
    EXPECT_EQ(sim_.execCmd(0, 0, "explode", "", text, sizeof text), 0);
    EXPECT_NE(std::string(text).find("unknown command explode"), std::string::npos);
    EXPECT_EQ(sim_.execCmd(0, 0, "status", "", nullptr, 0), 1) << "no buffer, nothing written";
}

TEST_F(Simcam, OpeningIsRefusedWithAReasonForBadRequests) {
    writeSettings({kSmallCamera, kSmallCamera});
    ASSERT_EQ(start(), 1);
    int size[2];
    EXPECT_EQ(sim_.openCVLPort(0, 0, "Nobody", size), 0);
    EXPECT_TRUE(recorder().hasDebugMessage({"no camera is named Nobody"}));
    EXPECT_EQ(sim_.openCVLPort(0, 2, "Cam1", size), 0);
    EXPECT_TRUE(recorder().hasDebugMessage({"port 2 does not exist"}));
    EXPECT_EQ(sim_.openCVLPort(1, 0, "Cam1", size), 0);
    EXPECT_EQ(sim_.openCVLPort(0, 0, "Cam1", nullptr), 0);
    ASSERT_EQ(sim_.openCVLPort(0, 0, "Cam1", size), 1);
    EXPECT_EQ(sim_.openCVLPort(0, 0, "Cam2", size), 0);
    EXPECT_TRUE(recorder().hasDebugMessage({"port 0 is already open with Cam1"}));
    EXPECT_EQ(sim_.openCVLPort(0, 1, "Cam1", size), 0);
    EXPECT_TRUE(recorder().hasDebugMessage({"camera Cam1 is already open on port 0"}));
    EXPECT_EQ(sim_.doCVLGrab(0, 1), 0);
    EXPECT_TRUE(recorder().hasDebugMessage({"doCVLGrab", "port 1 is not open"}));
    EXPECT_EQ(sim_.configureCamera(nullptr, "Cam2"), 1);
    EXPECT_EQ(sim_.configureCamera(nullptr, "Nobody"), 0);
}

TEST_F(Simcam, CallsBeforeInitializeFailQuietly) {
    int size[2];
    EXPECT_EQ(sim_.getCVLNoOfSupportedCameras(), 0);
    EXPECT_EQ(sim_.openCVLPort(0, 0, "SimCam1", size), 0);
    EXPECT_EQ(sim_.doCVLGrab(0, 0), 0);
    sim_.closeCVLPort(0, 0);
    EXPECT_EQ(sim_.finalize(), 1);
}

using SimcamConcurrency = Simcam;

TEST_F(SimcamConcurrency, CallbackMayGrabAgainAndCloseItsOwnPort) {
    writeSettings({kSmallCamera, kSmallCamera});
    ASSERT_EQ(start(), 1);
    open(0, "Cam1");
    // Each image triggers the next, from inside the callback; the fifth closes the port.
    std::atomic<int> seen{0};
    const SimcamEntries& sim = sim_;
    recorder().setOnComplete([&](int grabber, int port) {
        if (++seen < 5) {
            EXPECT_EQ(sim.doCVLGrab(grabber, port), 1);
        } else {
            sim.closeCVLPort(grabber, port);
            EXPECT_EQ(sim.finalize(), 0) << "finalize from a callback cannot join its thread";
        }
    });
    ASSERT_EQ(sim_.doCVLGrab(0, 0), 1);
    ASSERT_TRUE(recorder().waitForDeliveryCount(5));
    EXPECT_EQ(sim_.doCVLGrab(0, 0), 0) << "the port was closed";
    EXPECT_EQ(sim_.finalize(), 1);
    EXPECT_EQ(recorder().deliveries().size(), 5u);
}

// Set while a port's callbacks must no longer come; counts those that come all the same.
std::atomic<bool> portClosed{false};
std::atomic<int> lateCallbacks{0};
const SimcamEntries* busyDriver = nullptr;

// Grabs continuously from the callback, slowly, so a close often meets a running callback.
void QUILTRA_CALL busyCallback(int grabber, int port) {
    if (portClosed.load()) {
        ++lateCallbacks;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    busyDriver->doCVLGrab(grabber, port);
}

TEST_F(SimcamConcurrency, NoCallbackRunsAfterCloseOrFinalizeReturned) {
    const std::string camera = "Width=64\nHeight=16\nExposureDelay=0\n";
    writeSettings({camera, camera});
    ASSERT_EQ(start(), 1);
    busyDriver = &sim_;
    lateCallbacks = 0;
    auto startBusyPort = [&](int port, const char* name) {
        int size[2];
        ASSERT_EQ(sim_.openCVLPort(0, port, name, size), 1);
        portClosed = false;
        ASSERT_EQ(sim_.setCompleteCallback(0, port, &busyCallback), 1);
        ASSERT_EQ(sim_.doCVLGrab(0, port), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    };
    for (int round = 0; round < 20; ++round) {
        startBusyPort(round % 2, "Cam1");
        sim_.closeCVLPort(0, round % 2);
        portClosed = true;
    }
    startBusyPort(0, "Cam2");
    EXPECT_EQ(sim_.finalize(), 1);
    portClosed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(lateCallbacks.load(), 0);
}

}  // namespace
}  // namespace quiltra::test

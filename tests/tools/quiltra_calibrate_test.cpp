// quiltra-calibrate on simulated cameras with known mounting errors: the target grabbed
// through simcam's ports, the fitted models against simcam's closed-form model, the written
// fields tiling the covered width, and the refusal when a camera sees too little.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "calibrate_options.h"
#include "calibration_check.h"
#include "calibration_file.h"
#include "calibration_run.h"
#include "camera_model.h"
#include "grab_session.h"
#include "platform/private_profile.h"
#include "png_file.h"
#include "scene_check.h"
#include "test_support.h"

namespace quiltra::test {
namespace {

using calibrate::CalibrateOptions;

// One simulated camera: its nominal view's y (x is 6 mm, 0.1 mm per pixel) and its errors.
struct SimulatedCamera {
    double worldY;
    simcam::Mounting mounting;
    int stamp = 0;  // 1: the frame stamp hides a few target corners
};

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kPitch = 0.1;

// `scene`: simcam's Scene key and the keys that go with it.
std::string simcamSettings(const std::vector<SimulatedCamera>& cameras,
                           const std::string& scene = "target") {
    std::ostringstream text;
    text << "[Simcam]\nCameras=" << cameras.size()
         << "\nTargetSquare=2\nTargetRows=30\nTargetColumns=100\n";
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const simcam::Mounting& m = cameras[i].mounting;
        text << "[Camera" << i + 1 << "]\nName=Cam" << i + 1 << "\nScene=" << scene
             << "\nStamp=" << cameras[i].stamp << "\nExposureDelay=1\nWidth=" << kWidth
             << "\nHeight=" << kHeight << "\nWorldX=6\nWorldY=" << cameras[i].worldY
             << "\nWorldPitch=" << kPitch << "\nRotation=" << m.rotation
             << "\nShiftColumns=" << m.shiftColumns << "\nShiftRows=" << m.shiftRows
             << "\nScale=" << m.scale << "\nTiltColumns=" << m.tiltColumns
             << "\nTiltRows=" << m.tiltRows << "\nK1=" << m.k1 << "\nK2=" << m.k2 << "\n";
    }
    return text.str();
}

double iniNumber(const std::string& ini, const std::string& section, const char* key) {
    char text[64] = "";
    platform::getPrivateProfileString(section.c_str(), key, "", text, sizeof text, ini.c_str());
    return text[0] == '\0' ? std::nan("") : std::stod(text);
}

class QuiltraCalibrate : public ::testing::Test {
protected:
    // Runs the calibration of the cameras, grabbed through simcam's ports.
    int run(const std::vector<SimulatedCamera>& cameras) {
        writeFile(dir_.file("simcam.ini"), simcamSettings(cameras));
        options_.library = libraryPath("simcam");
        options_.systemDir = dir_.str();
        options_.grabDir = dir_.file("grabbed");
        if (options_.target.square == 0.0) {
            options_.target = {2.0, 30, 100};
        }
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            options_.grabbed.push_back({"Cam" + std::to_string(i + 1), static_cast<int>(i)});
            options_.views.push_back({6.0, cameras[i].worldY, kPitch});
        }
        std::ostringstream out;
        std::ostringstream err;
        const int code = calibrate::runCalibration(options_, out, err);
        output_ = out.str() + err.str();
        return code;
    }
    std::string ini() const { return dir_.file("Quiltra.ini"); }

    TempDir dir_;
    CalibrateOptions options_;
    std::string output_;
};

struct RoundTripCase {
    const char* name;
    std::vector<SimulatedCamera> cameras;
};

class CalibrationRoundTrip : public QuiltraCalibrate,
                             public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(CalibrationRoundTrip, FittedModelsReproduceTheTrueMappingAndTheFieldsTile) {
    const std::vector<SimulatedCamera>& cameras = GetParam().cameras;
    ASSERT_EQ(run(cameras), calibrate::kExitOk) << output_;
    const std::string scanner = "Scanner0001";
    ASSERT_EQ(iniNumber(ini(), scanner, "Cameras"), static_cast<double>(cameras.size()));
    const double top = iniNumber(ini(), scanner, "TopLeft_x");
    const double height = iniNumber(ini(), scanner, "Size_x");
    double y = iniNumber(ini(), scanner, "TopLeft_y");
    const double right = y + iniNumber(ini(), scanner, "Size_y");
    EXPECT_EQ(iniNumber(ini(), scanner, "Pitch_x"), kPitch);
    EXPECT_EQ(iniNumber(ini(), scanner, "Pitch_y"), kPitch);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const std::string section = scanner + ".Camera" + std::to_string(i + 1);
        // Each field starts where the one before ended, on the same rows, in whole pixels.
        EXPECT_EQ(iniNumber(ini(), section, "Port"), static_cast<double>(i));
        EXPECT_EQ(iniNumber(ini(), section, "Angle"), 0.0);
        EXPECT_NEAR(iniNumber(ini(), section, "TopLeft_x"), top, 1e-9);
        EXPECT_NEAR(iniNumber(ini(), section, "Size_x"), height, 1e-9);
        EXPECT_NEAR(iniNumber(ini(), section, "TopLeft_y"), y, 1e-9) << section;
        const double width = iniNumber(ini(), section, "Size_y");
        EXPECT_NEAR(width / kPitch, std::round(width / kPitch), 1e-6) << section;
        EXPECT_GT(width, 40.0) << section;

        char calibFile[256] = "";
        platform::getPrivateProfileString(section.c_str(), "CalibFile", "", calibFile,
                                          sizeof calibFile, ini().c_str());
        calibration::Model fitted;
        std::string error;
        ASSERT_TRUE(calibration::readFile(dir_.file(calibFile), fitted, error)) << error;
        EXPECT_EQ(fitted.imageColumns, kWidth);
        EXPECT_EQ(fitted.imageRows, kHeight);
        EXPECT_EQ(fitted.units, "mm");
        const calibration::Projection projection(fitted);
        const simcam::CameraModel truth(kWidth, kHeight, {6.0, cameras[i].worldY, kPitch},
                                        cameras[i].mounting);
        // The fitted mapping against the true one on a 21 x 21 grid over the whole field.
        double worst = 0.0;
        for (int a = 0; a <= 20; ++a) {
            for (int b = 0; b <= 20; ++b) {
                const double px = top + height * a / 20.0;
                const double py = y + width * b / 20.0;
                const auto expected = truth.worldToPixel({px, py});
                double u = 0.0;
                double v = 0.0;
                ASSERT_TRUE(expected && projection.toPixel(px, py, u, v));
                EXPECT_GE(expected->x, 0.0);
                EXPECT_LE(expected->x, kWidth - 1.0);
                EXPECT_GE(expected->y, 0.0);
                EXPECT_LE(expected->y, kHeight - 1.0);
                worst = std::max(worst, std::hypot(u - expected->x, v - expected->y));
            }
        }
        EXPECT_LT(worst, 0.1) << section << " fitted model off by up to " << worst << " pixels";
        y += width;
    }
    EXPECT_NEAR(y, right, 1e-9) << "the scanner's width is the sum of its fields";
    EXPECT_NE(output_.find("reprojection error rms"), std::string::npos) << output_;
}

const RoundTripCase kRoundTripCases[] = {
    {"ThreeCamerasWithEveryKindOfError",
     {{4.0, {1.5, 4.0, -3.0, 0.02, 0.02, 0.0, -0.05, 0.01}},
      {64.0, {-1.0, -5.0, 2.0, -0.01, 0.0, 0.015, 0.04, 0.0}},
      {124.0, {2.0, 0.0, 5.0, 0.0, -0.02, 0.0, -0.03, -0.01}}}},
    {"TwoCamerasStrongLensAndTilt",
     {{10.0, {-3.0, 8.0, 6.0, 0.03, -0.04, 0.03, 0.12, -0.04}},
      {68.0, {4.0, -7.0, -6.0, -0.03, 0.04, -0.02, -0.1, 0.03}}}},
    {"FrameStampOverTheTarget", {{4.0, {1.5, 4.0, -3.0, 0.02, 0.02, 0.0, -0.05, 0.01}, 1}}},
};

INSTANTIATE_TEST_SUITE_P(SimulatedRigs, CalibrationRoundTrip, ::testing::ValuesIn(kRoundTripCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The demo's rig calibrated, then looking at a flat scene through Quiltra's Scanner0001 and
// the reference resampler plug-in (bilinear): the final image against the scene rendered at
// the final pitch. Measured: mean 0.15, 99th percentile 3 grey levels; 0.87 within 3 pixels
// of the worse seam (near both images' borders, where the fitted lens is least exact)
// against 0.15 elsewhere. Held to calibrate::StitchLimits: mean 2, 99th
// percentile 8, each seam at most 1.5 x elsewhere + 1 grey level.
TEST_F(QuiltraCalibrate, CalibratedFinalImageShowsTheSceneWithoutVisibleSeams) {
    const std::vector<SimulatedCamera>& rig = kRoundTripCases[0].cameras;
    ASSERT_EQ(run(rig), calibrate::kExitOk) << output_;
    const calibrate::GreyImage scene = calibrate::demoScene(2000, 600);
    ASSERT_TRUE(
        tools::writePngFile(dir_.file("scene.png"), scene.width, scene.height, 1, scene.pixels));
    writeFile(dir_.file("simcam.ini"),
              simcamSettings(rig, "scene.png\nScenePitch=0.1\nScrollRows=0"));
    const std::string driver = libraryPath("simcam");
    const std::pair<std::string, std::pair<const char*, const char*>> keys[] = {
        {"Config", {"CameraDriver", driver.c_str()}},
        {"Scanner0001", {"Scans", "1"}},
        {"Scanner0001", {"MinScans", "0"}},
        {"Scanner0001.Camera1", {"ResampleMode", "1"}},
        {"Scanner0001.Camera2", {"ResampleMode", "1"}},
        {"Scanner0001.Camera3", {"ResampleMode", "1"}}};
    for (const auto& [section, key] : keys) {
        ASSERT_TRUE(platform::writePrivateProfileString(section.c_str(), key.first, key.second,
                                                        ini().c_str()));
    }
    grab::GrabOptions grabbing;
    grabbing.library = libraryPath("quiltra");
    grabbing.systemDir = dir_.str();
    grabbing.outDir = dir_.file("final");
    grabbing.cameras = {{"Cam1", 0}, {"Cam2", 1}, {"Cam3", 2}};
    grabbing.scanners = {{"Scanner0001", 3}};
    grabbing.quiet = true;
    grab::Console console(false);
    ASSERT_EQ(grab::GrabSession(grabbing, console).run(), grab::kExitOk);

    calibrate::GreyImage final;
    calibrate::FinalLayout layout;
    std::string reason;
    ASSERT_TRUE(
        calibrate::loadGreyImage(dir_.file("final/Scanner0001_port3_0000.png"), final, reason))
        << reason;
    ASSERT_TRUE(calibrate::readFinalLayout(ini(), "Scanner0001", layout, reason)) << reason;
    ASSERT_EQ(layout.seams.size(), 2u);
    const calibrate::GreyImage reference = calibrate::sceneAtPitch(
        scene, 0.1, layout.topLeftX, layout.topLeftY, layout.pitch, final.height, final.width);
    const calibrate::StitchError error =
        calibrate::compareWithScene(final, reference, layout.seams, 3);
    EXPECT_EQ(error.pixels, final.pixels.size());
    EXPECT_EQ(error.failures(calibrate::StitchLimits{}), "")
        << "mean " << error.mean << ", 99th percentile " << error.percentile99 << ", seams "
        << error.seamMean << ", elsewhere " << error.elsewhereMean;
}

// The comparison itself: an image that is off only along a seam, or off by a shift, fails.
TEST(StitchCheck, JudgesTheMeanThePercentileAndTheSeams) {
    const calibrate::GreyImage reference = calibrate::demoScene(120, 40);
    struct Case {
        const char* name;
        int shift;       // columns from 60 on taken this many columns further on
        int seamOffset;  // grey levels added within 3 columns of column 60 (the second seam)
        int everywhere;  // grey levels added to every other column
        const char* fails;
    };
    const Case cases[] = {
        {"identical", 0, 0, 0, ""},
        {"one grey level everywhere", 0, 0, 1, ""},
        {"two grey levels along one of two seams", 0, 2, 0, "along the worst seam"},
        {"right half shifted by 4 columns", 4, 0, 0, "99th percentile"},
        {"ten grey levels everywhere", 0, 0, 10, "mean difference"},
    };
    for (const Case& c : cases) {
        calibrate::GreyImage image = reference;
        for (int r = 0; r < image.height; ++r) {
            for (int col = 0; col < image.width; ++col) {
                const bool seam = col >= 57 && col < 63;
                const int source = col >= 60 ? std::min(col + c.shift, image.width - 1) : col;
                const int grey = reference.pixels[std::size_t(r) * image.width + source] +
                                 (seam ? c.seamOffset : c.everywhere);
                image.pixels[std::size_t(r) * image.width + col] =
                    static_cast<unsigned char>(std::clamp(grey, 0, 255));
            }
        }
        const std::string failures =
            calibrate::compareWithScene(image, reference, {20, 60}, 3).failures({});
        if (*c.fails == '\0') {
            EXPECT_EQ(failures, "") << c.name;
        } else {
            EXPECT_NE(failures.find(c.fails), std::string::npos) << c.name << ": " << failures;
        }
    }
}

struct RefusalCase {
    const char* name;
    std::vector<SimulatedCamera> cameras;
    double square;
    int exitCode;
    std::vector<const char*> said;
};

class CalibrationRefusal : public QuiltraCalibrate,
                           public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CalibrationRefusal, ExitsWithTheReasonAndWritesNothing) {
    const RefusalCase& c = GetParam();
    options_.target = {c.square, 30, 100};
    const int code = run(c.cameras);
    EXPECT_EQ(code, c.exitCode) << output_;
    for (const char* part : c.said) {
        EXPECT_NE(output_.find(part), std::string::npos) << part << " in:\n" << output_;
    }
    EXPECT_FALSE(std::filesystem::exists(ini()));
}

const RefusalCase kRefusalCases[] = {
    // The second camera looks past the target's end (y 200 mm): it sees 3 columns.
    {"ViewPastTheTargetsEnd",
     {{4.0, {}}, {193.0, {}}},
     2.0,
     calibrate::kExitTooLittle,
     {"camera 2 (", "sees too little of the target", "3 columns", "needs at least 12 corners"}},
    {"ViewBesideTheTarget",
     {{4.0, {}}, {230.0, {}}},
     2.0,
     calibrate::kExitTooLittle,
     {"camera 2 (", "finds no target", "no target corner within half a square"}},
    // 0.1 mm per pixel: 0.5 mm squares are 5 pixels wide.
    {"SquaresTooSmall",
     {{4.0, {}}},
     0.5,
     calibrate::kExitTooLittle,
     {"camera 1 (", "squares are 5 pixels wide", "they need at least 8"}},
    {"GapBetweenTheViews",
     {{4.0, {}}, {80.0, {}}},
     2.0,
     calibrate::kExitNoTiling,
     {"cannot tile the covered width at pitch 0.1 mm", "do not overlap"}},
};

INSTANTIATE_TEST_SUITE_P(Refusals, CalibrationRefusal, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QuiltraCalibrate, ImageFilesGiveTheSameCalibrationAsGrabbing) {
    ASSERT_EQ(run({{4.0, {1.0, 3.0, -2.0, 0.01, 0.01, 0.0, -0.04, 0.0}}}), calibrate::kExitOk)
        << output_;
    const std::string grabbed = readFile(dir_.file("Scanner0001.Camera1.cal"));
    std::filesystem::remove(dir_.file("Scanner0001.Camera1.cal"));
    options_.images = {dir_.file("grabbed/Cam1_port0_0000.png")};
    options_.grabbed.clear();
    options_.ports = {5};
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(calibrate::runCalibration(options_, out, err), calibrate::kExitOk) << err.str();
    EXPECT_EQ(readFile(dir_.file("Scanner0001.Camera1.cal")), grabbed);
    EXPECT_EQ(iniNumber(ini(), "Scanner0001.Camera1", "Port"), 5.0);
}

// A bad command line: exit code 2 and the reason.
TEST(QuiltraCalibrateCommandLine, RefusesBadArguments) {
    const std::vector<std::string> target = {"--square", "2", "--rows", "30", "--columns", "9"};
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Case cases[] = {
        {{"--image", "a.png", "--view", "0,0,0.1"}, calibrate::kExitOk},
        {{"--image", "a.png", "--image", "b.png", "--view", "0,0,0.1", "--view", "0,5,0.1"},
         calibrate::kExitOk},
        {{"--image", "a.png"}, calibrate::kExitUsage},   // no view
        {{"--view", "0,0,0.1"}, calibrate::kExitUsage},  // no image
        {{"--image", "a.png", "--grab", "C@0", "--view", "0,0,1"}, calibrate::kExitUsage},
        {{"--grab", "C", "--view", "0,0,1"}, calibrate::kExitUsage},       // no port
        {{"--image", "a.png", "--view", "0,0,0"}, calibrate::kExitUsage},  // pitch 0
        {{"--image", "a.png", "--view", "0,0"}, calibrate::kExitUsage},
        {{"--image", "a.png", "--image", "b.png", "--image", "c.png", "--view", "0,0,1", "--view",
          "0,5,1"},
         calibrate::kExitUsage},
        {{"--image", "a.png", "--view", "0,0,1", "--port", "0", "--port", "1"},
         calibrate::kExitUsage},
        {{"--image", "a.png", "--view", "0,0,1", "--units", "m m"}, calibrate::kExitUsage},
        {{"--image", "a.png", "--view", "0,0,1", "--distortion", "wild"}, calibrate::kExitUsage},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"quiltra-calibrate"};
        words.insert(words.end(), target.begin(), target.end());
        words.insert(words.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const calibrate::ParsedCommandLine parsed =
            calibrate::parseCommandLine(static_cast<int>(argv.size()), argv.data());
        testing::internal::GetCapturedStdout();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(parsed.exitCode.value_or(calibrate::kExitOk), c.exitCode)
            << c.arguments[0] << " ... " << c.arguments.back();
        if (c.exitCode != calibrate::kExitOk) {
            EXPECT_FALSE(said.empty());
        }
    }
}

// `check`: each file's verdict in the plug-in's terms, the camera size compared when given.
TEST(QuiltraCalibrateCheck, SaysWhatAFileHoldsOrWhyThePlugInRefusesIt) {
    const std::string good =
        "format = quiltra-calibration 1\nunits = mm\nimage = 640 480\n"
        "homography = 10 0 0 0 10 0 0 0 1\n";
    struct Case {
        const char* what;
        std::string text;  // empty: no file at all
        std::vector<std::string> camera;
        int exitCode;
        const char* said;
    };
    const Case cases[] = {
        {"usable",
         good,
         {},
         calibrate::kExitOk,
         "': world units mm, made for camera images of 640 x 480 pixels, homography, no lens"},
        {"size matches", good, {"--camera", "640,480"}, calibrate::kExitOk, "ok:"},
        {"size differs",
         good,
         {"--camera", "480,640"},
         calibrate::kExitRefused,
         "': made for camera images of 640 x 480 pixels, but the camera gives 480 x 640"},
        {"typo",
         good + "homograpy = 1\n",
         {},
         calibrate::kExitRefused,
         "line 5: unknown key 'homograpy'"},
        {"missing", "", {}, calibrate::kExitRefused, "refused:"},
        {"bad camera", good, {"--camera", "640x480"}, calibrate::kExitUsage, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string file = dir.file("camera.cal");
        if (!c.text.empty()) {
            writeFile(file, c.text);
        }
        std::vector<std::string> words = {"check"};
        words.insert(words.end(), c.camera.begin(), c.camera.end());
        words.push_back(file);
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(calibrate::runCheckCommand(static_cast<int>(argv.size()), argv.data(), out, err),
                  c.exitCode)
            << c.what;
        const std::string verdict = c.exitCode == calibrate::kExitOk ? "ok: '" : "refused: ";
        if (c.exitCode != calibrate::kExitUsage) {
            EXPECT_EQ(out.str().rfind(verdict, 0), 0u) << c.what << ": " << out.str();
        }
        EXPECT_NE(out.str().find(c.said), std::string::npos) << c.what << ": " << out.str();
        if (c.exitCode == calibrate::kExitUsage) {
            EXPECT_FALSE(err.str().empty()) << c.what;
        }
    }
}

}  // namespace
}  // namespace quiltra::test

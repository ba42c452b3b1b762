// quiltra-calibrate on simulated cameras with known mounting errors: the target grabbed
// through simcam's ports, the fitted models against simcam's closed-form model, the written
// fields tiling the covered width, and the refusal when a camera sees too little. The flat
// field: references from synthetic images of known shading, read back by the prefilter plug-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "calibrate_options.h"
#include "calibration_check.h"
#include "calibration_file.h"
#include "calibration_run.h"
#include "camera_model.h"
#include "flat_field.h"
#include "grab_session.h"
#include "platform/private_profile.h"
#include "png_file.h"
#include "prefilter.h"
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

// The segments' means of a final image of 2 bands of 3 cameras, each segment 4 x 2 pixels,
// and the largest difference within a band (the bands themselves may differ).
TEST(StitchCheck, SegmentMeansAndTheirSpreadWithinABand) {
    calibrate::GreyImage image{12, 4, std::vector<unsigned char>(48)};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 12; ++c) {
            // Band 2 is 100 brighter; camera 3 of band 1 has one pixel in eight 8 brighter.
            image.pixels[std::size_t(r) * 12 + c] =
                static_cast<unsigned char>((r >= 2 ? 150 : 50) + (r == 0 && c == 8 ? 8 : 0));
        }
    }
    const auto means = calibrate::segmentMeans(image, 2, 3);
    EXPECT_EQ(means, (std::vector<std::vector<double>>{{50, 50, 51}, {150, 150, 150}}));
    EXPECT_EQ(calibrate::largestBandSpread(means), 1.0);
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

// A camera's shading as simcam renders it, with noise of up to `noise` grey levels either way.
struct Shading {
    double gain = 0.0;
    double vignetting = 0.0;
    int darkOffset = 0;
};

constexpr int kFlatWidth = 64;
constexpr int kFlatHeight = 48;

// A kFlatWidth x kFlatHeight image of a uniform scene of grey `level` through the shading.
std::string shadedImage(const Shading& shading, int level, int channels, int noise,
                        std::mt19937& random) {
    std::string bytes;
    const double cu = (kFlatWidth - 1) / 2.0;
    const double cv = (kFlatHeight - 1) / 2.0;
    std::uniform_int_distribution<int> jitter(-noise, noise);
    for (int y = 0; y < kFlatHeight; ++y) {
        for (int x = 0; x < kFlatWidth; ++x) {
            const double radial = ((x - cu) * (x - cu) + (y - cv) * (y - cv)) / (cu * cu + cv * cv);
            for (int c = 0; c < channels; ++c) {
                const double value =
                    level * (1.0 + shading.gain) * (1.0 - shading.vignetting * radial) +
                    shading.darkOffset + jitter(random);
                bytes += static_cast<char>(std::lround(std::clamp(value, 0.0, 255.0)));
            }
        }
    }
    return bytes;
}

std::string pnm(int width, int height, int channels, const std::string& bytes) {
    return (channels == 1 ? "P5\n" : "P6\n") + std::to_string(width) + " " +
           std::to_string(height) + "\n255\n" + bytes;
}

// Writes `count` images of the shaded scene as PGM/PPM files; their paths.
std::vector<std::string> writeShadedImages(const TempDir& dir, const char* name, int count,
                                           const Shading& shading, int level, int channels) {
    std::mt19937 random(static_cast<uint32_t>(level * 7 + channels));
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(dir.file(std::string(name) + std::to_string(i) + ".pnm"));
        writeFile(files.back(), pnm(kFlatWidth, kFlatHeight, channels,
                                    shadedImage(shading, level, channels, 3, random)));
    }
    return files;
}

struct FlatFieldCase {
    const char* name;
    Shading shading;
    int channels;
    double flatLevel;  // 0: the flat's own mean
};

class FlatField : public ::testing::TestWithParam<FlatFieldCase> {};

// Eight dark and eight flat images with noise make references that the plug-in reads; an
// image of another uniform scene through the same camera then comes out even.
TEST_P(FlatField, ReferencesMakeAShadedUniformSceneEven) {
    const FlatFieldCase& c = GetParam();
    TempDir dir;
    calibrate::FlatFieldRequest request;
    request.darkImages = writeShadedImages(dir, "dark", 8, c.shading, 0, c.channels);
    request.flatImages = writeShadedImages(dir, "flat", 8, c.shading, 200, c.channels);
    request.outDir = dir.file("references");
    request.systemDir = dir.str();
    request.camera = 2;
    request.flatLevel = c.flatLevel;
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(calibrate::runFlatField(request, out, err), calibrate::kExitOk) << err.str();

    char key[256] = "";
    platform::getPrivateProfileString("Scanner0001.Camera2", "Prefilter", "", key, sizeof key,
                                      dir.file("Quiltra.ini").c_str());
    EXPECT_STREQ(key, "references/Scanner0001.Camera2.pf");
    prefilter::Image dark;
    std::string bytes;
    std::string error;
    const std::string darkFile =
        dir.file("references/Scanner0001.Camera2.dark") + (c.channels == 1 ? ".pgm" : ".ppm");
    ASSERT_TRUE(prefilter::readBytes(darkFile, 1 << 20, bytes, error)) << error;
    ASSERT_TRUE(prefilter::parseImage(bytes, dark, error)) << error;
    EXPECT_EQ(dark.channels, c.channels);
    double darkMean = 0.0;
    for (uint8_t byte : dark.pixels) {
        ASSERT_NEAR(byte, c.shading.darkOffset, 3) << "the mean of eight images, noise +-3";
        darkMean += byte / static_cast<double>(dark.pixels.size());
    }
    EXPECT_NEAR(darkMean, c.shading.darkOffset, 0.2);

    auto prefilter = prefilter::Prefilter::create(
        "f", dir.file("references/Scanner0001.Camera2.pf").c_str(), "", error);
    ASSERT_NE(prefilter, nullptr) << error;
    std::mt19937 random(5);
    std::string image = shadedImage(c.shading, 120, c.channels, 0, random);
    auto spread = [](const std::string& pixels) {
        const auto [low, high] = std::minmax_element(
            pixels.begin(), pixels.end(), [](char a, char b) { return uint8_t(a) < uint8_t(b); });
        return uint8_t(*high) - uint8_t(*low);
    };
    const int before = spread(image);
    ImageDescriptor descriptor{
        kFlatHeight, kFlatWidth, static_cast<uint8_t>(c.channels), {}, image.data()};
    ASSERT_EQ(prefilter->execute(&descriptor, &descriptor, ""), prefilter::kFiltered);
    double mean = 0.0;
    for (char byte : image) {
        mean += uint8_t(byte) / static_cast<double>(image.size());
    }
    double squares = 0.0;
    for (char byte : image) {
        squares += (uint8_t(byte) - mean) * (uint8_t(byte) - mean);
    }
    // The references' own noise (+-3 over eight images) is all that is left.
    EXPECT_LE(std::sqrt(squares / static_cast<double>(image.size())), 1.0);
    EXPECT_LE(spread(image), 8) << "before the correction " << before;
    if (c.flatLevel > 0.0) {
        EXPECT_NEAR(mean, 120.0 * c.flatLevel / 200.0, 1.0);
    }
}

const FlatFieldCase kFlatFieldCases[] = {
    {"StrongVignettingAndDarkOffset", {0.0, 0.5, 20}, 1, 0.0},
    {"GainCorrectedToTheTargetLevel", {0.25, 0.3, 8}, 1, 200.0},
    {"LowGainCorrectedToALowerLevel", {-0.3, 0.2, 4}, 1, 100.0},
    {"ColourCamera", {0.1, 0.4, 12}, 3, 200.0},
};

INSTANTIATE_TEST_SUITE_P(SyntheticCameras, FlatField, ::testing::ValuesIn(kFlatFieldCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FlatFieldRefusal {
    const char* name;
    int darkCount, flatCount;
    Shading dark, flat;  // of the dark (level 0) and flat (level 200, or flatScene) images
    int flatScene;
    int oddOne;  // 0: none; 1: the second flat image is 32 pixels narrower; 2: it is colour;
                 // 3: it is missing
    int exitCode;
    std::vector<const char*> said;
};

class FlatFieldRefusals : public ::testing::TestWithParam<FlatFieldRefusal> {};

TEST_P(FlatFieldRefusals, SayWhyAndWriteNothing) {
    const FlatFieldRefusal& c = GetParam();
    TempDir dir;
    calibrate::FlatFieldRequest request;
    request.darkImages = writeShadedImages(dir, "dark", c.darkCount, c.dark, 0, 1);
    request.flatImages = writeShadedImages(dir, "flat", c.flatCount, c.flat, c.flatScene, 1);
    if (c.oddOne == 1) {
        writeFile(request.flatImages[1],
                  pnm(32, kFlatHeight, 1, std::string(32 * kFlatHeight, 'x')));
    } else if (c.oddOne == 2) {
        writeFile(request.flatImages[1],
                  pnm(kFlatWidth, kFlatHeight, 3, std::string(kFlatWidth * kFlatHeight * 3, 'x')));
    } else if (c.oddOne == 3) {
        std::filesystem::remove(request.flatImages[1]);
    }
    request.outDir = dir.file("references");
    request.systemDir = dir.str();
    request.camera = 1;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(calibrate::runFlatField(request, out, err), c.exitCode) << err.str();
    for (const char* part : c.said) {
        EXPECT_NE(err.str().find(part), std::string::npos) << part << " in:\n" << err.str();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("references")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("Quiltra.ini")));
}

const FlatFieldRefusal kFlatFieldRefusals[] = {
    {"NoDarkImages", 0, 2, {}, {}, 200, 0, calibrate::kExitUsage, {"no dark images given"}},
    {"NoFlatImages", 2, 0, {}, {}, 200, 0, calibrate::kExitUsage, {"no flat images given"}},
    {"FlatOfAnotherSize",
     2,
     3,
     {},
     {},
     200,
     1,
     calibrate::kExitBadReferences,
     {"flat image 2 (", "is 32 x 48 grey, dark image 1 (", "64 x 48 grey", "one size and kind"}},
    {"ColourAmongGrey",
     2,
     3,
     {},
     {},
     200,
     2,
     calibrate::kExitBadReferences,
     {"flat image 2 (", "64 x 48 colour"}},
    {"MissingImage", 2, 3, {}, {}, 200, 3, calibrate::kExitGrab, {"cannot read flat image 2 ("}},
    {"FlatDarkerThanTheDark",
     2,
     2,
     {0.0, 0.0, 100},
     {},
     20,
     0,
     calibrate::kExitBadReferences,
     {"the flat images (mean 20", "are not brighter than the dark images (mean 100"}},
};

INSTANTIATE_TEST_SUITE_P(BadImages, FlatFieldRefusals, ::testing::ValuesIn(kFlatFieldRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// The command line: both kinds of image required, the level in range, --name and --out.
TEST(QuiltraCalibrateFlatFieldCommand, ParsesItsOptions) {
    TempDir dir;
    const std::string dark = writeShadedImages(dir, "dark", 1, {}, 0, 1)[0];
    const std::string flat = writeShadedImages(dir, "flat", 1, {}, 200, 1)[0];
    const std::string folder = dir.file("out");
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Case cases[] = {
        {{"--dark", dark}, calibrate::kExitUsage},
        {{"--flat", flat}, calibrate::kExitUsage},
        {{"--dark", dark, "--flat", flat, "--flat-level", "300"}, calibrate::kExitUsage},
        {{"--dark", dark, "--flat", flat, "--camera", "0"}, calibrate::kExitUsage},
        {{"--dark", dark, dark, "--flat", flat, "--out", folder, "--name", "cam"},
         calibrate::kExitOk},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"flatfield"};
        words.insert(words.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(
            calibrate::runFlatFieldCommand(static_cast<int>(argv.size()), argv.data(), out, err),
            c.exitCode)
            << words.back() << ": " << err.str();
    }
    EXPECT_NE(readFile(dir.file("out/cam.pf")).find("dark = cam.dark.pgm\nflat = cam.flat.pgm\n"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Quiltra.ini"))) << "no --camera, no key";
}

}  // namespace
}  // namespace quiltra::test

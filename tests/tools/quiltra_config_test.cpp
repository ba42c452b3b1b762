// quiltra-config check: a good calibrated scanner, then one fault at a time written into its
// Quiltra.ini, each with the problem it must give; the exit codes; the layout picture.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "config_command.h"
#include "layout_picture.h"
#include "platform/private_profile.h"
#include "test_support.h"

namespace quiltra::config_check {
namespace {

using S = Severity;

// One key written (value null: removed) into the good file.
struct Edit {
    const char* section;
    const char* key;
    const char* value;
};

struct FaultCase {
    const char* name;
    std::vector<Edit> edits;
    S severity;
    const char* section;
    const char* key;
    const char* message;  // a part of the message
    std::size_t problems = 1;
};

class ConfigCheck : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"driver.so", "resample.so", "cam1.cal", "cam2.cal", "pre.flt"}) {
            test::writeFile(dir.file(name), "x");
        }
        // Two calibrated cameras, 60 mm each side by side at 0.1 mm per pixel, two scans.
        test::writeFile(ini(),
                        "[Config]\nCameraDriver=" + dir.file("driver.so") +
                            "\nResampleDLL=" + dir.file("resample.so") +
                            "\n[Scanner0001]\nCameras=2\nScans=2\nTopLeft_x=0\n"
                            "TopLeft_y=0\nSize_x=45\nSize_y=120\nPitch_x=0.1\nPitch_y=0.1\n"
                            "[Scanner0001.Camera1]\nPort=0\nCalibFile=cam1.cal\nTopLeft_y=0\n"
                            "Size_y=60\n[Scanner0001.Camera2]\nPort=1\nCalibFile=cam2.cal\n"
                            "TopLeft_y=60\nSize_y=60\n");
        options.systemFolder = dir.str();
        options.loaderFolder = dir.str();
    }
    std::string ini() const { return dir.file("Quiltra.ini"); }
    void apply(const std::vector<Edit>& edits) {
        for (const Edit& edit : edits) {
            ASSERT_TRUE(platform::writePrivateProfileString(edit.section, edit.key, edit.value,
                                                            ini().c_str()));
        }
    }
    int run(std::vector<std::string> arguments, std::string& output) {
        arguments.insert(arguments.begin(), "quiltra-config");
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        std::ostringstream out;
        std::ostringstream err;
        const int code = runConfigCommand(static_cast<int>(argv.size()), argv.data(), out, err);
        output = out.str() + err.str();
        return code;
    }

    test::TempDir dir;
    CheckOptions options;
};

std::string describe(const CheckReport& report) {
    std::ostringstream text;
    printText(report, text);
    return text.str();
}

TEST_F(ConfigCheck, AGoodConfigurationHasNoProblemsAndItsGeometry) {
    const CheckReport report = checkConfiguration(options);
    EXPECT_TRUE(report.problems.empty()) << describe(report);
    ASSERT_EQ(report.scanners.size(), 1u);
    const ScannerGeometry& scanner = report.scanners.front();
    ASSERT_EQ(scanner.cameras.size(), 2u);
    EXPECT_EQ(scanner.cameras[1].port, 1);
    EXPECT_EQ(scanner.cameras[1].rows, 450);
    EXPECT_EQ(scanner.cameras[1].columns, 600);
    EXPECT_EQ(scanner.cameras[1].x, 600);
    EXPECT_EQ(scanner.bandHeight, 450);
    EXPECT_EQ(scanner.width, 1200);
    EXPECT_EQ(scanner.height, 900);
    EXPECT_TRUE(scanner.bytesPerPixelAssumed);
    EXPECT_EQ(scanner.bytes, 1080000.0);
    options.pixelBits = 24;
    EXPECT_EQ(checkConfiguration(options).scanners.front().bytes, 3240000.0);
}

TEST_F(ConfigCheck, EachFaultGivesItsProblem) {
    const FaultCase cases[] = {
        {"typo",
         {{"Scanner0001", "Scnas", "4"}},
         S::warning,
         "Scanner0001",
         "Scnas",
         "did you mean Scans?"},
        {"key of another section",
         {{"Scanner0001.Camera1", "Pitch_x", "0.1"}},
         S::warning,
         "Scanner0001.Camera1",
         "Pitch_x",
         "read in [ScannerNNNN] only"},
        {"unknown section",
         {{"Scaner0001", "Cameras", "1"}},
         S::warning,
         "Scaner0001",
         "",
         "did you mean [Scanner0001]?"},
        {"seventh scanner",
         {{"Scanner0007", "Cameras", "1"}},
         S::warning,
         "Scanner0007",
         "",
         "Scanner0001 to Scanner0006"},
        {"camera above Cameras",
         {{"Scanner0001.Camera3", "Port", "2"}},
         S::warning,
         "Scanner0001.Camera3",
         "",
         "not read: [Scanner0001] Cameras is 2"},
        {"calibration entry after a gap",
         {{"Scanner0001.Camera1.Calib2", "CalibFile", "cam1.cal"}},
         S::warning,
         "Scanner0001.Camera1.Calib2",
         "",
         "end at [Scanner0001.Camera1.Calib1]"},
        {"port -1",
         {{"Scanner0001.Camera2", "Port", "-1"}},
         S::error,
         "Scanner0001.Camera2",
         "Port",
         "-1 is outside 0 to 127"},
        {"port 128",
         {{"Scanner0001.Camera2", "Port", "128"}},
         S::error,
         "Scanner0001.Camera2",
         "Port",
         "128 is outside 0 to 127"},
        {"no port",
         {{"Scanner0001.Camera2", "Port", nullptr}},
         S::error,
         "Scanner0001.Camera2",
         "Port",
         "missing"},
        {"shared port",
         {{"Scanner0001.Camera2", "Port", "0"}},
         S::warning,
         "Scanner0001.Camera2",
         "Port",
         "also the port of [Scanner0001.Camera1]: both cameras place the same image"},
        {"port of another scanner",
         {{"Scanner0002.Camera1", "Port", "1"}},
         S::warning,
         "Scanner0002.Camera1",
         "Port",
         "both scanners take every image"},
        {"missing calibration file",
         {{"Scanner0001.Camera1", "CalibFile", "none.cal"}},
         S::error,
         "Scanner0001.Camera1",
         "CalibFile",
         "none.cal does not exist"},
        {"missing prefilter",
         {{"Scanner0001.Camera2", "Prefilter", "none.flt"}},
         S::error,
         "Scanner0001.Camera2",
         "Prefilter",
         "none.flt does not exist"},
        {"missing filter library",
         {{"Scanner0001.Camera2", "Prefilter", "pre.flt"},
          {"Scanner0001.Camera2", "FilterDLL", "/none/libfilter.so"}},
         S::error,
         "Scanner0001.Camera2",
         "FilterDLL",
         "/none/libfilter.so not found"},
        {"missing resampler",
         {{"Config", "ResampleDLL", "libnone.so"}},
         S::error,
         "Config",
         "ResampleDLL",
         "libnone.so not found in the folders the loader searches: "},
        {"placeholder driver",
         {{"Config", "CameraDriver", "<cameradriver.so>"}},
         S::error,
         "Config",
         "CameraDriver",
         "first start's placeholder"},
        {"no driver",
         {{"Config", "CameraDriver", nullptr}},
         S::error,
         "Config",
         "CameraDriver",
         "empty: initialize loads no camera driver"},
        {"fields overlap",
         {{"Scanner0001.Camera2", "TopLeft_y", "56"}},
         S::warning,
         "Scanner0001.Camera2",
         "TopLeft_y",
         "4 field units (40 pixels) before camera 1's field ends at 60"},
        {"gap between fields",
         {{"Scanner0001.Camera2", "TopLeft_y", "62"}},
         S::warning,
         "Scanner0001.Camera2",
         "TopLeft_y",
         "2 field units (20 pixels) after"},
        {"running corner",
         {{"Scanner0001.Camera2", "TopLeft_y", nullptr}},
         S::warning,
         "Scanner0001.Camera2",
         "TopLeft_y",
         "running corner"},
        {"differing pitch",
         {{"Scanner0001.Camera2", "Size_y", "60.04"}},
         S::warning,
         "Scanner0001.Camera2",
         "Size_y",
         "0.100067 field units per pixel along y"},
        {"shorter output",
         {{"Scanner0001.Camera2", "Size_x", "40"}},
         S::warning,
         "Scanner0001.Camera2",
         "Size_x",
         "400 rows, the band 450"},
        {"uncalibrated beside calibrated",
         {{"Scanner0001.Camera2", "CalibFile", nullptr}},
         S::warning,
         "Scanner0001.Camera2",
         "CalibFile",
         "in camera pixels"},
        {"empty field",
         {{"Scanner0001.Camera2", "Size_y", "0"}},
         S::error,
         "Scanner0001.Camera2",
         "Size_y",
         "gives no columns"},
        {"5 GB final image",
         {{"Scanner0001", "Scans", "10000"}},
         S::error,
         "Scanner0001",
         "Scans",
         "5400000000 bytes (5400.0 MB), above the 4 GiB"},
        {"2 GB final image",
         {{"Scanner0001", "Scans", "2000"}},
         S::warning,
         "Scanner0001",
         "Scans",
         "1080000000 bytes (1080.0 MB), more than 1073.7 MB"},
        {"33 cameras",
         {{"Scanner0001", "Cameras", "33"}},
         S::error,
         "Scanner0001",
         "Cameras",
         "more than 32"},
        {"no cameras",
         {{"Scanner0001", "Cameras", "0"}},
         S::warning,
         "Scanner0001",
         "Cameras",
         "final image is 0 x 0",
         3},  // and both camera sections are not read
        {"negative scans",
         {{"Scanner0001", "Scans", "-1"}},
         S::error,
         "Scanner0001",
         "Scans",
         "negative scan count"},
        {"overlap beyond scans",
         {{"Scanner0001", "Overlap", "5"}},
         S::warning,
         "Scanner0001",
         "Overlap",
         "modulo Scans (2): 1 bands"},
        {"zero pitch",
         {{"Scanner0001", "Pitch_x", "0"}},
         S::error,
         "Scanner0001",
         "Pitch_x",
         "must be a positive number"},
        {"pitch not a number",
         {{"Scanner0001", "Pitch_y", "fine"}},
         S::error,
         "Scanner0001",
         "Pitch_y",
         "must be a positive number"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        apply(c.edits);
        const CheckReport report = checkConfiguration(options);
        EXPECT_EQ(report.problems.size(), c.problems) << describe(report);
        const auto found = std::find_if(
            report.problems.begin(), report.problems.end(), [&c](const Problem& problem) {
                return problem.severity == c.severity && problem.section == c.section &&
                       problem.key == c.key && problem.message.find(c.message) != std::string::npos;
            });
        EXPECT_NE(found, report.problems.end()) << describe(report);
        EXPECT_EQ(report.exitCode(), c.severity == S::error ? 1 : 0);
    }
}

TEST_F(ConfigCheck, RepeatedNamesAndKeysBeforeTheFirstSectionAreReported) {
    test::writeFile(ini(), "Verbose=1\n" + test::readFile(ini()) +
                               "[scanner0001]\nCameras=3\n[Scanner0001.Camera1]\nPort=5\n");
    std::string text = test::readFile(ini());
    text.replace(text.find("Scans=2"), 7, "Scans=2\nscans=3");
    test::writeFile(ini(), text);
    const CheckReport report = checkConfiguration(options);
    EXPECT_EQ(describe(report), report.file +
                                    ": warning: (before the first section) Verbose: stands before "
                                    "the first section header, where Quiltra reads nothing: move "
                                    "it into its section\n" +
                                    report.file +
                                    ": warning: [Scanner0001] scans: the key appears again in "
                                    "the section: only the first is read; remove the other\n" +
                                    report.file +
                                    ": warning: [scanner0001]: the section appears again: of two "
                                    "sections of one name only the first is read; merge them "
                                    "into the first\n" +
                                    report.file +
                                    ": warning: [Scanner0001.Camera1]: the section appears again: "
                                    "of two sections of one name only the first is read; merge "
                                    "them into the first\n"
                                    "Scanner0001: 2 cameras\n"
                                    "  [Scanner0001.Camera1] port 0: 450 rows x 600 columns from "
                                    "column 0\n"
                                    "  [Scanner0001.Camera2] port 1: 450 rows x 600 columns from "
                                    "column 600\n"
                                    "  band 450 rows, 2 scans (0 kept by Overlap): final image "
                                    "1200 x 900 pixels, 1 byte per pixel (assumed: the driver's "
                                    "PixelSize is not known; give --pixel-size), 1080000 bytes "
                                    "(1.1 MB)\n" +
                                    report.file + ": 0 errors, 4 warnings\n");
}

TEST_F(ConfigCheck, ExitCodesAndJson) {
    std::string output;
    EXPECT_EQ(run({"check", dir.str()}, output), kExitOk) << output;
    EXPECT_EQ(run({"check", dir.str(), "--json"}, output), kExitOk) << output;
    EXPECT_NE(output.find("\"errors\": 0"), std::string::npos) << output;
    EXPECT_NE(output.find("\"width\": 1200"), std::string::npos) << output;
    apply({{"Scanner0001.Camera1", "Port", "-1"}});
    EXPECT_EQ(run({"check", dir.str()}, output), kExitErrors) << output;
    EXPECT_NE(output.find(ini() + ": error: [Scanner0001.Camera1] Port: -1 is outside"),
              std::string::npos)
        << output;
    EXPECT_EQ(run({"check"}, output), kExitUsage) << output;
    EXPECT_EQ(run({}, output), kExitUsage) << output;
    EXPECT_EQ(run({"check", dir.str(), "--pixel-size", "0"}, output), kExitUsage) << output;
    EXPECT_EQ(run({"check", dir.file("none")}, output), kExitErrors) << output;
    EXPECT_NE(output.find("does not exist"), std::string::npos) << output;
}

TEST_F(ConfigCheck, PictureShowsSegmentsKeptBandsAndRepeatedStrips) {
    apply({{"Scanner0001", "Overlap", "1"}, {"Scanner0001.Camera2", "TopLeft_y", "56"}});
    const CheckReport report = checkConfiguration(options);
    const ScannerGeometry& scanner = report.scanners.front();
    ASSERT_EQ(scanner.cameras[1].fieldOverlap, 40);
    const Picture picture = drawLayout(report.scanners);
    const double scale = layoutScale(scanner);  // 1200 x 900 fits 1600 x 1600: 4/3
    EXPECT_DOUBLE_EQ(scale, 1600.0 / 1200.0);
    EXPECT_EQ(picture.width, 1600 + 2 * kPictureMargin);
    EXPECT_EQ(picture.height, kPictureMargin + kTitleHeight + 1200 + kPictureMargin);
    const auto at = [&](double x, double y) {
        return picture.at(kPictureMargin + static_cast<int>(x * scale),
                          kPictureMargin + kTitleHeight + static_cast<int>(y * scale));
    };
    EXPECT_EQ(at(300, 800), cameraColour(0));         // camera 1, scan 2
    EXPECT_EQ(at(1000, 800), cameraColour(1));        // camera 2, scan 2
    EXPECT_EQ(at(1000, 300), keptBandColour(1));      // camera 2, scan 1: kept by Overlap
    EXPECT_EQ(at(620, 800), repeatedStripColour(1));  // the 40 columns camera 1 covers too
    EXPECT_EQ(at(650, 800), cameraColour(1));

    std::string output;
    const std::string path = dir.file("layout.png");
    EXPECT_EQ(run({"check", dir.str(), "--picture", path}, output), kExitOk) << output;
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(width, picture.width);
    EXPECT_EQ(height, picture.height);
    stbi_image_free(pixels);
    EXPECT_EQ(run({"check", dir.str(), "--picture", dir.file("none/layout.png")}, output),
              kExitUsage);
}

}  // namespace
}  // namespace quiltra::config_check

#include "config/scanner_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/camera_port_lookup.h"
#include "config_test_support.h"
#include "fake_plugin.h"
#include "scanner/scanner.h"

namespace quiltra {
namespace {

using test::joined;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A port table as construction sees it: real cameras on the listed ports.
class FakePorts : public CameraPortLookup {
public:
    CameraPort lookup(int32_t port) const override {
        auto it = ports.find(port);
        return it != ports.end() ? it->second : CameraPort{};
    }
    void camera(int port, int width, int height) { ports[port] = {true, false, width, height}; }
    std::map<int, CameraPort> ports;
};

class BuildScanner : public ::testing::Test, public test::ConfigFolder {
protected:
    BuildScanner() {
        binding.setVerbose(1);
        for (int port = 1; port <= 8; ++port) {
            ports.camera(port, 640, 480);
        }
    }

    // Writes the file: [Config] naming the fake plug-ins, then `rest`.
    void configure(const std::string& rest) {
        test::writeFile(file, "[Config]\nFilterDLL=" + prefilter.path() +
                                  "\nResampleDLL=" + resampler.path() + "\n" + rest);
    }

    // Builds a scanner named `name` open on port 20.
    bool build(const char* name = "Scanner0001") {
        scanner = std::make_unique<Scanner>(&binding, name, 0, 20);
        return buildScanner(*scanner, name, ports);
    }

    std::vector<std::string> resamplerCalls(const char* prefix) const {
        std::vector<std::string> calls;
        for (const auto& call : resampler.calls()) {
            if (call.rfind(prefix, 0) == 0) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    // A prefilter file that exists in the system folder.
    std::string prefilterFile(const std::string& name) {
        test::writeFile(dir.file(name), "filter");
        return name;
    }

    FakePorts ports;
    test::FakePlugin prefilter{"fake_prefilter"};
    test::FakePlugin resampler{"fake_resampler"};
    std::unique_ptr<Scanner> scanner;
};

TEST_F(BuildScanner, ZeroCamerasBuildsAScannerWithoutImage) {
    configure("[Scanner0001]\nCameras=0\n");
    EXPECT_TRUE(build());
    std::lock_guard guard(scanner->lock);
    EXPECT_TRUE(scanner->cameras.empty());
    EXPECT_EQ(scanner->width, 0);
    EXPECT_EQ(scanner->height, 0);
    EXPECT_EQ(scanner->image, nullptr);
    EXPECT_THAT(test::takeMessages(), IsEmpty());
}

TEST_F(BuildScanner, TwoCamerasShareTheScannerFieldAndRunTheCornerAlongY) {
    configure(
        "[Scanner0001]\nCameras=2\n[Scanner0001.Camera1]\nPort=1\n"
        "[Scanner0001.Camera2]\nPort=2\n");
    ASSERT_TRUE(build());
    EXPECT_THAT(resamplerCalls("CreateResampler"),
                ElementsAre("CreateResampler calib= in=480x640 centre=50,30 size=100,60 "
                            "angle=0 out=100x60 -> 1",
                            "CreateResampler calib= in=480x640 centre=50,670 size=100,60 "
                            "angle=0 out=100x60 -> 2"));
    // No prefilter named: no library loaded for it, one empty entry per camera.
    EXPECT_THAT(prefilter.calls(), IsEmpty());
    std::lock_guard guard(scanner->lock);
    ASSERT_EQ(scanner->cameras.size(), 2u);
    for (const auto& camera : scanner->cameras) {
        EXPECT_EQ(camera->filters.size(), 1u);
        EXPECT_EQ(camera->filters[0], nullptr);
        EXPECT_EQ(camera->resamplers.size(), 1u);
        EXPECT_TRUE(camera->threaded);
        EXPECT_EQ(camera->width, 640);
        EXPECT_EQ(camera->height, 480);
    }
    EXPECT_EQ(scanner->width, 120);
    EXPECT_EQ(scanner->height, 100);
    EXPECT_EQ(scanner->imageSize, 12000u);
    EXPECT_EQ(scanner->passThru, (std::vector<int32_t>{1, 1}));
}

TEST_F(BuildScanner, OutputSizeRoundsHalvesAwayFromZero) {
    const struct {
        const char* size;
        const char* pitch;
        const char* expected;
    } cases[] = {
        {"Size_x=100.5\nSize_y=2.5\n", "", "out=101x3"},
        {"Size_x=100.4\nSize_y=-2.5\n", "", "out=100x-3"},
        {"Size_x=10\nSize_y=10\n", "Pitch_x=4\nPitch_y=3\n", "out=3x3"},
        {"Size_x=1e20\nSize_y=0\n", "", "out=2147483647x0"},
    };
    for (const auto& c : cases) {
        resampler.reset();
        configure(std::string("[Scanner0001]\n") + c.pitch + "[Scanner0001.Camera1]\nPort=1\n" +
                  c.size);
        build();
        ASSERT_EQ(resamplerCalls("CreateResampler").size(), 1u);
        EXPECT_THAT(resamplerCalls("CreateResampler")[0], HasSubstr(c.expected)) << c.size;
    }
}

TEST_F(BuildScanner, ResampleModeRunsFromEntryToEntryAcrossCameras) {
    configure(
        "ResampleMode=5\n[Scanner0001]\nResampleMode=2\nCameras=3\n"
        "[Scanner0001.Camera1]\nPort=1\nResampleMode=3\nCalibFile=a.cal\n"
        "[Scanner0001.Camera1.Calib1]\nCalibFile=b.cal\nResampleMode=4\n"
        "[Scanner0001.Camera2]\nPort=2\n[Scanner0001.Camera3]\nPort=3\n");
    ASSERT_TRUE(build());
    EXPECT_THAT(resamplerCalls("SetResampleMode"),
                ElementsAre("SetResampleMode 1 3", "SetResampleMode 2 4", "SetResampleMode 3 4",
                            "SetResampleMode 4 4"));
    resampler.reset();
    configure("ResampleMode=5\n[Scanner0001]\n[Scanner0001.Camera1]\nPort=1\n");
    ASSERT_TRUE(build());
    EXPECT_THAT(resamplerCalls("SetResampleMode"), ElementsAre("SetResampleMode 1 5"));
}

TEST_F(BuildScanner, CornerRunsThroughCalibrationSectionsAndCamerasAddTheirWidth) {
    ports.camera(2, 320, 240);
    configure(
        "[Scanner0001]\nCameras=2\nTopLeft_x=1\nTopLeft_y=2\nSize_x=10\nSize_y=20\n"
        "[Scanner0001.Camera1]\nPort=2\nCalibFile=a.cal\n"
        "[Scanner0001.Camera1.Calib1]\nCalibFile=b.cal\nTopLeft_y=100\nSize_y=4\n"
        "[Scanner0001.Camera2]\nPort=1\n");
    ASSERT_TRUE(build());
    const std::string sep(1, platform::kPathSeparator);
    EXPECT_THAT(resamplerCalls("CreateResampler"),
                ElementsAre("CreateResampler calib=" + joined(dir.str(), "a.cal") +
                                " in=240x320 centre=6,7 size=10,10 angle=0 out=10x10 -> 1",
                            "CreateResampler calib=" + joined(dir.str(), "b.cal") +
                                " in=240x320 centre=6,102 size=10,4 angle=0 out=10x4 -> 2",
                            // Corner y: 100 from Calib1 plus camera 1's width 320.
                            "CreateResampler calib= in=480x640 centre=6,425 size=10,10 angle=0 "
                            "out=10x10 -> 3"));
}

TEST_F(BuildScanner, CalibrationListEndsAtTheFirstSectionWithoutPrefilterOrCalibFile) {
    configure(
        "[Scanner0001]\n[Scanner0001.Camera1]\nPort=1\nCalibFile=a.cal\nAngle=0.5\n"
        "[Scanner0001.Camera1.Calib1]\nCalibFile=b.cal\nResampleDLL=no-such-library\n"
        "[Scanner0001.Camera1.Calib2]\nAngle=2\n"
        "[Scanner0001.Camera1.Calib3]\nCalibFile=c.cal\n");
    ASSERT_TRUE(build());
    const ScanCamera& camera = *scanner->cameras.at(0);
    ASSERT_EQ(camera.resamplers.size(), 2u);
    EXPECT_EQ(camera.filters.size(), 2u);
    EXPECT_EQ(camera.resamplers[0]->geometry().angle, 0.5f);
    EXPECT_EQ(camera.resamplers[1]->libraryPath(), "no-such-library");
    EXPECT_FALSE(camera.resamplers[1]->loaded());
    EXPECT_EQ(camera.resamplers[1]->calibFile(), joined(dir.str(), "b.cal"));
}

TEST_F(BuildScanner, PrefilterOfACalibrationSectionGivesAnEmptyThenAFilledEntry) {
    configure(
        "[Scanner0001]\n[Scanner0001.Camera1]\nPort=3\n"
        "[Scanner0001.Camera1.Calib1]\nPrefilter=" +
        prefilterFile("p.flt") + "\nPrefilterOptions=0123456789012345678901234567890123456789\n");
    ASSERT_TRUE(build());
    const ScanCamera& camera = *scanner->cameras.at(0);
    ASSERT_EQ(camera.filters.size(), 2u);
    EXPECT_EQ(camera.filters[0], nullptr);
    ASSERT_NE(camera.filters[1], nullptr);
    EXPECT_THAT(prefilter.calls(),
                ElementsAre("CreateFilter type=f file=" + joined(dir.str(), "p.flt") +
                            " options=0123456789012345678901234567890 -> 1"));
    EXPECT_EQ(camera.resamplers.size(), 2u);
}

TEST_F(BuildScanner, PrefilterLibraryComesFromTheSectionWhenTheFileExists) {
    test::FakePlugin other("fake_prefilter_nocreate");
    configure("[Scanner0001]\nCameras=2\n[Scanner0001.Camera1]\nPort=1\nPrefilter=" +
              prefilterFile("a.flt") + "\nFilterDLL=" + other.path() +
              "\n[Scanner0001.Camera2]\nPort=2\nPrefilter=b.flt\n");
    ASSERT_TRUE(build());
    EXPECT_EQ(scanner->cameras[0]->filters[0]->libraryPath(), other.path());
    EXPECT_EQ(scanner->cameras[0]->filters[0]->filterHandle(), 0u);
    // b.flt does not exist: reported, an empty entry, and the camera still counts.
    EXPECT_EQ(scanner->cameras[1]->filters[0], nullptr);
    EXPECT_THAT(test::takeMessages(), ElementsAre("Scanner0001: missing prefilter " +
                                                  joined(dir.str(), "b.flt") + " for port 2\n"));
    EXPECT_THAT(prefilter.calls(), IsEmpty());
}

TEST_F(BuildScanner, InvalidPortsAreEachReportedAndFailTheBuild) {
    ports.ports[6] = {true, true, 640, 480};  // another scanner
    configure(
        "[Scanner0001]\nCameras=6\n[Scanner0001.Camera1]\nPort=1\n"
        "[Scanner0001.Camera3]\nPort=128\n[Scanner0001.Camera4]\nPort=20\n"
        "[Scanner0001.Camera5]\nPort=50\n[Scanner0001.Camera6]\nPort=6\n");
    EXPECT_FALSE(build());
    const std::string in = " in " + file + "\n";
    EXPECT_THAT(test::takeMessages(), ElementsAre("Scanner0001: invalid port for port -1" + in,
                                                  "Scanner0001: invalid port for port 128" + in,
                                                  "Scanner0001: invalid driver for port 20" + in,
                                                  "Scanner0001: invalid driver for port 50" + in,
                                                  "Scanner0001: invalid driver for port 6" + in));
    EXPECT_EQ(scanner->cameras.size(), 1u);
    EXPECT_EQ(resamplerCalls("CreateResampler").size(), 1u);
}

TEST_F(BuildScanner, MessagesFollowTheVerboseFlag) {
    binding.setVerbose(0);
    configure("[Scanner0001]\n[Scanner0001.Camera1]\nPort=77\n");
    EXPECT_FALSE(build());
    EXPECT_THAT(test::takeMessages(), IsEmpty());
}

TEST_F(BuildScanner, TwoCamerasOnOnePortAreBothBuilt) {
    configure(
        "[Scanner0001]\nCameras=2\n[Scanner0001.Camera1]\nPort=4\n"
        "[Scanner0001.Camera2]\nPort=4\n");
    EXPECT_TRUE(build());
    EXPECT_EQ(scanner->cameras.size(), 2u);
}

TEST_F(BuildScanner, NegativeCamerasReadsNoSectionAndFails) {
    configure("[Scanner0001]\nCameras=-1\n[Scanner0001.Camera1]\nPort=1\n");
    EXPECT_FALSE(build());
    EXPECT_TRUE(scanner->cameras.empty());
    EXPECT_THAT(test::takeMessages(), IsEmpty());
}

TEST_F(BuildScanner, SettingsComeFromTheScannerSection) {
    configure(
        "[Scanner0002]\nCameras=1\nScans=4\nOverlap=5\nActiveGrabTimeout=250\n"
        "MinScans=-3\nPassThru=2,-1\nActive=9\nThreaded=0\n"
        "[Scanner0002.Camera1]\nPort=1\n");
    ASSERT_TRUE(build("Scanner0002"));
    std::lock_guard guard(scanner->lock);
    EXPECT_EQ(scanner->scanCount, 4u);
    EXPECT_EQ(scanner->overlap, 1u);
    EXPECT_EQ(scanner->activeGrabTimeout, 250u);
    EXPECT_EQ(scanner->minScans, -3);
    EXPECT_EQ(scanner->passThru, (std::vector<int32_t>{2, 4}));
    EXPECT_TRUE(scanner->active);
    EXPECT_FALSE(scanner->cameras[0]->threaded);
    EXPECT_EQ(scanner->height, 400);
    EXPECT_EQ(scanner->width, 120);
    EXPECT_EQ(scanner->imageSize, 400u * 120u);
}

TEST_F(BuildScanner, OverlapIsReducedAsUnsignedModuloTheScanCount) {
    const struct {
        const char* keys;
        uint32_t overlap;
    } cases[] = {{"Scans=4\nOverlap=-1\n", 3},
                 {"Scans=3\nOverlap=-1\n", 0},
                 {"Scans=0\nOverlap=7\n", 0},
                 {"Overlap=2\n", 0}};
    for (const auto& c : cases) {
        configure(std::string("[Scanner0001]\nCameras=0\n") + c.keys);
        ASSERT_TRUE(build()) << c.keys;
        std::lock_guard guard(scanner->lock);
        EXPECT_EQ(scanner->overlap, c.overlap) << c.keys;
    }
}

TEST_F(BuildScanner, ConfigurationsOutsideTheDataModelAreRefusedByKey) {
    configure("[Scanner0001]\nCameras=33\nScans=-2\nPitch_x=0\nPitch_y=-1\n");
    EXPECT_FALSE(build());
    const std::string in = " in " + file + ": ";
    EXPECT_THAT(
        test::takeMessages(),
        ElementsAre("Scanner0001: invalid [Scanner0001] Cameras 33" + in + "at most 32 cameras\n",
                    "Scanner0001: invalid [Scanner0001] Scans -2" + in + "negative scan count\n",
                    "Scanner0001: invalid [Scanner0001] Pitch_x 0" + in +
                        "pitch must be a positive number\n",
                    "Scanner0001: invalid [Scanner0001] Pitch_y -1" + in +
                        "pitch must be a positive number\n"));
    EXPECT_TRUE(scanner->cameras.empty());

    configure("[Scanner0001]\nCameras=0\nPitch_y=1e999\n");
    EXPECT_FALSE(build());
    EXPECT_THAT(test::takeMessages(), ElementsAre(HasSubstr("Pitch_y inf")));
    EXPECT_THAT(resampler.calls(), IsEmpty());
}

TEST_F(BuildScanner, ThirtyTwoCamerasFit) {
    std::string text = "[Scanner0001]\nCameras=32\nSize_y=32\n";
    for (int n = 1; n <= 32; ++n) {
        text += "[Scanner0001.Camera" + std::to_string(n) + "]\nPort=1\n";
    }
    configure(text);
    EXPECT_TRUE(build());
    EXPECT_EQ(scanner->cameras.size(), 32u);
}

}  // namespace
}  // namespace quiltra

#include "config/configuration_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "config_test_support.h"
#include "platform/private_profile.h"
#include "scanner/scanner.h"

namespace quiltra {
namespace {

using test::joined;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::string readValue(const char* section, const char* key, const std::string& file) {
    char buffer[4096];
    platform::getPrivateProfileString(section, key, "<missing>", buffer, sizeof buffer,
                                      file.c_str());
    return buffer;
}

class ConfigurationFile : public ::testing::Test, public test::ConfigFolder {};

TEST(ConfigurationFilePath, SeparatorIsAlwaysInsertedAndTheBufferCuts) {
    const std::string sep(1, platform::kPathSeparator);
    EXPECT_EQ(configFilePath("host", 1024), "host" + sep + "Quiltra.ini");
    EXPECT_EQ(configFilePath("host" + sep, 1024), "host" + sep + sep + "Quiltra.ini");
    EXPECT_EQ(configFilePath("host", 8), "host" + sep + "Qu");
}

TEST_F(ConfigurationFile, ReadPointTakesNumbersAndDefaults) {
    test::writeFile(file, "[S]\nA_x=2.5e1\nA_y=abc\nB_y= -3.5 \n");
    const Point a = readPoint(platform::ProfileReader(file.c_str()), "S", "A", 7.0f, 8.0f);
    EXPECT_EQ(a.x, 25.0f);
    EXPECT_EQ(a.y, 0.0f);
    const Point b = readPoint(platform::ProfileReader(file.c_str()), "S", "B", 0.1f, 8.0f);
    EXPECT_EQ(b.x, 0.1f);
    EXPECT_EQ(b.y, -3.5f);
}

TEST_F(ConfigurationFile, WritePointStoresSinglePrecisionInShortestGForm) {
    test::writeFile(file,
                    "[S]\nSize_x=100.0000001\nPitch_x=0.123456789\nBig_x=1234567\nBig_y=1e-7\n");
    writePoint("S", "Size", file.c_str(), 100.0f, 120.0f);
    writePoint("S", "Pitch", file.c_str(), 1.0f, 1.0f);
    writePoint("S", "Big", file.c_str(), 0.0f, 0.0f);
    EXPECT_EQ(readValue("S", "Size_x", file), "100");
    EXPECT_EQ(readValue("S", "Size_y", file), "120");
    EXPECT_EQ(readValue("S", "Pitch_x", file), "0.123457");
    EXPECT_EQ(readValue("S", "Pitch_y", file), "1");
    EXPECT_EQ(readValue("S", "Big_x", file), "1.23457e+06");
    EXPECT_EQ(readValue("S", "Big_y", file), "1e-07");
}

TEST_F(ConfigurationFile, PointsIgnoreTheHostsLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_ALL, "German_Germany.1252") == nullptr) {
        GTEST_SKIP() << "no German locale here";
    }
    test::writeFile(file, "[S]\nPitch_x=0.123456789\nPitch_y=2.5\n");
    const Point pitch = readPoint(platform::ProfileReader(file.c_str()), "S", "Pitch", 1.0f, 1.0f);
    writePoint("S", "Pitch", file.c_str(), 1.0f, 1.0f);
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(pitch.y, 2.5f);
    EXPECT_EQ(readValue("S", "Pitch_x", file), "0.123457");
}

TEST_F(ConfigurationFile, ReadPathResolvesAgainstTheSystemFolder) {
    const std::string folder = dir.str();
    const std::string sep(1, platform::kPathSeparator);
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    const std::string absolute = sep + "abs" + sep + "a.txt";
    test::writeFile(file, "[S]\nRel=cal" + sep + "a.txt\nDot=." + sep + "cal" + sep +
                              "a.txt\nUp=.." + sep + "a.txt\nAbs=" + absolute + "\nEmpty=\n");
    const struct {
        const char* key;
        std::string folder;
        std::string expected;
    } cases[] = {
        {"Rel", folder, joined(folder, "cal" + sep + "a.txt")},
        {"Rel", folder + sep, joined(folder, "cal" + sep + "a.txt")},
        {"Dot", folder, joined(folder, "cal" + sep + "a.txt")},
        {"Up", folder, joined(parent, "a.txt")},
        {"Abs", folder, absolute},
        {"Empty", folder, ""},
        {"Missing", folder, ""},
    };
    for (const auto& c : cases) {
        char buffer[kPathSize] = "garbage";
        EXPECT_EQ(
            readPath(platform::ProfileReader(file.c_str()), "S", c.key, c.folder.c_str(), buffer),
            buffer);
        EXPECT_EQ(std::string(buffer), c.expected) << c.key << " in " << c.folder;
    }
    if (platform::kPathSeparator == '\\') {
        test::writeFile(file, "[S]\nDrive=D:a.txt\n");
        char buffer[kPathSize];
        EXPECT_STREQ(
            readPath(platform::ProfileReader(file.c_str()), "S", "Drive", folder.c_str(), buffer),
            "D:a.txt");
    }
}

TEST_F(ConfigurationFile, ReadPathCutsAtItsBuffer) {
    const std::string longName(1500, 'n');
    test::writeFile(file, "[S]\nLong=" + longName + "\n");
    char buffer[kPathSize];
    readPath(platform::ProfileReader(file.c_str()), "S", "Long", dir.str().c_str(), buffer);
    EXPECT_EQ(std::string(buffer).size(), kPathSize - 1);
}

// The writer's output for a scanner without cameras on an empty file, in write order.
std::vector<std::string> emptyScannerContent(const std::string& cameraDriver) {
    return test::firstStartLines(cameraDriver, kDefaultFilterLibrary, kDefaultResampleLibrary);
}

TEST_F(ConfigurationFile, WriterFillsAnEmptyFileWithEveryDefaultInOrder) {
    Scanner scanner(&binding, "Scanner0001", 0, 0);
    EXPECT_EQ(writeConfiguration(scanner, "Scanner0001"), 1);
    EXPECT_THAT(lines(), ElementsAreArray(emptyScannerContent("")));
}

TEST_F(ConfigurationFile, WriterKeepsKeptKeysInPlaceAndSetsTheScannersValues) {
    test::writeFile(file,
                    "[Config]\nVerbose=1\nCameraDriver=drv\n"
                    "[Scanner0002]\nThreaded=yes\nScans=9\nPassThru=0\nScale_x=2\nActive=7\n"
                    "Cameras=5\nUser=kept\n"
                    "[Scanner0002.Camera1]\nPort=1\nAngle=3\nCalibFile=c1.cal\n"
                    "[Scanner0002.Camera2]\nPrefilter=p2.flt\n"
                    "[Scanner0002.Camera3]\nPort=9\nPrefilter=p3.flt\n"
                    "[Scanner0002.Camera1.Calib1]\nCalibFile=x.cal\nPort=4\n");
    Scanner scanner(&binding, "Scanner0002", 0, 7);
    scanner.addCamera(3, 1, 1);
    scanner.addCamera(5, 1, 1);
    scanner.setScanCount(4);
    {
        std::lock_guard guard(scanner.lock);
        scanner.overlap = 3;
        scanner.activeGrabTimeout = 0xFFFFFFFFu;  // read from -1
        scanner.minScans = -2;
        scanner.active = true;
    }
    EXPECT_EQ(writeConfiguration(scanner, "Scanner0002"), 1);
    EXPECT_THAT(
        lines(),
        ElementsAre("[Config]", "Verbose=1", "CameraDriver=drv",
                    std::string("FilterDLL=") + kDefaultFilterLibrary,
                    std::string("ResampleDLL=") + kDefaultResampleLibrary, "ResampleMode=1",
                    "[Scanner0002]", "Threaded=0", "Scans=4", "PassThru=0", "Scale_x=2", "Active=1",
                    "Cameras=2", "User=kept", "Overlap=3", "ActiveGrabTimeout=-1", "MinScans=-2",
                    "Scale_y=1", "TopLeft_x=0", "TopLeft_y=0", "Size_x=100", "Size_y=120",
                    "Pitch_x=1", "Pitch_y=1", "[Scanner0002.Camera1]", "Port=3", "Angle=3",
                    "CalibFile=c1.cal", "Prefilter=", "[Scanner0002.Camera2]", "Prefilter=p2.flt",
                    "Port=5", "CalibFile=", "[Scanner0002.Camera3]", "Port=9", "Prefilter=p3.flt",
                    "[Scanner0002.Camera1.Calib1]", "CalibFile=x.cal", "Port=4"));
}

TEST_F(ConfigurationFile, WriterWithoutCamerasKeepsCameraOnesPort) {
    test::writeFile(file, "[S]\n[S.Camera1]\nCalibFile=c.cal\nPort=12\nPrefilter=p.flt\n");
    Scanner scanner(&binding, "S", 0, 0);
    writeConfiguration(scanner, "S");
    EXPECT_EQ(readValue("S.Camera1", "Port", file), "12");
    EXPECT_EQ(readValue("S.Camera1", "Prefilter", file), "p.flt");
    EXPECT_EQ(readValue("S.Camera1", "CalibFile", file), "c.cal");
}

TEST_F(ConfigurationFile, WriterKeepsTextsLongerThanItsReadBufferWhole) {
    const std::string driver(600, 'd');
    const std::string passThru = "1" + std::string(700, ',');
    const std::string prefilter(1500, 'p');
    test::writeFile(file, "[Config]\nCameraDriver=" + driver + "\n[S]\nPassThru=" + passThru +
                              "\n[S.Camera1]\nPrefilter=" + prefilter + "\n");
    Scanner scanner(&binding, "S", 0, 0);
    scanner.addCamera(1, 1, 1);
    writeConfiguration(scanner, "S");
    EXPECT_EQ(readValue("Config", "CameraDriver", file), driver);
    EXPECT_EQ(readValue("S", "PassThru", file), passThru);
    EXPECT_EQ(readValue("S.Camera1", "Prefilter", file), prefilter);
}

TEST_F(ConfigurationFile, WriterLeavesOtherScannersAlone) {
    test::writeFile(file, "[Scanner0003]\nScans=7\nPitch_x=0.123456789\n");
    Scanner scanner(&binding, "Scanner0001", 0, 0);
    writeConfiguration(scanner, "Scanner0001");
    EXPECT_EQ(readValue("Scanner0003", "Scans", file), "7");
    EXPECT_EQ(readValue("Scanner0003", "Pitch_x", file), "0.123456789");
}

#if !defined(_WIN32)
// Starts the crash writer on `folder` for one write of scanner `step`, or with `loop` for
// its endless loop from that scanner: then returns once the writer signalled that the loop
// starts.
pid_t startWriter(const std::string& folder, const char* step, bool loop = false) {
    int channel[2];
    if (pipe(channel) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(channel[1], STDOUT_FILENO);
        execl(QUILTRA_CRASH_WRITER, QUILTRA_CRASH_WRITER, folder.c_str(), step,
              loop ? "loop" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    char signal = 0;
    if (loop && read(channel[0], &signal, 1) != 1) {
        close(channel[0]);
        return -1;
    }
    close(channel[0]);
    return child;
}

// Writers killed at random moments of their writes leave the file whole: it is always
// the content before or after one complete writeConfiguration, byte for byte, and at most
// one temporary file per kill remains.
TEST_F(ConfigurationFile, AWriterKilledAtAnyMomentLeavesAWholeFile) {
    // The complete states: the two scanners written alternately, from an empty folder.
    std::map<std::string, int> seen;
    test::TempDir reference;
    const std::string referenceFile = test::joined(reference.str(), "Quiltra.ini");
    for (const char* step : {"0", "1", "0", "1"}) {
        int status = -1;
        waitpid(startWriter(reference.str(), step), &status, 0);
        ASSERT_EQ(status, 0);
        seen.emplace(test::readFile(referenceFile), 0);
    }
    ASSERT_EQ(seen.size(), 2u);

    constexpr int kTrials = 1000;
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> delayMicroseconds(0, 3000);
    int leftovers = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        // Loops start with either scanner, so a kill in the first write leaves either.
        const pid_t writer = startWriter(dir.str(), trial % 2 == 0 ? "0" : "1", true);
        ASSERT_GT(writer, 0);
        usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "trial " << trial;

        if (std::filesystem::exists(file)) {
            const auto state = seen.find(test::readFile(file));
            ASSERT_NE(state, seen.end()) << "trial " << trial << ":\n" << test::readFile(file);
            ++state->second;
        }
        int temporaries = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name != "Quiltra.ini") {
                EXPECT_EQ(name.rfind("Quiltra.ini.", 0), 0u) << name;
                std::filesystem::remove(entry.path());
                ++temporaries;
            }
        }
        ASSERT_LE(temporaries, 1) << "trial " << trial;
        leftovers += temporaries;
    }
    // Kills fell between writes as well as inside them: both states were left behind.
    for (const auto& [content, count] : seen) {
        EXPECT_GT(count, 0);
    }
    std::printf("crash trial: %d kills, states seen %d and %d, temporary files left %d\n", kTrials,
                seen.begin()->second, seen.rbegin()->second, leftovers);
}
#endif

}  // namespace
}  // namespace quiltra

// quiltra-conformance against simcam, clean and with each fault it injects, and against the
// fake driver broken one way per row: every check must pass on a conforming driver and fail
// on the fault meant to trip it. Also the program itself: exit codes and --json.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "conformance.h"
#include "fake_driver_library.h"
#include "test_support.h"

namespace quiltra::test {
namespace {

using conformance::CheckResult;
using conformance::ConformanceOptions;
using conformance::ConformanceReport;
using conformance::Outcome;

// Short waits: the images of simcam and the fake come within 20 ms.
ConformanceOptions quickOptions(const std::string& library, const std::string& folder) {
    ConformanceOptions options;
    options.library = library;
    options.systemFolder = folder;
    options.timeoutMs = 1000;
    options.quietMs = 100;
    options.grabs = 3;
    return options;
}

const CheckResult& resultOf(const ConformanceReport& report, const std::string& check) {
    for (const CheckResult& result : report.results) {
        if (result.check == check) {
            return result;
        }
    }
    throw std::runtime_error("no result of " + check);
}

// A clean run (check null): every check passes and the program would exit 0. Otherwise the
// check fails, with a reason, and the program would exit 1.
void expectVerdict(const ConformanceReport& report, const char* check) {
    ASSERT_TRUE(report.loaded) << report.loadError;
    ASSERT_EQ(report.results.size(), conformance::checkCatalogue().size());
    const std::string table = conformance::formatTable(report);
    if (check == nullptr) {
        for (const CheckResult& result : report.results) {
            EXPECT_EQ(result.result, Outcome::pass) << table;
        }
        EXPECT_EQ(conformance::exitCodeOf(report), conformance::kExitConforms);
        return;
    }
    const CheckResult& result = resultOf(report, check);
    EXPECT_EQ(result.result, Outcome::fail) << table;
    EXPECT_FALSE(result.reason.empty());
    EXPECT_EQ(conformance::exitCodeOf(report), conformance::kExitRequiredFailed) << table;
    EXPECT_FALSE(report.abandoned);
}

// Two simulated grey cameras of 64 x 16 pixels; `faults` are keys added to [Camera1].
std::string simcamSettings(const std::string& faults) {
    return "[Simcam]\nCameras=2\n[Camera1]\nWidth=64\nHeight=16\n" + faults +
           "[Camera2]\nWidth=64\nHeight=16\n";
}

struct SimcamRow {
    const char* faults;  // keys of [Camera1]
    const char* check;   // the check that must fail; null: every check passes
};

const SimcamRow kSimcamRows[] = {
    {"", nullptr},
    // The third image is exposed and never announced.
    {"DropEvery=3\n", "one-completion-per-grab"},
    // After two images (callback-hand-over's and one more), grabs are taken but never answered.
    {"StallAfter=2\n", "one-completion-per-grab"},
    {"RefuseGrabAfter=2\n", "one-completion-per-grab"},
};

TEST(ConformanceOnSimcam, EachInjectedFaultFailsItsCheckAndACleanRunPassesEveryCheck) {
    for (const SimcamRow& row : kSimcamRows) {
        SCOPED_TRACE(std::string("simcam with ") + (row.faults[0] ? row.faults : "no fault"));
        TempDir dir;
        writeFile(dir.file("simcam.ini"), simcamSettings(row.faults));
        expectVerdict(conformance::runConformance(quickOptions(libraryPath("simcam"), dir.str())),
                      row.check);
    }
}

// The fake scripted as a conforming driver: two cameras of 64 x 16 grey pixels, an image
// 10 ms after each grab, nothing after a close. The fake's own defaults (no pixel size, images
// of a closed port still announced) are those of the Quiltra tests.
void conformingFake(fake::FakeDriverControl& fake) {
    fake.setCameraNames({"FakeA", "FakeB"});
    fake.setImageSize(-1, 64, 16);
    fake.setPropertyValue(-1, "PixelSize", 8);
    fake.setDeliverOnGrab(true);
    fake.setDeliveryDelay(10);
    fake.setQuietAfterClose(true);
    fake.setCallLog(false);
}

struct FakeRow {
    const char* fault;
    const char* library;  // the fake variant
    std::function<void(fake::FakeDriverControl&)> breakIt;
    const char* check;  // the check that must fail; null: every check passes
};

const std::vector<FakeRow>& fakeRows() {
    static const std::vector<FakeRow> rows = {
        {"none", "fake_driver", [](auto&) {}, nullptr},
        {"no setCompleteCallback", "fake_driver_no_hand_over", [](auto&) {}, "entry-points"},
        {"no setDebugMsgProc", "fake_driver_system_path_only", [](auto&) {}, "driver-extras"},
        {"initialize answers 0", "fake_driver", [](auto& f) { f.setResult("initialize", 0); },
         "initialize-finalize"},
        {"a count of 3 for two names", "fake_driver",
         [](auto& f) {
             f.setCameraNames({"FakeA", "FakeB"}, 3);
         },
         "camera-names"},
        {"a camera named like a scanner", "fake_driver",
         [](auto& f) {
             f.setCameraNames({"Scanner0001", "FakeB"});
         },
         "camera-names"},
        {"an open size of 0 x 0", "fake_driver", [](auto& f) { f.setImageSize(-1, 0, 0); },
         "open-size"},
        {"the callback refused", "fake_driver",
         [](auto& f) {
             f.scriptHandOverResults({0, 0});
         },
         "callback-hand-over"},
        {"images of port 0 announced as port 3", "fake_driver",
         [](auto& f) { f.setAnnouncedPort(0, 3); }, "callback-hand-over"},
        {"two completions per grab", "fake_driver", [](auto& f) { f.setImagesPerGrab(2); },
         "one-completion-per-grab"},
        {"row reads refused", "fake_driver", [](auto& f) { f.setResult("getCVLGrabRow", 0); },
         "rows-in-callback"},
        {"rows served with 2 bytes a pixel for PixelSize 12", "fake_driver",
         [](auto& f) { f.setPropertyValue(-1, "PixelSize", 12); }, "rows-in-callback"},
        {"rows served only inside the callback", "fake_driver",
         [](auto& f) { f.setRowsOnlyInCallback(true); }, "rows-after-callback"},
        {"no PixelSize", "fake_driver", [](auto& f) { f.setResult("getProperty", 0); },
         "pixel-size"},
        {"PixelSize 12", "fake_driver", [](auto& f) { f.setPropertyValue(-1, "PixelSize", 12); },
         "pixel-size"},
        {"a grab that blocks until its image is announced", "fake_driver",
         [](auto& f) {
             f.setDeliverOnGrab(false);
             f.setDeliverInside("doCVLGrab");
         },
         "grab-returns-early"},
        {"images announced after their port was closed", "fake_driver",
         [](auto& f) { f.setQuietAfterClose(false); }, "quiet-after-close"},
        {"images of port 1 announced as port 0", "fake_driver",
         [](auto& f) { f.setAnnouncedPort(1, 0); }, "two-ports"},
    };
    return rows;
}

TEST(ConformanceOnFakeDriver, EachBrokenBehaviourFailsItsCheck) {
    for (const FakeRow& row : fakeRows()) {
        SCOPED_TRACE(std::string("fake driver with fault: ") + row.fault);
        fake::FakeDriverLibrary library(libraryPath(row.library));
        conformingFake(library.control());
        row.breakIt(library.control());
        TempDir dir;
        expectVerdict(
            conformance::runConformance(quickOptions(libraryPath(row.library), dir.str())),
            row.check);
    }
}

TEST(ConformanceTables, EveryCheckIsShownFailingOnSomeFault) {
    std::set<std::string> tripped;
    for (const SimcamRow& row : kSimcamRows) {
        if (row.check != nullptr) {
            tripped.insert(row.check);
        }
    }
    for (const FakeRow& row : fakeRows()) {
        if (row.check != nullptr) {
            tripped.insert(row.check);
        }
    }
    for (const conformance::CheckInfo& check : conformance::checkCatalogue()) {
        EXPECT_TRUE(tripped.count(check.name)) << check.name << " is never shown failing";
    }
}

TEST(ConformanceOnFakeDriver, ADriverCallThatNeverReturnsStopsTheRunInsteadOfHangingIt) {
    fake::FakeDriverLibrary library(libraryPath("fake_driver"));
    conformingFake(library.control());
    // doCVLGrab waits for its own image, which comes 1.5 s later: beyond the timeout.
    library->setDeliverOnGrab(false);
    library->setDeliveryDelay(1500);
    library->setDeliverInside("doCVLGrab");
    TempDir dir;
    ConformanceOptions options = quickOptions(libraryPath("fake_driver"), dir.str());
    options.timeoutMs = 300;
    const auto started = std::chrono::steady_clock::now();
    const ConformanceReport report = conformance::runConformance(options);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(report.abandoned);
    EXPECT_LT(took, std::chrono::milliseconds(1400));
    const CheckResult& stuck = resultOf(report, "callback-hand-over");
    EXPECT_EQ(stuck.result, Outcome::fail);
    EXPECT_NE(stuck.reason.find("doCVLGrab did not return within 300 ms"), std::string::npos)
        << stuck.reason;
    EXPECT_EQ(resultOf(report, "two-ports").result, Outcome::skip);
    EXPECT_EQ(conformance::exitCodeOf(report), conformance::kExitRequiredFailed);
    // Let the abandoned worker come out of the fake before the fake is reset.
    library->waitForDeliveries();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

#if defined(QUILTRA_DRIVERS_DOC)
TEST(ConformanceTables, TheDriverGuideHasOneSectionPerCheckInCheckOrder) {
    std::vector<std::string> sections;
    std::istringstream doc(readFile(QUILTRA_DRIVERS_DOC));
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("### ", 0) == 0) {
            sections.push_back(line.substr(4));
        }
    }
    std::vector<std::string> expected;
    for (const conformance::CheckInfo& check : conformance::checkCatalogue()) {
        expected.push_back(std::string(check.name) +
                           (check.required ? " (required)" : " (advisory)"));
    }
    EXPECT_EQ(sections, expected);
}
#endif

// --- the program -----------------------------------------------------------------------------

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

RunResult runConformanceProgram(const std::string& arguments) {
#if defined(_WIN32)
    const std::string program = (binaryDir() / "quiltra-conformance.exe").string();
    // cmd.exe drops the outer quotes of a command line that begins with one.
    const std::string command = "\"\"" + program + "\" " + arguments + " 2>&1\"";
    FILE* pipe = _popen(command.c_str(), "r");
#else
    const std::string program = (binaryDir() / "quiltra-conformance").string();
    const std::string command = "\"" + program + "\" " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
#endif
    RunResult result;
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        result.output += buffer;
    }
#if defined(_WIN32)
    result.exitCode = _pclose(pipe);
#else
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return result;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

struct ProgramRow {
    const char* faults;     // keys of simcam's [Camera1]
    const char* arguments;  // after the library and the system folder
    int exitCode;
    const char* failingCheck;  // in the JSON; null: every check passes
};

TEST(ConformanceProgram, ExitCodeAndJsonTellWhetherTheDriverConforms) {
    const ProgramRow rows[] = {
        {"", "", 0, nullptr},
        {"RefuseGrabAfter=1\n", "", 1, "one-completion-per-grab"},
    };
    for (const ProgramRow& row : rows) {
        SCOPED_TRACE(std::string("simcam with ") + (row.faults[0] ? row.faults : "no fault"));
        TempDir dir;
        writeFile(dir.file("simcam.ini"), simcamSettings(row.faults));
        const std::string common = quoted(libraryPath("simcam")) + " --system-folder " +
                                   quoted(dir.str()) +
                                   " --quiet --timeout-ms 1000 --quiet-ms 100 --grabs 3 ";
        const RunResult json = runConformanceProgram(common + "--json");
        EXPECT_EQ(json.exitCode, row.exitCode) << json.output;
        EXPECT_NE(json.output.find("\"exitCode\": " + std::to_string(row.exitCode)),
                  std::string::npos)
            << json.output;
        for (const conformance::CheckInfo& check : conformance::checkCatalogue()) {
            const bool fails =
                row.failingCheck != nullptr && check.name == std::string(row.failingCheck);
            const std::string entry = std::string("{\"check\": \"") + check.name +
                                      "\", \"result\": \"" + (fails ? "fail" : "pass") + "\"";
            if (fails || row.failingCheck == nullptr) {
                EXPECT_NE(json.output.find(entry), std::string::npos) << json.output;
            }
        }
        const RunResult table = runConformanceProgram(common);
        EXPECT_EQ(table.exitCode, row.exitCode) << table.output;
        EXPECT_NE(table.output.find("two-ports"), std::string::npos) << table.output;
    }
}

TEST(ConformanceProgram, BadUsageAndAnUnloadableLibraryHaveTheirOwnExitCodes) {
    TempDir dir;
    EXPECT_EQ(runConformanceProgram("").exitCode, conformance::kExitUsage);
    EXPECT_EQ(runConformanceProgram(quoted(libraryPath("simcam")) + " --timeout-ms 0").exitCode,
              conformance::kExitUsage);
    writeFile(dir.file("not_a_library.so"), "not a library");
    for (const std::string& library : {dir.file("missing.so"), dir.file("not_a_library.so")}) {
        const RunResult run = runConformanceProgram(quoted(library));
        EXPECT_EQ(run.exitCode, conformance::kExitNotLoadable) << run.output;
        EXPECT_NE(run.output.find(library), std::string::npos) << run.output;
    }
}

}  // namespace
}  // namespace quiltra::test

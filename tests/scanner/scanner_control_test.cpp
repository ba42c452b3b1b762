// Scanner properties and commands through the C interface: the read and write tables, the
// switch of the calibration entry, re-arming, filling and handing over the final image, the
// status reply and statistics, and what is passed on to the cameras' drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "control/argument_reader.h"
#include "grab_cycle_fixture.h"
#include "platform/one_shot_timer.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

#if defined(_WIN32)
constexpr bool kManualClock = false;  // the Windows multimedia timer has no manual clock
#else
constexpr bool kManualClock = true;
#endif

TEST(ReadArgument, FindsAKeysValueInTheCallersText) {
    struct Case {
        const char* arguments;
        const char* key;
        int offset;  // of the value in the text; -1: not found
        const char* value;
    };
    for (const Case& c : std::vector<Case>{
             {" fill = 7 ;mode=2", "fill", 7, " 7 "},
             {"Fill=5", "fill", 5, "5"},
             {"mode=2;FILL=", "fill", 12, ""},
             {"a=1;fill=2;fill=3", "fill", 9, "2"},
             {"value=a=b", "value", 6, "a=b"},
             {"x;fill=4", "fill", -1, ""},  // an item without "=" before one with it
             {"a=1;;fill=2", "fill", -1, ""},
             {"mode;other", "fill", -1, ""},
             {"a=1;b=2", "fill", -1, ""},
             {"fi ll=1", "fill", -1, ""},
             {"\tfill=1", "fill", -1, ""},  // only the space is skipped
             {"", "fill", -1, ""},
             {nullptr, "fill", -1, ""},
         }) {
        SCOPED_TRACE(c.arguments != nullptr ? c.arguments : "null");
        const ArgumentValue found = readArgument(c.arguments, c.key);
        EXPECT_EQ(found.found() ? found.text - c.arguments : -1, c.offset);
        EXPECT_EQ(found.str(), c.value);
    }
}

class ScannerControl : public GrabCycle {
protected:
    int property(const char* name, int port = kScannerPort) {
        int value = -77;
        EXPECT_EQ(getProperty(0, port, name, &value), 1) << name;
        return value;
    }
    struct Reply {
        int result;
        std::string text;
    };
    Reply command(const char* name, const char* arguments, int size = 1024,
                  int port = kScannerPort) {
        std::vector<char> buffer(static_cast<std::size_t>(size), 'x');
        const int result = execCmd(0, port, name, arguments, buffer.data(), size);
        const std::size_t length = strnlen(buffer.data(), buffer.size());
        EXPECT_LT(length, buffer.size()) << "the reply is terminated";
        return {result, std::string(buffer.data(), length)};
    }

    FakePlugin prefilter_{"fake_prefilter"};
};

TEST_F(ScannerControl, PropertiesReadTheScannersValuesWhateverTheCaseOfTheName) {
    start(scannerSections({1, 2}, 4, 4, 6, "Overlap=1\nActiveGrabTimeout=250\nMinScans=-3\n") +
              scannerSections({}, 1, 4, 6, "", false, "Scanner0002"),
          {1, 2}, 6, 4, 24, /*verbose=*/1);
    openScanner();
    openScanner(11, "Scanner0002");
    deliver({1, 2, 1, 2, 1, 2, 1});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    deliver({2, 1, 1});  // completes a cycle; the next starts at the overlap, 1
    driver().clearCalls();
    const int scanTime = property("ScanTime");
    EXPECT_GE(scanTime, 20);
    struct Case {
        const char* name;
        int value;
    };
    for (const Case& c : std::vector<Case>{{"PixelSize", 24},
                                           {"width", 12},
                                           {"HEIGHT", 16},
                                           {"ScanCount", 4},
                                           {"overlap", 1},
                                           {"Count", 1},  // cameras at 3 and 1
                                           {"ActiveGrabTimeout", 250},
                                           {"MinScanCount", -3},
                                           {"TrigTime", scanTime / 4},
                                           {"ActiveGrabTimeoutCount", 0},
                                           {"Verbose", 1}}) {
        EXPECT_EQ(property(c.name), c.value) << c.name;
    }
    for (const char* unknown : {"Gain", "Scans", "Width ", ""}) {
        int value = 7;
        EXPECT_EQ(getProperty(0, kScannerPort, unknown, &value), 0) << unknown;
        EXPECT_EQ(value, 7);
    }
    int value = 7;
    EXPECT_EQ(getProperty(0, 11, "Width", &value), 0) << "a scanner without cameras";
    EXPECT_EQ(setProperty(0, 11, "Gain", 1), 0);
    EXPECT_EQ(getProperty(0, kScannerPort, nullptr, &value), 0);
    EXPECT_EQ(getProperty(0, kScannerPort, "Width", nullptr), 0);
    EXPECT_EQ(setProperty(0, kScannerPort, nullptr, 1), 0);
    // A result buffer that cannot hold a reply does nothing.
    char reply[4] = "abc";
    EXPECT_EQ(execCmd(0, kScannerPort, "other", "", nullptr, 10), 0);
    EXPECT_EQ(execCmd(0, kScannerPort, "other", "", reply, 0), 0);
    EXPECT_STREQ(reply, "abc");
    EXPECT_EQ(execCmd(0, kScannerPort, nullptr, "", reply, sizeof reply), 0);
    EXPECT_STREQ(reply, "");
    EXPECT_THAT(driver().calls(), IsEmpty());
}

TEST_F(ScannerControl, WritesChangeTheScannerAndScanCountRewritesItsSection) {
    struct Case {
        const char* name;
        int value;
        int result;
        const char* readName;
        int read;
        const char* inFile;  // a line of the configuration file afterwards, or null
    };
    for (const Case& c : std::vector<Case>{
             {"OVERLAP", 7, 1, "Overlap", 3, nullptr},
             {"Overlap", -1, 1, "Overlap", 3, nullptr},  // 0xFFFFFFFF modulo 4
             {"count", 6, 1, "Count", 2, nullptr},
             {"ActiveGrabTimeout", -1, 1, "ActiveGrabTimeout", -1, nullptr},
             {"MinScanCount", -2, 1, "MinScanCount", -2, nullptr},
             {"ScanCount", 0, 1, "Height", 4, "\nScans=1\n"},
             {"scancount", 3, 1, "Height", 12, "\nScans=3\n"},
             {"ScanCount", 0x7FFFFFFF, 1, "ScanCount", 0x7FFFFFFF, "\nScans=2147483647\n"},
             {"Calib", 1, 0, "Width", 12, nullptr},  // no second calibration entry
             {"Width", 5, 1, "Width", 12, nullptr},  // not a write: passed on
         }) {
        SCOPED_TRACE(c.name);
        start(scannerSections({1, 2}, 4, 4, 6), {1, 2});
        openScanner();
        ASSERT_EQ(setProperty(0, kScannerPort, "MinScanCount", 5), 1);
        EXPECT_EQ(setProperty(0, kScannerPort, c.name, c.value), c.result);
        EXPECT_EQ(property(c.readName), c.read);
        std::string file = readFile(dir_.file("Quiltra.ini"));
        file.erase(std::remove(file.begin(), file.end(), '\r'), file.end());  // Windows lines
        if (c.inFile != nullptr) {
            EXPECT_NE(file.find(c.inFile), std::string::npos) << file;
            EXPECT_NE(file.find("\nMinScans=5\n"), std::string::npos) << "current values";
        } else {
            EXPECT_EQ(file.find("\nMinScans="), std::string::npos) << "not rewritten";
        }
        finalize();
    }
    // "Verbose" is one flag for every scanner.
    start(scannerSections({1}, 1, 4, 6) + scannerSections({1}, 1, 4, 6, "", false, "Scanner0002"),
          {1});
    openScanner();
    openScanner(11, "Scanner0002");
    EXPECT_EQ(setProperty(0, kScannerPort, "verbose", 1), 1);
    EXPECT_EQ(property("Verbose", 11), 1);
}

TEST_F(ScannerControl, OtherNamesGoToEveryCameraAndContinuousZeroStopsTheGrabTimeout) {
    struct Case {
        const char* name;
        int value;
        int secondCamera;  // what the second camera's driver answers
        bool timeoutFires;
    };
    for (const Case& c : std::vector<Case>{{"Gain", 3, 0, true},
                                           {"Continuous", 1, 1, true},
                                           {"CONTINOUS", 0, 1, false},
                                           {"continuous", 0, 0, false}}) {
        SCOPED_TRACE(c.name);
        start(scannerSections({1, 2}, 4, 4, 6, "ActiveGrabTimeout=100\n"), {1, 2});
        openScanner();
        driver().setPortResult("setProperty", 2, c.secondCamera);
        deliver({1});  // arms the grab timeout
        driver().clearCalls();
        EXPECT_EQ(setProperty(0, kScannerPort, c.name, c.value), c.secondCamera);
        const std::string call = std::string("\"") + c.name + "\"," + std::to_string(c.value) + ")";
        EXPECT_THAT(driver().calls(),
                    ElementsAre("setProperty(0,1," + call, "setProperty(0,2," + call));
        if (kManualClock) {
            platform::advanceManualTime(100);
            EXPECT_EQ(DebugMessages::all().size(), c.timeoutFires ? 1u : 0u);
        }
        finalize();
    }
}

TEST_F(ScannerControl, CalibSwitchesEveryCameraResetsTheCycleAndResizesTheImage) {
    const std::string calib1 =
        "[Scanner0001.Camera1.Calib1]\nCalibFile=c1.cal\nSize_x=5\nSize_y=9\n";
    const std::string prefilter2 =
        "[Scanner0001.Camera2.Calib1]\nPrefilter=p.flt\nFilterDLL=" + prefilter_.path() +
        "\nPrefilterOptions=o\n";
    const std::string pixels = "calibration in pixels\n";
    // The final image's size and the first camera's output size afterwards.
    struct Sizes {
        int width, height, columns1, rows1;
    };
    const Sizes entry0{12, 8, 6, 4};
    struct Case {
        const char* name;
        std::string calibSections;
        int index;
        int result;
        Sizes sizes;
        std::vector<std::string> messages;
    };
    const std::string camera1 = "Scanner0001 Camera 1: ";
    const std::string camera2 = "Scanner0001 Camera 2: ";
    for (const Case& c : std::vector<Case>{
             {"to a larger entry",
              calib1 + prefilter2,
              1,
              1,
              {15, 10, 9, 5},
              {camera1 + "no prefilter\n", camera1 + "calibration " + dir_.file("c1.cal") + "\n",
               camera2 + "prefilter " + dir_.file("p.flt") + "  o\n", camera2 + pixels}},
             {"to the active entry",
              calib1 + prefilter2,
              0,
              1,
              entry0,
              {camera1 + "no prefilter\n", camera1 + pixels, camera2 + "no prefilter\n",
               camera2 + pixels}},
             {"beyond every camera's entries", calib1 + prefilter2, 2, 0, entry0, {}},
             {"beyond the second camera's entries", calib1, 1, 0, entry0, {}},
         }) {
        SCOPED_TRACE(c.name);
        writeFile(dir_.file("p.flt"), "");
        start(scannerSections({1, 2}, 2, 4, 6, "PassThru=-\n") + c.calibSections, {1, 2}, 6, 4, 8,
              /*verbose=*/1);
        openScanner();
        deliver({1, 2, 1, 2, 1, 2});  // one cycle and one scan: `processed` is in use
        DebugMessages::clear();
        EXPECT_EQ(setProperty(0, kScannerPort, "Calib", c.index), c.result);
        std::vector<std::string> messages = DebugMessages::all();
        if (c.result == 1) {
            ASSERT_FALSE(messages.empty());
            EXPECT_THAT(messages.back(),
                        testing::AllOf(testing::StartsWith("Scanner0001: setCalib[" +
                                                           std::to_string(c.index) + "] in "),
                                       testing::EndsWith(" ms\n")));
            messages.pop_back();
        }
        EXPECT_THAT(messages, ElementsAreArray(c.messages));
        const Sizes& z = c.sizes;
        EXPECT_EQ(property("Width"), z.width);
        EXPECT_EQ(property("Height"), z.height);
        const int band = c.result == 1 ? 0 : 1;  // a switch resets the cycle
        EXPECT_EQ(property("Count"), band);
        deliver({1, 2});
        // The first camera's next image (its fourth) fills its segment of that band.
        FinalImageModel model(z.columns1, z.rows1, 1, 1);
        model.place(0, 0, 1, 3, 6, 4, z.columns1, z.rows1);
        size_[0] = z.width;
        size_[1] = z.height;
        const std::vector<uint8_t> image = finalImage();
        std::vector<uint8_t> segment;
        for (int row = band * z.rows1; row < (band + 1) * z.rows1; ++row) {
            segment.insert(segment.end(), image.begin() + row * z.width,
                           image.begin() + row * z.width + z.columns1);
        }
        EXPECT_EQ(segment, model.bytes);
        finalize();
    }
}

TEST_F(ScannerControl, ResetClearAndTrigFillTheUnscannedPartAsTheirArgumentsSay) {
    constexpr int kNoFill = -1;
    struct Case {
        const char* command;
        const char* arguments;
        int fill;  // byte written into what the cycle has not scanned
        bool rearms, completes;
    };
    for (const Case& c : std::vector<Case>{{"RESET", "fill=128", 128, true, false},
                                           {"reset", "fill=-1", kNoFill, true, false},
                                           {"Reset", nullptr, kNoFill, true, false},
                                           {"reset", "mode;fill=5", kNoFill, true, false},
                                           {"clear", "fill=-1", 255, false, false},
                                           {"clear", nullptr, 0, false, false},
                                           {"clear", "fill=x7", 0, false, false},
                                           {"trig", "fill=-1", kNoFill, false, true},
                                           {"TRIG", "fill=", 0, false, true},
                                           {"trig", " fill = 7 ;mode=2", 7, false, true}}) {
        SCOPED_TRACE(std::string(c.command) + " " + (c.arguments ? c.arguments : "null"));
        start(scannerSections({1, 2}, 4, 4, 6, "PassThru=-\n"), {1, 2});
        openScanner();
        deliver({1, 2, 1, 2, 1, 2, 1, 2, 1, 2});  // a cycle, then one scan of the next
        std::vector<uint8_t> expected = finalImage();
        ASSERT_THAT(callsSince(), ElementsAre("0,10"));
        const Reply reply = command(c.command, c.arguments);
        EXPECT_EQ(reply.result, 1);
        EXPECT_EQ(reply.text, "");
        if (c.fill != kNoFill) {
            // After a reset every band is unscanned; otherwise all but the first.
            std::fill(expected.begin() + (c.rearms ? 0 : 12 * 4), expected.end(), c.fill);
        }
        EXPECT_EQ(finalImage(), expected);
        EXPECT_EQ(property("Count"), c.rearms ? 0 : 1);
        EXPECT_EQ(callsSince(1),
                  c.completes ? std::vector<std::string>{"0,10"} : std::vector<std::string>{});
        finalize();
    }
}

TEST_F(ScannerControl, StatusReplyAndStatisticsShowTheCounters) {
    // The real multimedia timer would fire among the images: only a manual clock times out.
    start(scannerSections(
              {1, 2}, 4, 4, 6,
              kManualClock ? "PassThru=-\nActiveGrabTimeout=100\nMinScans=4\n" : "PassThru=-\n") +
              scannerSections({}, 1, 4, 6, "", false, "Scanner0002"),
          {1, 2});
    openScanner();
    openScanner(11, "Scanner0002");
    for (int cycle = 0; cycle < 2; ++cycle) {
        deliver({1, 2, 1, 2, 1, 2, 1, 2});
    }
    deliver({1, 1});
    if (kManualClock) {
        platform::advanceManualTime(100);  // completes the image: the second camera times out
    }
    deliver({1});
    const int timeouts = kManualClock ? 1 : 0;
    const std::string scanTime = std::to_string(property("ScanTime"));
    const std::string trigTime = std::to_string(property("TrigTime"));
    const std::string status =
        "{'imageCount': 2, 'activeGrabTimeoutCount': " + std::to_string(timeouts) +
        ",'activeGrabTime': " + scanTime + ", 'trigTime': " + trigTime +
        ", 'camera0': {'imageCount': 11, 'activeGrabTimeoutCount': 0}, "
        "'camera1': {'imageCount': 8, 'activeGrabTimeoutCount': " +
        std::to_string(timeouts) + "}}";
    EXPECT_EQ(command("GET", "value=IMAGESTATUS").text, status);
    EXPECT_EQ(command("get", "value=imageStatus", 30).text, status.substr(0, 29));
    EXPECT_EQ(command("get", "value=imageStatus", 1).text, "");
    EXPECT_EQ(command("get", "value=imageStatus", 1024, 11).text,
              "{'imageCount': 0, 'activeGrabTimeoutCount': 0,'activeGrabTime': 0, 'trigTime': 0}");
    EXPECT_EQ(command("other", "", 1024, 11).result, 1) << "no camera to refuse it";

    DebugMessages::clear();
    EXPECT_EQ(command("Stat", nullptr).result, 1);
    EXPECT_THAT(
        DebugMessages::all(),
        ElementsAre(
            std::string(51, '-') + "\n",
            "Scanner0001: last scan " + scanTime + " ms, avg trig period " + trigTime + " ms\n",
            " Image count 2 timeout count " + std::to_string(timeouts) + "\n",
            " Cam[1] image count " + std::string(kManualClock ? "1" : "3") +
                " total 11 timeouts 0\n",
            " Cam[2] image count 0 total 8 timeouts " + std::to_string(timeouts) + "\n"));
}

TEST_F(ScannerControl, CommandsTheScannerDoesNotHandleGoToEveryCameraTheirRepliesAppended) {
    struct Case {
        const char* command;
        std::string arguments;
        int secondCamera;  // what the second camera's driver answers
        int size;          // of the host's result buffer
        std::string reply;
        std::string firstReply = "a";  // what the first camera's driver writes
    };
    for (const Case& c : std::vector<Case>{
             {"other", "x=1", 1, 1024, "ab"},
             // A driver that fills its buffer to the end: what it wrote, less the last one.
             {"other", "", 1, 1024, std::string(127, 'a') + "b", std::string(200, 'a')},
             {"other", "x=1", 0, 1024, "ab"},
             {"other", "x=1", 1, 2, "a"},
             {"get", "value=other", 1, 1024, "ab"},
             {"get", "value= imageStatus", 1, 1024, "ab"},
             {"set", "mode=1", 1, 1024, "ab"},
             {"set", "PassThru=", 1, 1024, "ab"},
             {"set", "PassThru=" + std::string(512, '1'), 1, 1024, "ab"},
         }) {
        SCOPED_TRACE(std::string(c.command) + " " + c.arguments.substr(0, 20));
        start(scannerSections({1, 2}, 4, 4, 6), {1, 2});
        openScanner();
        driver().setExecReply(c.firstReply, 1);
        driver().setExecReply("b", 2);
        driver().setPortResult("execCmd", 2, c.secondCamera);
        const Reply reply = command(c.command, c.arguments.c_str(), c.size);
        EXPECT_EQ(reply.result, c.secondCamera);
        EXPECT_EQ(reply.text, c.reply);
        const std::vector<std::string> calls = driver().callsOf("execCmd");
        ASSERT_EQ(calls.size(), 2u);
        for (int port : {1, 2}) {
            EXPECT_THAT(calls[port - 1],
                        testing::StartsWith("execCmd(0," + std::to_string(port) + ",\"" +
                                            c.command + "\",\"" + c.arguments + "\","));
            EXPECT_THAT(calls[port - 1], testing::EndsWith(",128)"));
        }
        finalize();
    }
}

TEST_F(ScannerControl, ThePassThroughListIsSetByCommandOrProperty) {
    struct Case {
        const char* name;
        bool byCommand;
        const char* text;  // the command's list, or the property's value
        std::vector<std::string> calls;
    };
    for (const Case& c : std::vector<Case>{
             {"command 3,-4: scans 3 and 1",
              true,
              "PassThru=3,-4",
              {"0,1", "0,2", "0,1", "0,2", "0,10"}},
             {"property -1: the last scan", false, "-1", {"0,1", "0,10", "0,2"}},
             {"property 5: none", false, "5", {"0,10"}},
             {"property 0: every scan",
              false,
              "0",
              {"0,1", "0,2", "0,1", "0,2", "0,1", "0,2", "0,1", "0,10", "0,2"}},
         }) {
        SCOPED_TRACE(c.name);
        start(scannerSections({1, 2}, 4, 4, 6), {1, 2});
        openScanner();
        if (c.byCommand) {
            EXPECT_EQ(command("SET", c.text).result, 1);
        } else {
            EXPECT_EQ(setProperty(0, kScannerPort, "passthru", std::stoi(c.text)), 1);
        }
        EXPECT_THAT(driver().callsOf("execCmd"), IsEmpty());
        deliver({1, 2, 1, 2, 1, 2, 1, 2});
        EXPECT_THAT(callsSince(), ElementsAreArray(c.calls));
        finalize();
    }
}

}  // namespace
}  // namespace quiltra::test

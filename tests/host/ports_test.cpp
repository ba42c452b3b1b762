// Opening and closing real camera ports, and the calls a host makes on them, passed to the
// driver with their arguments unchanged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>

#include "host_test_fixture.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

void QUILTRA_CALL hostCommandCallback(int, int, const char*) {}

using Ports = HostTest;

TEST_F(Ports, OpeningARealCameraPortOpensItAtTheDriverAndHandsOverQuiltrasHook) {
    startWithDriver();
    driver().setImageSize(2, 1280, 1024);
    int size[2] = {0, 0};
    EXPECT_EQ(openCVLPort(1, 2, "Alpha", size), 1);
    EXPECT_EQ(size[0], 1280);
    EXPECT_EQ(size[1], 1024);
    auto calls = driver().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "openCVLPort(1,2,\"Alpha\"," + fake::pointer(size) + ")");
    EXPECT_THAT(calls[1], StartsWith("setCompleteCallback(1,2,0x"));
    EXPECT_NE(driver().completeCallback(2), nullptr);
}

TEST_F(Ports, OpenOnAPortThatIsNotFreeAnswers0AndCallsNothing) {
    startWithDriver();
    openCamera(3);
    int size[2] = {0, 0};
    for (const char* name : {"Alpha", "Camera", "Scanner0001"}) {
        EXPECT_EQ(openCVLPort(0, 3, name, size), 0) << name;
    }
    EXPECT_THAT(driver().calls(), IsEmpty());
}

TEST_F(Ports, ScannerNamesAreRecognisedExactlyAndNotPassedToTheDriver) {
    startWithDriver();
    int size[2] = {0, 0};
    for (const char* scanner : {"Scanner0001", "Scanner0006"}) {
        // Scanners cannot be built yet: the name is refused without calling the driver.
        EXPECT_EQ(openCVLPort(0, 4, scanner, size), 0) << scanner;
    }
    EXPECT_THAT(driver().calls(), IsEmpty());
    // Another case, or a name that only starts like one, is a camera name of the driver.
    for (auto [port, name] : {std::pair{4, "scanner0001"},
                              {5, "SCANNER0002"},
                              {6, "Scanner0007"},
                              {7, "Scanner00011"}}) {
        EXPECT_EQ(openCVLPort(0, port, name, size), 1) << name;
        EXPECT_EQ(driver().callsOf("openCVLPort").back(), "openCVLPort(0," + std::to_string(port) +
                                                              "," + fake::text(name) + "," +
                                                              fake::pointer(size) + ")");
    }
    // The refused scanner open left its port free.
    driver().clearCalls();
    closeCVLPort(0, 8);
    EXPECT_THAT(driver().calls(), IsEmpty());
}

struct RetryCase {
    const char* what;
    std::vector<int> openResults;
    std::vector<int> handOverResults;
    int expected;
    int openCalls;
    int handOverCalls;
    bool driverClosedAgain;
};

TEST_F(Ports, OpenAndHandOverAreRetriedOnceAndTheSecondAnswerCounts) {
    const RetryCase cases[] = {
        {"open fails once", {0, 1}, {}, 1, 2, 1, false},
        {"open fails twice", {0, 0}, {}, 0, 2, 0, false},
        {"open's second answer is passed on", {2, 5}, {}, 5, 2, 0, false},
        {"hand-over fails once", {}, {0, 1}, 1, 1, 2, false},
        {"hand-over fails twice", {}, {0, 3}, 3, 1, 2, true},
    };
    startWithDriver();
    int port = 10;
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.what);
        driver().scriptOpenResults(c.openResults);
        driver().scriptHandOverResults(c.handOverResults);
        driver().clearCalls();
        int size[2] = {0, 0};
        EXPECT_EQ(openCVLPort(0, port, "Alpha", size), c.expected);
        EXPECT_EQ(driver().callsOf("openCVLPort").size(), static_cast<size_t>(c.openCalls));
        EXPECT_EQ(driver().callsOf("setCompleteCallback").size(),
                  static_cast<size_t>(c.handOverCalls));
        EXPECT_EQ(driver().callsOf("closeCVLPort").size(), c.driverClosedAgain ? 1u : 0u);
        // Open exactly when the answer was 1: a grab reaches the driver only then.
        driver().clearCalls();
        EXPECT_EQ(doCVLGrab(0, port), c.expected == 1 ? 1 : 0);
        EXPECT_EQ(driver().callsOf("doCVLGrab").size(), c.expected == 1 ? 1u : 0u);
        if (c.expected == 1) {
            EXPECT_EQ(size[0], 640);
            EXPECT_EQ(size[1], 480);
        }
        ++port;
    }
}

TEST_F(Ports, DriverWithoutHandOverCannotOpenPortsAndGetsItsOpenUndone) {
    startWithDriver("fake_driver_no_hand_over");
    int size[2] = {0, 0};
    EXPECT_EQ(openCVLPort(0, 1, "Alpha", size), 0);
    EXPECT_THAT(
        driver().calls(),
        ElementsAre("openCVLPort(0,1,\"Alpha\"," + fake::pointer(size) + ")", "closeCVLPort(0,1)"));
    EXPECT_EQ(doCVLGrab(0, 1), 0);
}

TEST_F(Ports, ClosingARealPortClosesItAtTheDriverAndFreesIt) {
    startWithDriver();
    openCamera(5, 1);
    closeCVLPort(1, 5);
    EXPECT_THAT(driver().calls(), ElementsAre("closeCVLPort(1,5)"));
    EXPECT_EQ(doCVLGrab(1, 5), 0);
    closeCVLPort(1, 5);
    EXPECT_THAT(driver().calls(), ElementsAre("closeCVLPort(1,5)"));
    // Free again: it opens anew.
    int size[2] = {0, 0};
    EXPECT_EQ(openCVLPort(0, 5, "Beta", size), 1);
}

TEST_F(Ports, FinalizeClosesPortsStillOpenWithTheirGrabberBeforeTheDriversFinalize) {
    startWithDriver();
    openCamera(2, 1);
    openCamera(7, 0);
    EXPECT_EQ(finalize(), 1);
    EXPECT_THAT(driver().calls(),
                ElementsAre("closeCVLPort(1,2)", "closeCVLPort(0,7)", "finalize()"));
    // After a new initialize the ports are free.
    ASSERT_EQ(initializeHost(), 1);
    int size[2] = {0, 0};
    EXPECT_EQ(openCVLPort(0, 2, "Alpha", size), 1);
}

TEST_F(Ports, CallsOnPortsOutsideTheTableAnswer0AndCallNothing) {
    startWithDriver();
    openCamera(0);
    std::uint8_t buffer[16] = {};
    int value = 0;
    char reply[16] = {};
    for (int port : {-1, 128, 129, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(port);
        int size[2] = {0, 0};
        EXPECT_EQ(openCVLPort(0, port, "Alpha", size), 0);
        closeCVLPort(0, port);
        EXPECT_EQ(doCVLGrab(0, port), 0);
        EXPECT_EQ(getCVLGrabRow(0, port, buffer, 0, 0, 3), 0);
        EXPECT_EQ(setCompleteCallback(0, port, &CallbackRecorder::callback), 0);
        EXPECT_EQ(getPropertyRange(0, port, "Gain", &value, &value), 0);
        EXPECT_EQ(getProperty(0, port, "Gain", &value), 0);
        EXPECT_EQ(setProperty(0, port, "Gain", 1), 0);
        EXPECT_EQ(setCmdCallback(0, port, &hostCommandCallback), 0);
        EXPECT_EQ(execCmd(0, port, "cmd", "", reply, sizeof reply), 0);
    }
    EXPECT_THAT(driver().calls(), IsEmpty());
}

TEST_F(Ports, CallsOnAFreePortAnswer0AndCallNothing) {
    startWithDriver();
    std::uint8_t buffer[16] = {};
    int value = 0;
    char reply[16] = {};
    EXPECT_EQ(doCVLGrab(0, 9), 0);
    EXPECT_EQ(getCVLGrabRow(0, 9, buffer, 0, 0, 3), 0);
    EXPECT_EQ(setCompleteCallback(0, 9, &CallbackRecorder::callback), 0);
    EXPECT_EQ(getPropertyRange(0, 9, "Gain", &value, &value), 0);
    EXPECT_EQ(getProperty(0, 9, "Gain", &value), 0);
    EXPECT_EQ(setProperty(0, 9, "Gain", 1), 0);
    EXPECT_EQ(setCmdCallback(0, 9, &hostCommandCallback), 0);
    EXPECT_EQ(execCmd(0, 9, "cmd", "", reply, sizeof reply), 0);
    closeCVLPort(0, 9);
    EXPECT_THAT(driver().calls(), IsEmpty());
}

TEST_F(Ports, NullPointersQuiltraWouldReadAreRefusedWithoutCallingTheDriver) {
    startWithDriver();
    int size[2] = {0, 0};
    EXPECT_EQ(openCVLPort(0, 1, nullptr, size), 0);
    EXPECT_EQ(openCVLPort(0, 1, "Alpha", nullptr), 0);
    EXPECT_EQ(openCVLPort(0, 1, "Scanner0001", nullptr), 0);
    EXPECT_EQ(configureCamera(nullptr, nullptr), 0);
    EXPECT_THAT(driver().calls(), IsEmpty());
    // The port is still free.
    EXPECT_EQ(openCVLPort(0, 1, "Alpha", size), 1);
}

TEST_F(Ports, PassThroughCallsReachTheDriverWithTheirArgumentsAndAnswersUnchanged) {
    startWithDriver();
    openCamera(6, 2);
    int minValue = 0;
    int maxValue = 0;
    int value = 0;
    char reply[8] = {};
    struct Forwarded {
        const char* entry;
        int answer;
        std::function<int()> call;
        std::string expectedCall;
    };
    const Forwarded forwards[] = {
        {"doCVLGrab", 7, [] { return doCVLGrab(3, 6); }, "doCVLGrab(3,6)"},
        {"getPropertyRange", -2,
         [&] { return getPropertyRange(2, 6, "Gain", &minValue, &maxValue); },
         "getPropertyRange(2,6,\"Gain\"," + fake::pointer(&minValue) + "," +
             fake::pointer(&maxValue) + ")"},
        {"getProperty", 3, [&] { return getProperty(2, 6, "Exposure", &value); },
         "getProperty(2,6,\"Exposure\"," + fake::pointer(&value) + ")"},
        {"getProperty", 1, [&] { return getProperty(2, 6, nullptr, nullptr); },
         "getProperty(2,6,null,null)"},
        {"setProperty", 0, [] { return setProperty(2, 6, "Gain", -17); },
         "setProperty(2,6,\"Gain\",-17)"},
        {"setCmdCallback", 9, [] { return setCmdCallback(2, 6, &hostCommandCallback); },
         "setCmdCallback(2,6," +
             fake::pointer(reinterpret_cast<const void*>(&hostCommandCallback)) + ")"},
        {"execCmd", 4, [&] { return execCmd(2, 6, "trig", "a=1;b", reply, sizeof reply); },
         "execCmd(2,6,\"trig\",\"a=1;b\"," + fake::pointer(reply) + ",8)"},
        {"execCmd", 1, [] { return execCmd(2, 6, nullptr, nullptr, nullptr, -5); },
         "execCmd(2,6,null,null,null,-5)"},
        {"configureCamera", 12,
         [] { return configureCamera(reinterpret_cast<void*>(0x1234), "Alpha"); },
         "configureCamera(0x1234,\"Alpha\")"},
    };
    for (const Forwarded& forward : forwards) {
        SCOPED_TRACE(forward.expectedCall);
        driver().setResult(forward.entry, forward.answer);
        driver().clearCalls();
        EXPECT_EQ(forward.call(), forward.answer);
        EXPECT_THAT(driver().calls(), ElementsAre(forward.expectedCall));
    }
}

TEST_F(Ports, RowsAndCommandRepliesComeFromTheDriverIntoTheHostsBuffers) {
    startWithDriver();
    driver().setImageSize(6, 8, 4);
    openCamera(6);
    std::uint8_t row[3] = {};
    ASSERT_EQ(getCVLGrabRow(0, 6, row, 2, 4, 6), 1);
    EXPECT_THAT(row, ElementsAre(fake::pixel(6, 2, 4), fake::pixel(6, 2, 5), fake::pixel(6, 2, 6)));
    EXPECT_THAT(driver().calls(),
                ElementsAre("getCVLGrabRow(0,6," + fake::pointer(row) + ",2,4,6)"));
    // The driver's own refusal is the host's answer.
    EXPECT_EQ(getCVLGrabRow(0, 6, row, 4, 0, 1), 0);

    driver().setExecReply("done");
    char reply[16] = {};
    EXPECT_EQ(execCmd(0, 6, "status", "", reply, sizeof reply), 1);
    EXPECT_STREQ(reply, "done");

    driver().setPropertyValue(6, "Exposure", 250);
    int value = 0;
    EXPECT_EQ(getProperty(0, 6, "Exposure", &value), 1);
    EXPECT_EQ(value, 250);
}

TEST_F(Ports, AnEntryTheDriverLacksAnswers0) {
    startWithDriver("fake_driver_no_get_property");
    openCamera(1);
    int value = 5;
    EXPECT_EQ(getProperty(0, 1, "Exposure", &value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_THAT(driver().calls(), IsEmpty());
}

TEST_F(Ports, SetCompleteCallbackOnARealPortIsKeptByQuiltraNotPassedToTheDriver) {
    startWithDriver();
    openCamera(4);
    CompleteCallback hook = driver().completeCallback(4);
    EXPECT_EQ(setCompleteCallback(0, 4, &CallbackRecorder::callback), 1);
    EXPECT_EQ(setCompleteCallback(0, 4, nullptr), 1);
    EXPECT_THAT(driver().calls(), IsEmpty());
    EXPECT_EQ(driver().completeCallback(4), hook);
}

}  // namespace
}  // namespace quiltra::test

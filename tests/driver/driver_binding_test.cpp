// The DriverBinding: loading the driver with its entries, handing it the host's settings,
// unloading, and the debug-message path with its verbose rule.
#include "driver/driver_binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "fake_driver_library.h"
#include "test_support.h"

namespace quiltra {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The system debugger output of this program goes to a file, set before the first write.
const test::TempDir& outputDir() {
    static test::TempDir dir;
    return dir;
}
const std::string kDebugOutput = [] {
    std::string path = outputDir().file("debug-output.txt");
#if defined(_WIN32)
    _putenv(("QUILTRA_DEBUG_OUTPUT=" + path).c_str());
#else
    setenv("QUILTRA_DEBUG_OUTPUT", path.c_str(), 1);
#endif
    return path;
}();

std::mutex messagesMutex;
std::vector<std::string> messages;

void QUILTRA_CALL collect(const char* text) {
    std::lock_guard<std::mutex> lock(messagesMutex);
    messages.emplace_back(text);
}

std::vector<std::string> takeMessages() {
    std::lock_guard<std::mutex> lock(messagesMutex);
    return std::exchange(messages, {});
}

// Whether each of the 21 entries was found, in lookup order.
std::vector<bool> entriesFound(const DriverEntries& e) {
    return {e.setDebugMsgProc != nullptr,
            e.setSystemPath != nullptr,
            e.initialize != nullptr,
            e.finalize != nullptr,
            e.configure != nullptr,
            e.configureCamera != nullptr,
            e.getCVLMaxNoOfGrabbers != nullptr,
            e.getCVLMaxNoOfPorts != nullptr,
            e.getCVLNoOfSupportedCameras != nullptr,
            e.getCVLCameraConfigNames != nullptr,
            e.openCVLPort != nullptr,
            e.closeCVLPort != nullptr,
            e.doCVLGrab != nullptr,
            e.getCVLGrabRow != nullptr,
            e.setHWTrigger != nullptr,
            e.setCompleteCallback != nullptr,
            e.getPropertyRange != nullptr,
            e.getProperty != nullptr,
            e.setProperty != nullptr,
            e.setCmdCallback != nullptr,
            e.execCmd != nullptr};
}

TEST(DriverBinding, AFullDriverHasAll21EntriesAndGetsOnlyItsInitialize) {
    fake::FakeDriverLibrary fake(test::libraryPath("fake_driver"));
    {
        DriverBinding binding(test::libraryPath("fake_driver").c_str(), "/host/system", &collect);
        EXPECT_TRUE(binding.loaded());
        EXPECT_EQ(entriesFound(binding.entries()), std::vector<bool>(21, true));
        EXPECT_EQ(binding.systemPath(), "/host/system");
        EXPECT_EQ(binding.driverFile(), test::libraryPath("fake_driver"));
        EXPECT_EQ(binding.verbose(), 0);
        EXPECT_THAT(fake->calls(),
                    ElementsAre("initialize(\"/host/system\"," +
                                fake::pointer(reinterpret_cast<const void*>(&collect)) + ")"));
        fake->clearCalls();
    }
    EXPECT_THAT(fake->calls(), ElementsAre("finalize()"));
}

TEST(DriverBinding, EntriesADriverDoesNotExportStayEmpty) {
    fake::FakeDriverLibrary fake(test::libraryPath("fake_driver_system_path_only"));
    DriverBinding binding(test::libraryPath("fake_driver_system_path_only").c_str(), "sys",
                          nullptr);
    std::vector<bool> expected(21, true);
    expected[0] = false;  // setDebugMsgProc
    expected[2] = false;  // initialize
    expected[3] = false;  // finalize
    EXPECT_EQ(entriesFound(binding.entries()), expected);
    EXPECT_THAT(fake->calls(), ElementsAre("setSystemPath(\"sys\")"));
}

TEST(DriverBinding, ALibraryThatDoesNotLoadLeavesEveryEntryEmptyAndSendsNothing) {
    for (const char* name : {"", "no_such_driver_library", static_cast<const char*>(nullptr)}) {
        DriverBinding binding(name, "sys", &collect);
        EXPECT_FALSE(binding.loaded());
        EXPECT_EQ(entriesFound(binding.entries()), std::vector<bool>(21, false));
    }
    EXPECT_THAT(takeMessages(), IsEmpty());
}

struct MessageCase {
    int verbose;
    bool withProc;
    std::vector<std::string> expected;
};

TEST(DebugMessages, PlainAlwaysVerboseOnlyWhenVerboseAndNothingWithoutAProcedure) {
    const MessageCase cases[] = {
        {0, true, {"plain 1\n", "system 1\n"}},
        {1, true, {"plain 1\n", "verbose 1\n", "system 1\n"}},
        {-3, true, {"plain 1\n", "verbose 1\n", "system 1\n"}},
        {1, false, {}},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "verbose " << c.verbose << " proc " << c.withProc);
        DriverBinding binding("", "sys", c.withProc ? &collect : nullptr);
        binding.setVerbose(c.verbose);
        binding.plainMessage("plain %d\n", 1);
        binding.verboseMessage("verbose %d\n", 1);
        binding.systemMessage("system %d\n", 1);
        EXPECT_EQ(takeMessages(), c.expected);
    }
}

TEST(DebugMessages, SystemMessagesGoToTheDebuggerOutputWithOrWithoutAProcedure) {
    std::string before = test::readFile(kDebugOutput);
    DriverBinding silent("", "sys", nullptr);
    silent.systemMessage("BUSY:camera %s returned %d\n", "collectImage", 0);
    silent.plainMessage("not for the debugger\n");
    DriverBinding withProc("", "sys", &collect);
    withProc.systemMessage("Waited %d ms for camera processing port %u\n", 3, 7u);
    EXPECT_EQ(test::readFile(kDebugOutput).substr(before.size()),
              "BUSY:camera collectImage returned 0\n"
              "Waited 3 ms for camera processing port 7\n");
    EXPECT_THAT(takeMessages(), ElementsAre("Waited 3 ms for camera processing port 7\n"));
}

TEST(DebugMessages, AMessageLongerThanItsBufferIsCut) {
    DriverBinding binding("", "sys", &collect);
    std::string longText(3000, 'm');
    binding.plainMessage("%s\n", longText.c_str());
    auto sent = takeMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], std::string(DriverBinding::kMessageSize - 1, 'm'));
}

}  // namespace
}  // namespace quiltra

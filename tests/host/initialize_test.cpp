// initialize and finalize as a host sees them: loading the driver named in Quiltra.ini,
// handing it the host's settings, the first start, and unloading.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_test_fixture.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

using Initialize = HostTest;

void expectNoDriverAnswers() {
    EXPECT_EQ(getCVLMaxNoOfPorts(0), 6);
    EXPECT_EQ(getCVLNoOfSupportedCameras(), 0);
    const char** names = getCVLCameraConfigNames();
    ASSERT_NE(names, nullptr);
    for (int i = 0; i < QUILTRA_CAMERA_NAME_LIST_SIZE; ++i) {
        EXPECT_EQ(names[i], nullptr) << "entry " << i;
    }
    int size[2] = {0, 0};
    EXPECT_EQ(openCVLPort(0, 0, "Camera", size), 0);
}

TEST(InitializeWithoutDriver, EmptyOrUnknownDriverNameLoadsNothingAndAnswersAsWithoutDriver) {
    for (const std::string driverLine : {"CameraDriver=", "CameraDriver=no_such_driver_lib"}) {
        SCOPED_TRACE(driverLine);
        TempDir dir;
        writeFile(dir.file("Quiltra.ini"), "[Config]\n" + driverLine + "\n");
        EXPECT_EQ(initialize(dir.str().c_str(), &DebugMessages::collect), 0);
        expectNoDriverAnswers();
        EXPECT_EQ(finalize(), 1);
    }
}

TEST(InitializeWithoutDriver, BeforeInitializeAndAfterFinalizeEveryCallAnswersAsWithoutDriver) {
    expectNoDriverAnswers();
    EXPECT_EQ(finalize(), 1);
    EXPECT_EQ(doCVLGrab(0, 0), 0);
    EXPECT_EQ(configureCamera(nullptr, "Camera"), 0);
}

TEST(InitializeWithoutDriver, NullSystemFolderIsRefusedAndALaterInitializeStillWorks) {
    EXPECT_EQ(initialize(nullptr, &DebugMessages::collect), 0);
    TempDir dir;
    writeFile(dir.file("Quiltra.ini"),
              "[Config]\nCameraDriver=" + libraryPath("fake_driver") + "\n");
    fake::FakeDriverLibrary fake(libraryPath("fake_driver"));
    EXPECT_EQ(initialize(dir.str().c_str(), nullptr), 1);
    EXPECT_EQ(finalize(), 1);
}

TEST(FirstStart, MissingFileIsCreatedWithTheFirstStartContentInOrderAndNoDriverIsLoaded) {
    TempDir dir;
    EXPECT_EQ(initialize(dir.str().c_str(), &DebugMessages::collect), 0);
    EXPECT_EQ(getCVLMaxNoOfPorts(0), 6);
    EXPECT_EQ(finalize(), 1);

    const bool windows = libraryFileName("x") == "x.dll";
    const std::string newline = windows ? "\r\n" : "\n";
    std::string expected;
    for (const std::string& line :
         test::firstStartLines(windows ? "<cameradriver.dll>" : "<cameradriver.so>",
                               windows ? "OvixImageFilter.dll" : "libOvixImageFilter.so",
                               windows ? "OvixResample.dll" : "libOvixResample.so")) {
        expected += line + newline;
    }
    EXPECT_EQ(readFile(dir.file("Quiltra.ini")), expected);
}

TEST(FirstStart, TheNextStartReadsThePlaceholderAndStillLoadsNoDriver) {
    TempDir dir;
    EXPECT_EQ(initialize(dir.str().c_str(), nullptr), 0);
    EXPECT_EQ(finalize(), 1);
    std::string created = readFile(dir.file("Quiltra.ini"));
    EXPECT_EQ(initialize(dir.str().c_str(), nullptr), 0);
    EXPECT_EQ(finalize(), 1);
    EXPECT_EQ(readFile(dir.file("Quiltra.ini")), created);
}

TEST_F(Initialize, LoadsTheDriverAndHandsItTheSystemFolderAndTheHostsDebugProcedure) {
    useDriver();
    EXPECT_EQ(initializeHost(), 1);
    EXPECT_THAT(
        driver().calls(),
        ElementsAre("initialize(" + fake::text(dir_.str().c_str()) + "," +
                    fake::pointer(reinterpret_cast<const void*>(&DebugMessages::collect)) + ")"));
    // The driver's messages go straight to the host.
    driver().sendDebugMessage("driver says hello\n");
    EXPECT_THAT(DebugMessages::all(), ElementsAre("driver says hello\n"));
}

struct HandOverCase {
    const char* variant;
    std::vector<std::string> expectedEntries;
};

TEST_F(Initialize, DriverWithoutInitializeGetsTheSettingsThroughTheEntriesItHas) {
    const std::string proc = fake::pointer(reinterpret_cast<const void*>(&DebugMessages::collect));
    const HandOverCase cases[] = {
        {"fake_driver_no_initialize",
         {"setDebugMsgProc(" + proc + ")",
          "setSystemPath(" + fake::text(dir_.str().c_str()) + ")"}},
        {"fake_driver_system_path_only", {"setSystemPath(" + fake::text(dir_.str().c_str()) + ")"}},
    };
    for (const HandOverCase& handOver : cases) {
        SCOPED_TRACE(handOver.variant);
        useDriver(handOver.variant);
        ASSERT_EQ(initializeHost(), 1);
        EXPECT_EQ(driver().calls(), handOver.expectedEntries);
        EXPECT_EQ(driver().systemPath(), dir_.str());
        EXPECT_EQ(finalize(), 1);
        // Unloaded without a finalize of the driver: it has none.
        EXPECT_EQ(driver().calls(), handOver.expectedEntries);
    }
}

TEST_F(Initialize, SecondInitializeAnswersAsTheFirstWithoutReadingTheFileOrCallingTheDriver) {
    useDriver();
    ASSERT_EQ(initializeHost(), 1);
    writeFile(dir_.file("Quiltra.ini"), "[Config]\nCameraDriver=\n");
    EXPECT_EQ(initializeHost(), 1);
    EXPECT_EQ(initialize(nullptr, nullptr), 1);
    EXPECT_EQ(driver().callsOf("initialize").size(), 1u);
    EXPECT_EQ(finalize(), 1);

    // And the other way round: a start without a driver stays without one.
    EXPECT_EQ(initializeHost(), 0);
    useDriver();
    EXPECT_EQ(initializeHost(), 0);
    EXPECT_THAT(driver().calls(), IsEmpty());
}

TEST_F(Initialize, FinalizeCallsTheDriversFinalizeOnceAndAnInitializeAfterItLoadsAgain) {
    useDriver();
    ASSERT_EQ(initializeHost(), 1);
    driver().clearCalls();
    EXPECT_EQ(finalize(), 1);
    EXPECT_EQ(finalize(), 1);
    EXPECT_THAT(driver().calls(), ElementsAre("finalize()"));
    EXPECT_EQ(getCVLMaxNoOfPorts(0), 6);

    ASSERT_EQ(initializeHost(), 1);
    EXPECT_THAT(driver().calls(), ElementsAre("finalize()", StartsWith("initialize(")));
    EXPECT_EQ(getCVLMaxNoOfPorts(0), 10);
}

TEST_F(Initialize, EntriesThatAreOnlyLookedUpAreNeverCalled) {
    startWithDriver();
    openCamera(1);
    doCVLGrab(0, 1);
    closeCVLPort(0, 1);
    finalize();
    for (const char* entry : {"configure", "getCVLMaxNoOfGrabbers", "setHWTrigger"}) {
        EXPECT_THAT(driver().callsOf(entry), IsEmpty()) << entry;
    }
}

}  // namespace
}  // namespace quiltra::test

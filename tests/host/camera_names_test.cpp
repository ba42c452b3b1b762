// The camera count, the CameraNameList and the port count a host is told.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "host_test_fixture.h"

namespace quiltra::test {
namespace {

using ::testing::ElementsAreArray;

const std::vector<std::string> kScanners = {"Scanner0001", "Scanner0002", "Scanner0003",
                                            "Scanner0004", "Scanner0005", "Scanner0006"};

// The whole list as texts; null entries as "<null>".
std::vector<std::string> nameList() {
    const char** names = getCVLCameraConfigNames();
    std::vector<std::string> list;
    for (int i = 0; i < QUILTRA_CAMERA_NAME_LIST_SIZE; ++i) {
        list.push_back(names[i] != nullptr ? names[i] : "<null>");
    }
    return list;
}

std::vector<std::string> padded(std::vector<std::string> names) {
    names.resize(QUILTRA_CAMERA_NAME_LIST_SIZE, "<null>");
    return names;
}

std::vector<std::string> numberedCameras(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back("Cam" + std::to_string(i));
    }
    return names;
}

using CameraNames = HostTest;

TEST_F(CameraNames, FourDriverCamerasAreFollowedByTheSixScannersThenEmptyEntries) {
    useDriver();
    driver().setCameraNames({"Alpha", "Beta", "Gamma", "Delta"});
    ASSERT_EQ(initializeHost(), 1);
    EXPECT_EQ(getCVLNoOfSupportedCameras(), 10);
    std::vector<std::string> expected = {"Alpha", "Beta", "Gamma", "Delta"};
    expected.insert(expected.end(), kScanners.begin(), kScanners.end());
    EXPECT_THAT(nameList(), ElementsAreArray(padded(expected)));
}

TEST_F(CameraNames, NoDriverCameraGivesNoScannersEither) {
    useDriver();
    driver().setCameraNames({});
    ASSERT_EQ(initializeHost(), 1);
    EXPECT_EQ(getCVLNoOfSupportedCameras(), 0);
    EXPECT_THAT(nameList(), ElementsAreArray(padded({})));
    EXPECT_TRUE(driver().callsOf("getCVLCameraConfigNames").empty());
}

TEST_F(CameraNames, ListIsRebuiltOnEveryCallFromTheDriversCurrentNames) {
    useDriver();
    driver().setCameraNames({"Alpha", "Beta"});
    ASSERT_EQ(initializeHost(), 1);
    ASSERT_EQ(nameList()[1], "Beta");
    driver().setCameraNames({"Gamma"});
    std::vector<std::string> expected = {"Gamma"};
    expected.insert(expected.end(), kScanners.begin(), kScanners.end());
    EXPECT_THAT(nameList(), ElementsAreArray(padded(expected)));
}

TEST_F(CameraNames, MoreThan122DriverCamerasAreCutSoCountAndListAgree) {
    useDriver();
    driver().setCameraNames(numberedCameras(125));
    ASSERT_EQ(initializeHost(), 1);
    EXPECT_EQ(getCVLNoOfSupportedCameras(), 128);
    std::vector<std::string> expected = numberedCameras(122);
    expected.insert(expected.end(), kScanners.begin(), kScanners.end());
    EXPECT_THAT(nameList(), ElementsAreArray(expected));
}

TEST_F(CameraNames, PositiveCountWithoutUsableNamesGivesAnEmptyListAndCountZero) {
    struct Case {
        const char* what;
        const char* variant;
        int reported;
        bool nullList;
    };
    for (const Case& c : {Case{"null list", "fake_driver", 3, true},
                          Case{"no name entry", "fake_driver_no_names", 3, false}}) {
        SCOPED_TRACE(c.what);
        useDriver(c.variant);
        driver().setCameraNames({"A", "B", "C"}, c.reported, c.nullList);
        ASSERT_EQ(initializeHost(), 1);
        EXPECT_EQ(getCVLNoOfSupportedCameras(), 0);
        EXPECT_THAT(nameList(), ElementsAreArray(padded({})));
        finalize();
    }
}

TEST_F(CameraNames, ACountBeyondTheDriversNamesListsOnlyTheNamesBeforeTheFirstNull) {
    useDriver();
    driver().setCameraNames({"Alpha", "Beta"}, 5);
    ASSERT_EQ(initializeHost(), 1);
    EXPECT_EQ(getCVLNoOfSupportedCameras(), 8);
    std::vector<std::string> expected = {"Alpha", "Beta"};
    expected.insert(expected.end(), kScanners.begin(), kScanners.end());
    EXPECT_THAT(nameList(), ElementsAreArray(padded(expected)));
}

TEST_F(CameraNames, PortCountIsTheDriversPlusSixAtMostTheTableSize) {
    useDriver();
    ASSERT_EQ(initializeHost(), 1);
    for (auto [driverPorts, expected] :
         {std::pair{4, 10}, {0, 6}, {122, 128}, {200, 128}, {INT_MAX, 128}}) {
        driver().setPortCount(driverPorts);
        EXPECT_EQ(getCVLMaxNoOfPorts(3), expected) << driverPorts;
    }
    EXPECT_EQ(driver().callsOf("getCVLMaxNoOfPorts").front(), "getCVLMaxNoOfPorts(3)");
}

}  // namespace
}  // namespace quiltra::test

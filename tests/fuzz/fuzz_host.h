// The host the configuration and control fuzz targets play, made once per process: a system
// folder, the fake driver with a few small cameras, and the fake plug-ins, all kept loaded
// across inputs so that an input costs only what it exercises.
#pragma once

#include <quiltra/camera_driver.h>

#include <string>

#include "fake_driver_library.h"
#include "fake_plugin.h"
#include "test_support.h"

namespace quiltra::fuzz {

class FuzzHost {
public:
    // The real camera ports the fake serves; a scanner section may name any of them.
    static constexpr int kCameraPorts = 4;

    static FuzzHost& instance();

    // Writes Quiltra.ini: `content` with $DRIVER, $RESAMPLER and $PREFILTER replaced by the
    // paths of the fakes, so corpus files stay independent of the build folder.
    void writeConfiguration(const std::string& content) const;
    // initialize with the system folder and a debug procedure that drops every text.
    int initialize() const;
    // Opens the real camera ports 0 .. kCameraPorts - 1 on grabber 0.
    void openCameras() const;
    // The fake driver delivers one image of camera `port`; returns when it was handled.
    void deliver(int port) const;
    // Forgets the fake driver's log and its callbacks' deliveries, which grow with every call.
    void resetDriverLog() const;

private:
    FuzzHost();

    test::TempDir folder_;
    std::string folderPath_ = folder_.str();
    std::string driverPath_ = test::libraryPath("fake_driver");
    fake::FakeDriverLibrary driver_;
    test::FakePlugin resampler_{"fake_resampler"};
    test::FakePlugin prefilter_{"fake_prefilter"};
};

}  // namespace quiltra::fuzz

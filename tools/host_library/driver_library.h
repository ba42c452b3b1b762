// A camera driver library loaded as a host application loads one: by file name, with its
// sixteen entry points looked up by name. Shared by quiltra-grab and the tests of the tools.
#pragma once

#include <quiltra/camera_driver.h>

#include <string>
#include <vector>

#include "platform/dynamic_library.h"

namespace quiltra::tools {

struct DriverEntryPoints {
    InitializeFn initialize = nullptr;
    FinalizeFn finalize = nullptr;
    ConfigureCameraFn configureCamera = nullptr;
    GetCVLMaxNoOfPortsFn getCVLMaxNoOfPorts = nullptr;
    GetCVLNoOfSupportedCamerasFn getCVLNoOfSupportedCameras = nullptr;
    GetCVLCameraConfigNamesFn getCVLCameraConfigNames = nullptr;
    OpenCVLPortFn openCVLPort = nullptr;
    CloseCVLPortFn closeCVLPort = nullptr;
    DoCVLGrabFn doCVLGrab = nullptr;
    GetCVLGrabRowFn getCVLGrabRow = nullptr;
    SetCompleteCallbackFn setCompleteCallback = nullptr;
    GetPropertyRangeFn getPropertyRange = nullptr;
    GetPropertyFn getProperty = nullptr;
    SetPropertyFn setProperty = nullptr;
    SetCmdCallbackFn setCmdCallback = nullptr;
    ExecCmdFn execCmd = nullptr;
    // Extras of an underlying driver; null when the library does not export them.
    SetDebugMsgProcFn setDebugMsgProc = nullptr;
    SetSystemPathFn setSystemPath = nullptr;
};

class DriverLibrary {
public:
    // What a library that lacks some of the sixteen entry points is: not loaded (a host
    // needs every entry), or loaded with those entries null (a checker reports them).
    enum class Lacking { refuse, keep };

    // Loads path and looks up the entry points. On failure loaded() is false and error()
    // says why (not found, not loadable, or, with Lacking::refuse, the entries it lacks).
    explicit DriverLibrary(const std::string& path, Lacking lacking = Lacking::refuse);

    bool loaded() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const DriverEntryPoints& entries() const { return entries_; }
    // The names of the sixteen entry points the library does not export, in interface order.
    const std::vector<std::string>& missingEntries() const { return missing_; }

private:
    platform::DynamicLibrary library_;
    DriverEntryPoints entries_;
    std::vector<std::string> missing_;
    std::string error_;
};

// The Quiltra library beside the running program (libquiltra.so or quiltra.dll).
std::string defaultLibraryPath();

}  // namespace quiltra::tools

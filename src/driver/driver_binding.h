// The one binding to the underlying camera driver: the loaded library, its 21 entries, the
// host's system folder and debug procedure, the verbose flag, and the debug-message path
// that every part of the library reports through.
#pragma once

#include <quiltra/camera_driver.h>

#include <atomic>
#include <cstdarg>
#include <string>

#include "platform/dynamic_library.h"

namespace quiltra {

// The driver's entry points, in lookup order; each is null when the library did not load or
// does not export that name. Set once at creation, then only read (from any thread).
struct DriverEntries {
    SetDebugMsgProcFn setDebugMsgProc = nullptr;
    SetSystemPathFn setSystemPath = nullptr;
    InitializeFn initialize = nullptr;
    FinalizeFn finalize = nullptr;
    ConfigureFn configure = nullptr;
    ConfigureCameraFn configureCamera = nullptr;
    GetCVLMaxNoOfGrabbersFn getCVLMaxNoOfGrabbers = nullptr;
    GetCVLMaxNoOfPortsFn getCVLMaxNoOfPorts = nullptr;
    GetCVLNoOfSupportedCamerasFn getCVLNoOfSupportedCameras = nullptr;
    GetCVLCameraConfigNamesFn getCVLCameraConfigNames = nullptr;
    OpenCVLPortFn openCVLPort = nullptr;
    CloseCVLPortFn closeCVLPort = nullptr;
    DoCVLGrabFn doCVLGrab = nullptr;
    GetCVLGrabRowFn getCVLGrabRow = nullptr;
    SetHWTriggerFn setHWTrigger = nullptr;
    SetCompleteCallbackFn setCompleteCallback = nullptr;
    GetPropertyRangeFn getPropertyRange = nullptr;
    GetPropertyFn getProperty = nullptr;
    SetPropertyFn setProperty = nullptr;
    SetCmdCallbackFn setCmdCallback = nullptr;
    ExecCmdFn execCmd = nullptr;
};

class DriverBinding {
public:
    // Loads driverFile exactly as written, looks up the 21 entries and hands the host's
    // settings to the driver: its initialize(systemPath, debugMsgProc) when it has one,
    // otherwise setDebugMsgProc then setSystemPath, each when present. verbose starts at 0.
    DriverBinding(const char* driverFile, const char* systemPath, DebugMsgProc debugMsgProc);
    // Calls the driver's finalize (when loaded and present), then unloads it.
    ~DriverBinding();
    DriverBinding(const DriverBinding&) = delete;
    DriverBinding& operator=(const DriverBinding&) = delete;

    bool loaded() const { return library_.loaded(); }
    const DriverEntries& entries() const { return entries_; }
    const std::string& driverFile() const { return driverFile_; }
    const std::string& systemPath() const { return systemPath_; }
    DebugMsgProc debugMsgProc() const { return debugMsgProc_; }

    // The library-wide Verbose flag; read and changed from any thread.
    int verbose() const { return verbose_.load(std::memory_order_relaxed); }
    void setVerbose(int value) { verbose_.store(value, std::memory_order_relaxed); }

    // A plain message: formatted, then handed in one call to the host's debug procedure when
    // there is one. Texts longer than the message buffer are cut.
    void plainMessage(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // A verbose message: as a plain one, but only while verbose() is not 0.
    void verboseMessage(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // A plain message that also goes to the system debugger output, whether or not the host
    // has a debug procedure.
    void systemMessage(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Size of the buffer a message is formatted into, including the NUL.
    static constexpr int kMessageSize = 1024;

private:
    // Formats the message into a buffer of kMessageSize, sends it to the debugger output
    // when asked, then to the host's debug procedure when there is one.
    void send(bool toDebugger, const char* format, va_list args) const;

    std::string driverFile_;
    std::string systemPath_;
    DebugMsgProc debugMsgProc_;
    std::atomic<int> verbose_{0};
    platform::DynamicLibrary library_;
    DriverEntries entries_;
};

}  // namespace quiltra

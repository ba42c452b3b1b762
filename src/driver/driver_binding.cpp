#include "driver/driver_binding.h"

#include <cstdarg>

#include "platform/debug_output.h"
#include "platform/fixed_text.h"

namespace quiltra {

namespace {

// Looks one entry up into `entry`, typed as the field it fills.
template <typename F>
void lookUp(const platform::DynamicLibrary& library, const char* name, F& entry) {
    entry = library.function<F>(name);
}

}  // namespace

DriverBinding::DriverBinding(const char* driverFile, const char* systemPath,
                             DebugMsgProc debugMsgProc)
    : driverFile_(driverFile != nullptr ? driverFile : ""),
      systemPath_(systemPath != nullptr ? systemPath : ""),
      debugMsgProc_(debugMsgProc),
      library_(platform::DynamicLibrary::load(driverFile_.c_str())) {
    if (!library_.loaded()) {
        return;
    }
    // The driver will hold pointers to our code (the completion hook): from now on a host
    // that unloads us without finalize must not unmap it.
    platform::pinOwnModule();
    // The order of the lookups is the order of the entry list.
    lookUp(library_, "setDebugMsgProc", entries_.setDebugMsgProc);
    lookUp(library_, "setSystemPath", entries_.setSystemPath);
    lookUp(library_, "initialize", entries_.initialize);
    lookUp(library_, "finalize", entries_.finalize);
    lookUp(library_, "configure", entries_.configure);
    lookUp(library_, "configureCamera", entries_.configureCamera);
    lookUp(library_, "getCVLMaxNoOfGrabbers", entries_.getCVLMaxNoOfGrabbers);
    lookUp(library_, "getCVLMaxNoOfPorts", entries_.getCVLMaxNoOfPorts);
    lookUp(library_, "getCVLNoOfSupportedCameras", entries_.getCVLNoOfSupportedCameras);
    lookUp(library_, "getCVLCameraConfigNames", entries_.getCVLCameraConfigNames);
    lookUp(library_, "openCVLPort", entries_.openCVLPort);
    lookUp(library_, "closeCVLPort", entries_.closeCVLPort);
    lookUp(library_, "doCVLGrab", entries_.doCVLGrab);
    lookUp(library_, "getCVLGrabRow", entries_.getCVLGrabRow);
    lookUp(library_, "setHWTrigger", entries_.setHWTrigger);
    lookUp(library_, "setCompleteCallback", entries_.setCompleteCallback);
    lookUp(library_, "getPropertyRange", entries_.getPropertyRange);
    lookUp(library_, "getProperty", entries_.getProperty);
    lookUp(library_, "setProperty", entries_.setProperty);
    lookUp(library_, "setCmdCallback", entries_.setCmdCallback);
    lookUp(library_, "execCmd", entries_.execCmd);

    // The driver gets the host's own debug procedure, so its messages go straight to the
    // host. It gets our copy of the system folder, which lives until after its finalize.
    if (entries_.initialize != nullptr) {
        entries_.initialize(systemPath_.c_str(), debugMsgProc_);
        return;
    }
    if (entries_.setDebugMsgProc != nullptr) {
        entries_.setDebugMsgProc(debugMsgProc_);
    }
    if (entries_.setSystemPath != nullptr) {
        entries_.setSystemPath(systemPath_.c_str());
    }
}

DriverBinding::~DriverBinding() {
    if (library_.loaded() && entries_.finalize != nullptr) {
        entries_.finalize();
    }
    library_.close();
}

void DriverBinding::plainMessage(const char* format, ...) const {
    if (debugMsgProc_ == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    send(false, format, args);
    va_end(args);
}

void DriverBinding::verboseMessage(const char* format, ...) const {
    if (debugMsgProc_ == nullptr || verbose() == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    send(false, format, args);
    va_end(args);
}

void DriverBinding::systemMessage(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    send(true, format, args);
    va_end(args);
}

void DriverBinding::send(bool toDebugger, const char* format, va_list args) const {
    char text[kMessageSize];
    platform::formatTextV(text, sizeof text, format, args);
    if (toDebugger) {
        platform::outputDebugString(text);
    }
    if (debugMsgProc_ != nullptr) {
        debugMsgProc_(text);
    }
}

}  // namespace quiltra

// The sixteen exported entry points. Each is an error barrier: whatever goes wrong inside is
// answered with 0 (or nothing), and no exception ever reaches the host.
#define QUILTRA_DRIVER_EXPORTS
#include <quiltra/camera_driver.h>

#include <type_traits>

#include "host/driver_host.h"
#include "scanner/library_frame.h"

namespace {

using quiltra::DriverHost;

// Runs one entry point's work in a library frame (a close requested from inside a host
// callback completes when the outermost frame ends); an exception becomes the empty answer
// (0, null, nothing).
template <typename Work>
auto barrier(Work&& work) noexcept -> decltype(work()) {
    using Result = decltype(work());
    try {
        quiltra::LibraryFrame frame;
        return work();
    } catch (...) {
        if constexpr (!std::is_void_v<Result>) {
            return Result{};
        }
    }
}

DriverHost& host() {
    return DriverHost::instance();
}

}  // namespace

extern "C" {

int QUILTRA_CALL initialize(const char* systemPath, DebugMsgProc debugMsgProc) {
    return barrier([&] { return host().initialize(systemPath, debugMsgProc); });
}

int QUILTRA_CALL finalize(void) {
    return barrier([&] { return host().finalize(); });
}

int QUILTRA_CALL configureCamera(void* ownerWindow, const char* cameraName) {
    return barrier([&] { return host().configureCamera(ownerWindow, cameraName); });
}

int QUILTRA_CALL getCVLMaxNoOfPorts(int grabber) {
    return barrier([&] { return host().getCVLMaxNoOfPorts(grabber); });
}

int QUILTRA_CALL getCVLNoOfSupportedCameras(void) {
    return barrier([&] { return host().getCVLNoOfSupportedCameras(); });
}

const char** QUILTRA_CALL getCVLCameraConfigNames(void) {
    return barrier([&] { return host().getCVLCameraConfigNames(); });
}

int QUILTRA_CALL openCVLPort(int grabber, int port, const char* cameraName, int* size) {
    return barrier([&] { return host().openCVLPort(grabber, port, cameraName, size); });
}

void QUILTRA_CALL closeCVLPort(int grabber, int port) {
    barrier([&] { host().closeCVLPort(grabber, port); });
}

int QUILTRA_CALL doCVLGrab(int grabber, int port) {
    return barrier([&] { return host().doCVLGrab(grabber, port); });
}

int QUILTRA_CALL getCVLGrabRow(int grabber, int port, void* buffer, int row, int firstColumn,
                               int lastColumn) {
    return barrier(
        [&] { return host().getCVLGrabRow(grabber, port, buffer, row, firstColumn, lastColumn); });
}

int QUILTRA_CALL setCompleteCallback(int grabber, int port, CompleteCallback callback) {
    return barrier([&] { return host().setCompleteCallback(grabber, port, callback); });
}

int QUILTRA_CALL getPropertyRange(int grabber, int port, const char* name, int* minValue,
                                  int* maxValue) {
    return barrier(
        [&] { return host().getPropertyRange(grabber, port, name, minValue, maxValue); });
}

int QUILTRA_CALL getProperty(int grabber, int port, const char* name, int* value) {
    return barrier([&] { return host().getProperty(grabber, port, name, value); });
}

int QUILTRA_CALL setProperty(int grabber, int port, const char* name, int value) {
    return barrier([&] { return host().setProperty(grabber, port, name, value); });
}

int QUILTRA_CALL setCmdCallback(int grabber, int port, CmdCallback callback) {
    return barrier([&] { return host().setCmdCallback(grabber, port, callback); });
}

int QUILTRA_CALL execCmd(int grabber, int port, const char* command, const char* arguments,
                         char* result, int resultSize) {
    return barrier(
        [&] { return host().execCmd(grabber, port, command, arguments, result, resultSize); });
}

}  // extern "C"

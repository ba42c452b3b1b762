// simcam's exported entry points: the sixteen of the camera driver interface plus
// setDebugMsgProc and setSystemPath. Each is an error barrier: nothing thrown leaves it.
#include <quiltra/camera_driver.h>

#include "sim_driver.h"

using quiltra::simcam::SimDriver;

namespace {

template <typename Call>
auto guarded(Call call, decltype(call()) failure) noexcept -> decltype(call()) {
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

}  // namespace

extern "C" {

QUILTRA_DRIVER_API int QUILTRA_CALL initialize(const char* systemPath, DebugMsgProc debugMsgProc) {
    return guarded([&] { return SimDriver::instance().initialize(systemPath, debugMsgProc); }, 0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL finalize(void) {
    return guarded([&] { return SimDriver::instance().finalize(); }, 0);
}

QUILTRA_DRIVER_API void QUILTRA_CALL setDebugMsgProc(DebugMsgProc proc) {
    SimDriver::instance().setDebugMsgProc(proc);
}

QUILTRA_DRIVER_API void QUILTRA_CALL setSystemPath(const char* systemPath) {
    guarded(
        [&] {
            SimDriver::instance().setSystemPath(systemPath);
            return 1;
        },
        0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL configureCamera(void* /*ownerWindow*/, const char* cameraName) {
    return guarded([&] { return SimDriver::instance().configureCamera(cameraName); }, 0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL getCVLMaxNoOfPorts(int grabber) {
    return guarded([&] { return SimDriver::instance().maxPorts(grabber); }, 0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL getCVLNoOfSupportedCameras(void) {
    return guarded([&] { return SimDriver::instance().cameraCount(); }, 0);
}

QUILTRA_DRIVER_API const char** QUILTRA_CALL getCVLCameraConfigNames(void) {
    return SimDriver::instance().cameraNames();
}

QUILTRA_DRIVER_API int QUILTRA_CALL openCVLPort(int grabber, int port, const char* cameraName,
                                                int* size) {
    return guarded([&] { return SimDriver::instance().openPort(grabber, port, cameraName, size); },
                   0);
}

QUILTRA_DRIVER_API void QUILTRA_CALL closeCVLPort(int grabber, int port) {
    guarded(
        [&] {
            SimDriver::instance().closePort(grabber, port);
            return 1;
        },
        0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL doCVLGrab(int grabber, int port) {
    return guarded([&] { return SimDriver::instance().grab(grabber, port); }, 0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL getCVLGrabRow(int grabber, int port, void* buffer, int row,
                                                  int firstColumn, int lastColumn) {
    return guarded(
        [&] {
            return SimDriver::instance().grabRow(grabber, port, buffer, row, firstColumn,
                                                 lastColumn);
        },
        0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL setCompleteCallback(int grabber, int port,
                                                        CompleteCallback callback) {
    return guarded(
        [&] { return SimDriver::instance().setCompleteCallback(grabber, port, callback); }, 0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL getPropertyRange(int grabber, int port, const char* name,
                                                     int* minValue, int* maxValue) {
    return guarded(
        [&] {
            return SimDriver::instance().propertyRange(grabber, port, name, minValue, maxValue);
        },
        0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL getProperty(int grabber, int port, const char* name,
                                                int* value) {
    return guarded([&] { return SimDriver::instance().getProperty(grabber, port, name, value); },
                   0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL setProperty(int grabber, int port, const char* name,
                                                int value) {
    return guarded([&] { return SimDriver::instance().setProperty(grabber, port, name, value); },
                   0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL setCmdCallback(int grabber, int port, CmdCallback callback) {
    return guarded([&] { return SimDriver::instance().setCmdCallback(grabber, port, callback); },
                   0);
}

QUILTRA_DRIVER_API int QUILTRA_CALL execCmd(int grabber, int port, const char* command,
                                            const char* arguments, char* result, int resultSize) {
    return guarded(
        [&] {
            return SimDriver::instance().execCmd(grabber, port, command, arguments, result,
                                                 resultSize);
        },
        0);
}

}  // extern "C"

// A scriptable fake resampler plug-in: logs every call with its arguments; ResampleBuffer
// copies the first bytes of the source into the destination and leaves the scripted size.
// Built once as is and once without CreateResampler (FAKE_WITHOUT_CREATE).
#include <quiltra/plugin.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "fake_plugin_control.h"
#include "fake_plugin_log.h"

#if !defined(FAKE_WITHOUT_CREATE)
extern "C" QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateResampler(
    const char* calibFile, int inputRows, int inputColumns, float centreX, float centreY,
    float sizeX, float sizeY, float angle, int outputRows, int outputColumns) {
    const uintptr_t handle = fake_plugin::newInstance();
    fake_plugin::record(
        "CreateResampler calib=%s in=%dx%d centre=%g,%g size=%g,%g angle=%g out=%dx%d -> %lu",
        calibFile, inputRows, inputColumns, centreX, centreY, sizeX, sizeY, angle, outputRows,
        outputColumns, static_cast<unsigned long>(handle));
    return handle;
}
#endif

extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL SetResampleMode(uintptr_t resampler, int mode) {
    fake_plugin::record("SetResampleMode %lu %d", static_cast<unsigned long>(resampler), mode);
    return 1;
}

extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL ResampleBuffer(uintptr_t resampler,
                                                              const void* source, int rows,
                                                              int columns, int bytesPerPixel,
                                                              void* destination, uint32_t* size) {
    fake_plugin::record("ResampleBuffer %lu %dx%dx%d size=%u",
                        static_cast<unsigned long>(resampler), rows, columns, bytesPerPixel, *size);
    const std::size_t sourceSize = static_cast<std::size_t>(rows) *
                                   static_cast<std::size_t>(columns) *
                                   static_cast<std::size_t>(bytesPerPixel);
    std::memcpy(destination, source, std::min<std::size_t>(sourceSize, *size));
    int resultSize = -1;
    int delayMs = 0;
    {
        std::lock_guard guard(fake_plugin::state().mutex);
        resultSize = fake_plugin::state().resultSize;
        delayMs = fake_plugin::state().delayMs;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (resultSize >= 0) {
        *size = static_cast<uint32_t>(resultSize);
    }
    return 1;
}

extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseResampler(uintptr_t resampler) {
    fake_plugin::releaseInstance(resampler);
    fake_plugin::record("ReleaseResampler %lu", static_cast<unsigned long>(resampler));
    return 1;
}

// Looked up by the binding, never called.
extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL ResampleBitmap(void) {
    return 0;
}

FAKE_PLUGIN_CONTROL_FUNCTIONS

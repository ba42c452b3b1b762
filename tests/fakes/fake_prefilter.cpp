// A scriptable fake prefilter plug-in: logs every call with its arguments and, when
// executed, writes each input byte plus 1 into the output image (also in place).
// Built once as is and once without CreateFilter (FAKE_WITHOUT_CREATE).
#include <quiltra/plugin.h>

#include <cstddef>
#include <cstring>

#include "fake_plugin_control.h"
#include "fake_plugin_log.h"

namespace {

// The descriptor read by byte offsets, as a plug-in built by another compiler would.
struct RawDescriptor {
    int32_t rows;
    int32_t columns;
    unsigned bytesPerPixel;
    unsigned char* pixels;
};

RawDescriptor readRaw(const void* descriptor) {
    const auto* bytes = static_cast<const unsigned char*>(descriptor);
    RawDescriptor raw{};
    std::memcpy(&raw.rows, bytes + 0, 4);
    std::memcpy(&raw.columns, bytes + 4, 4);
    raw.bytesPerPixel = bytes[8];
    std::memcpy(&raw.pixels, bytes + (sizeof(void*) == 4 ? 12 : 16), sizeof(void*));
    return raw;
}

}  // namespace

#if !defined(FAKE_WITHOUT_CREATE)
extern "C" QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateFilter(const char* type,
                                                                  const char* filterFile,
                                                                  const char* options) {
    const uintptr_t handle = fake_plugin::newInstance();
    fake_plugin::record("CreateFilter type=%s file=%s options=%s -> %lu", type, filterFile, options,
                        static_cast<unsigned long>(handle));
    return handle;
}
#endif

extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL ExecuteFilter(uintptr_t filter,
                                                             const ImageDescriptor* in,
                                                             ImageDescriptor* out,
                                                             const char* options) {
    const RawDescriptor input = readRaw(in);
    const RawDescriptor output = readRaw(out);
    fake_plugin::record("ExecuteFilter %lu in=%dx%dx%u out=%dx%dx%u %s options=%s",
                        static_cast<unsigned long>(filter), input.rows, input.columns,
                        input.bytesPerPixel, output.rows, output.columns, output.bytesPerPixel,
                        input.pixels == output.pixels ? "in-place" : "separate", options);
    const std::size_t size = static_cast<std::size_t>(output.rows) *
                             static_cast<std::size_t>(output.columns) * output.bytesPerPixel;
    for (std::size_t i = 0; i < size; ++i) {
        output.pixels[i] = static_cast<unsigned char>(input.pixels[i] + 1);
    }
    return 1;
}

extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseFilter(uintptr_t filter) {
    fake_plugin::releaseInstance(filter);
    fake_plugin::record("ReleaseFilter %lu", static_cast<unsigned long>(filter));
    return 1;
}

FAKE_PLUGIN_CONTROL_FUNCTIONS

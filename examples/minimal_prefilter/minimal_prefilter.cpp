// A complete prefilter plug-in, as small as one can be: it inverts every byte of the image
// (255 - value). The options text is ignored; the prefilter file must exist, as a stand-in
// for the settings a real filter would read from it.
//
// Build it against Quiltra's public header only; docs/plugins.md gives the commands.
#include <quiltra/plugin.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// One instance per calibration entry that names this plug-in. Quiltra calls ExecuteFilter
// for one instance from one thread at a time, so an instance needs no lock of its own;
// instances of different cameras may run at the same time, so nothing here is shared.
struct Invert {
    unsigned long executions = 0;
};

bool fileExists(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

bool sameGeometry(const ImageDescriptor& in, const ImageDescriptor& out) {
    return in.rows == out.rows && in.columns == out.columns &&
           in.bytesPerPixel == out.bytesPerPixel;
}

}  // namespace

extern "C" {

QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateFilter(const char* type, const char* filterFile,
                                                       const char* /*options*/) {
    if (type == nullptr || std::strcmp(type, "f") != 0 || filterFile == nullptr ||
        !fileExists(filterFile)) {
        return 0;  // no instance: Quiltra then passes this camera's images unfiltered
    }
    return reinterpret_cast<uintptr_t>(new (std::nothrow) Invert);
}

QUILTRA_PLUGIN_API int QUILTRA_CALL ExecuteFilter(uintptr_t filter, const ImageDescriptor* in,
                                                  ImageDescriptor* out, const char* /*options*/) {
    if (filter == 0 || in == nullptr || out == nullptr || in->pixels == nullptr ||
        out->pixels == nullptr || in->rows <= 0 || in->columns <= 0 || !sameGeometry(*in, *out)) {
        return 0;
    }
    const std::size_t bytes =
        std::size_t(in->rows) * std::size_t(in->columns) * std::size_t(in->bytesPerPixel);
    // In place (both descriptors address the same pixels) each byte is read before it is
    // written, so one loop serves both cases.
    const auto* source = static_cast<const unsigned char*>(in->pixels);
    auto* destination = static_cast<unsigned char*>(out->pixels);
    for (std::size_t i = 0; i < bytes; ++i) {
        destination[i] = static_cast<unsigned char>(255 - source[i]);
    }
    ++reinterpret_cast<Invert*>(filter)->executions;
    return 1;
}

QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseFilter(uintptr_t filter) {
    delete reinterpret_cast<Invert*>(filter);
    return 1;
}

}  // extern "C"

#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace quiltra::platform {

DynamicLibrary DynamicLibrary::load(const char* name) {
    DynamicLibrary library;
    if (name != nullptr && name[0] != '\0') {
        library.handle_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    }
    return library;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(handle_, name);
}

void DynamicLibrary::close() {
    if (handle_ != nullptr) {
        dlclose(std::exchange(handle_, nullptr));
    }
}

void pinOwnModule() {
    // Opening the module again with RTLD_NODELETE marks it never to be unmapped; the handle
    // is kept and never closed. Done once: the mark stays.
    static void* const pinned = [] {
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&pinOwnModule), &info) == 0 ||
            info.dli_fname == nullptr) {
            return static_cast<void*>(nullptr);
        }
        return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }();
    static_cast<void>(pinned);
}

}  // namespace quiltra::platform

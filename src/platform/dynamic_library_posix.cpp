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

}  // namespace quiltra::platform

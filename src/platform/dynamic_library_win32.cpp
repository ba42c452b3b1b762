#include <windows.h>

#include "platform/dynamic_library.h"

namespace quiltra::platform {

DynamicLibrary DynamicLibrary::load(const char* name) {
    DynamicLibrary library;
    if (name != nullptr && name[0] != '\0') {
        library.handle_ = reinterpret_cast<void*>(LoadLibraryA(name));
    }
    return library;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::close() {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)));
    }
}

void pinOwnModule() {
    // A pinned module stays loaded until the process ends, whatever FreeLibrary calls
    // follow. Done once: the pin stays.
    static const bool pinned = [] {
        HMODULE module = nullptr;
        return GetModuleHandleExA(
                   GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                   reinterpret_cast<LPCSTR>(&pinOwnModule), &module) != 0;
    }();
    static_cast<void>(pinned);
}

}  // namespace quiltra::platform

// A loaded dynamic library (LoadLibraryA / dlopen). Move-only; unloads when destroyed or
// closed. The name is handed to the loader exactly as written.
#pragma once

#include <utility>

namespace quiltra::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    // Loads `name`; an empty name, a null name or a failed load gives an unloaded library.
    static DynamicLibrary load(const char* name);

    DynamicLibrary(DynamicLibrary&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary() { close(); }

    bool loaded() const { return handle_ != nullptr; }
    // The address exported under `name`, or null when not loaded or not exported.
    void* symbol(const char* name) const;
    // Typed lookup: `F` is a function pointer type.
    template <typename F>
    F function(const char* name) const {
        return reinterpret_cast<F>(symbol(name));
    }
    // Unloads now (FreeLibrary / dlclose); harmless when not loaded.
    void close();

private:
    void* handle_ = nullptr;
};

// Keeps the module that holds this code (the library itself) loaded until the process ends,
// however often the host unloads it: once a driver holds a pointer to our code, unmapping it
// would leave the driver calling freed memory. Idempotent and thread-safe.
void pinOwnModule();

}  // namespace quiltra::platform

// One prefilter of one calibration entry: its own load of the prefilter plug-in library,
// the three looked-up functions and its own filter instance, released with the binding.
#pragma once

#include <quiltra/plugin.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dynamic_library.h"

namespace quiltra {

class FilterBinding {
public:
    // makeFilterBinding: none (an empty calibration entry) when `filterFile` is empty or the
    // record cannot be made; otherwise a binding that loaded `library` as written and, when
    // the library has CreateFilter, created its instance. A failed load, a missing function
    // or an instance of 0 is not reported: such a binding never filters.
    static std::unique_ptr<FilterBinding> make(const char* library, const char* filterFile,
                                               const char* options);

    // Releases the instance (ReleaseFilter, when present and the instance is not 0), then
    // unloads the library.
    ~FilterBinding();
    FilterBinding(const FilterBinding&) = delete;
    FilterBinding& operator=(const FilterBinding&) = delete;

    const std::string& libraryPath() const { return libraryPath_; }
    const std::string& filterType() const { return filterType_; }
    const std::string& filterName() const { return filterName_; }
    const std::string& filterOptions() const { return filterOptions_; }
    bool loaded() const { return module_.loaded(); }
    uintptr_t filterHandle() const { return filterHandle_; }

    // True when execute would call the plug-in (it has ExecuteFilter and an instance).
    bool canExecute() const { return executeFilter_ != nullptr && filterHandle_ != 0; }

    // The prefilter step: hands ExecuteFilter an input descriptor of `source` and an output
    // descriptor of `destination` (the same address when filtering in place), both rows x
    // columns x bytesPerPixel (its low byte), and the options text. Returns false, calling
    // nothing, when canExecute() is false; the plug-in's own result is not examined.
    // Called under the camera's lock, so calls for one instance never overlap.
    bool execute(int rows, int columns, int bytesPerPixel, void* source, void* destination) const;

private:
    FilterBinding(const char* library, const char* filterFile, const char* options);

    std::string libraryPath_;
    std::string filterType_;
    std::string filterName_;
    std::string filterOptions_;
    platform::DynamicLibrary module_;
    uintptr_t filterHandle_ = 0;
    CreateFilterFn createFilter_ = nullptr;
    ReleaseFilterFn releaseFilter_ = nullptr;
    ExecuteFilterFn executeFilter_ = nullptr;
};

}  // namespace quiltra

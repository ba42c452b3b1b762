#include "plugins/filter_binding.h"

#include <new>

namespace quiltra {

std::unique_ptr<FilterBinding> FilterBinding::make(const char* library, const char* filterFile,
                                                   const char* options) {
    if (filterFile == nullptr || filterFile[0] == '\0') {
        return nullptr;
    }
    try {
        return std::unique_ptr<FilterBinding>(new FilterBinding(library, filterFile, options));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

FilterBinding::FilterBinding(const char* library, const char* filterFile, const char* options)
    : libraryPath_(library != nullptr ? library : ""),
      filterType_("f"),
      filterName_(filterFile),
      filterOptions_(options != nullptr ? options : "") {
    module_ = platform::DynamicLibrary::load(libraryPath_.c_str());
    if (!module_.loaded()) {
        return;
    }
    createFilter_ = module_.function<CreateFilterFn>("CreateFilter");
    releaseFilter_ = module_.function<ReleaseFilterFn>("ReleaseFilter");
    executeFilter_ = module_.function<ExecuteFilterFn>("ExecuteFilter");
    if (createFilter_ != nullptr) {
        filterHandle_ =
            createFilter_(filterType_.c_str(), filterName_.c_str(), filterOptions_.c_str());
    }
}

FilterBinding::~FilterBinding() {
    if (releaseFilter_ != nullptr && filterHandle_ != 0) {
        releaseFilter_(filterHandle_);
        filterHandle_ = 0;
    }
    module_.close();
}

bool FilterBinding::execute(int rows, int columns, int bytesPerPixel, void* source,
                            void* destination) const {
    if (!canExecute()) {
        return false;
    }
    ImageDescriptor in{};
    in.rows = rows;
    in.columns = columns;
    in.bytesPerPixel = static_cast<uint8_t>(bytesPerPixel & 0xFF);
    in.pixels = source;
    ImageDescriptor out = in;
    out.pixels = destination;
    executeFilter_(filterHandle_, &in, &out, filterOptions_.c_str());
    return true;
}

}  // namespace quiltra

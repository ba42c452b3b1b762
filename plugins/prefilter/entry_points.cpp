// The three functions of the prefilter plug-in. Instances are pointers to Prefilter objects
// kept in a registry, so that an instance of 0, one already released or any other unknown
// value is refused instead of followed.
#include <quiltra/plugin.h>

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "prefilter.h"

namespace {

using quiltra::prefilter::Prefilter;

class Registry {
public:
    uintptr_t add(std::unique_ptr<Prefilter> prefilter) {
        const auto handle = reinterpret_cast<uintptr_t>(prefilter.get());
        std::lock_guard guard(mutex_);
        instances_.emplace(handle, std::move(prefilter));
        return handle;
    }
    // The instance, kept alive for the caller even if another thread releases it meanwhile.
    std::shared_ptr<Prefilter> find(uintptr_t handle) const {
        std::lock_guard guard(mutex_);
        auto it = instances_.find(handle);
        return it == instances_.end() ? nullptr : it->second;
    }
    bool remove(uintptr_t handle) {
        std::shared_ptr<Prefilter> last;  // freed after the lock is released
        std::lock_guard guard(mutex_);
        auto it = instances_.find(handle);
        if (it == instances_.end()) {
            return false;
        }
        last = std::move(it->second);
        instances_.erase(it);
        return true;
    }

private:
    mutable std::mutex mutex_;  // guards instances_
    std::unordered_map<uintptr_t, std::shared_ptr<Prefilter>> instances_;
};

Registry& registry() {
    static Registry instances;
    return instances;
}

}  // namespace

extern "C" {

QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateFilter(const char* type, const char* filterFile,
                                                       const char* options) {
    try {
        std::string error;
        std::unique_ptr<Prefilter> prefilter = Prefilter::create(type, filterFile, options, error);
        return prefilter ? registry().add(std::move(prefilter)) : 0;
    } catch (const std::exception&) {
        return 0;  // out of memory, or a path the file system refuses
    }
}

QUILTRA_PLUGIN_API int QUILTRA_CALL ExecuteFilter(uintptr_t filter, const ImageDescriptor* in,
                                                  ImageDescriptor* out, const char* options) {
    try {
        std::shared_ptr<Prefilter> instance = registry().find(filter);
        return instance ? instance->execute(in, out, options) : quiltra::prefilter::kRefused;
    } catch (const std::bad_alloc&) {
        return quiltra::prefilter::kRefused;
    }
}

QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseFilter(uintptr_t filter) {
    return registry().remove(filter) ? 1 : 0;
}

}  // extern "C"

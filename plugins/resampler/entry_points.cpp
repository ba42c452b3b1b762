// The four functions of the resampler plug-in. Instances are pointers to Resampler objects
// kept in a registry, so that an instance of 0, one already released or any other unknown
// value is refused instead of followed.
#include <quiltra/plugin.h>

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "resampler.h"

namespace {

using quiltra::resample::Resampler;

class Registry {
public:
    uintptr_t add(std::unique_ptr<Resampler> resampler) {
        const auto handle = reinterpret_cast<uintptr_t>(resampler.get());
        std::lock_guard guard(mutex_);
        instances_.emplace(handle, std::move(resampler));
        return handle;
    }
    // The instance, kept alive for the caller even if another thread releases it meanwhile.
    std::shared_ptr<Resampler> find(uintptr_t handle) const {
        std::lock_guard guard(mutex_);
        auto it = instances_.find(handle);
        return it == instances_.end() ? nullptr : it->second;
    }
    bool remove(uintptr_t handle) {
        std::shared_ptr<Resampler> last;  // freed after the lock is released
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
    std::unordered_map<uintptr_t, std::shared_ptr<Resampler>> instances_;
};

Registry& registry() {
    static Registry instances;
    return instances;
}

}  // namespace

extern "C" {

QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateResampler(const char* calibFile, int inputRows,
                                                          int inputColumns, float centreX,
                                                          float centreY, float sizeX, float sizeY,
                                                          float angle, int outputRows,
                                                          int outputColumns) {
    try {
        quiltra::resample::Field field{calibFile == nullptr ? "" : calibFile,
                                       inputRows,
                                       inputColumns,
                                       centreX,
                                       centreY,
                                       sizeX,
                                       sizeY,
                                       angle,
                                       outputRows,
                                       outputColumns};
        std::string error;
        std::unique_ptr<Resampler> resampler = Resampler::create(field, error);
        return resampler ? registry().add(std::move(resampler)) : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

QUILTRA_PLUGIN_API int QUILTRA_CALL SetResampleMode(uintptr_t resampler, int mode) {
    std::shared_ptr<Resampler> instance = registry().find(resampler);
    return instance && instance->setMode(mode) ? 1 : 0;
}

QUILTRA_PLUGIN_API int QUILTRA_CALL ResampleBuffer(uintptr_t resampler, const void* source,
                                                   int rows, int columns, int bytesPerPixel,
                                                   void* destination, uint32_t* size) {
    std::shared_ptr<Resampler> instance = registry().find(resampler);
    if (!instance) {
        if (size != nullptr) {
            *size = 0;
        }
        return 0;
    }
    return instance->resample(source, rows, columns, bytesPerPixel, destination, size) ? 1 : 0;
}

QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseResampler(uintptr_t resampler) {
    return registry().remove(resampler) ? 1 : 0;
}

}  // extern "C"

// The four functions of the resampler plug-in; its instances are Resampler objects in an
// InstanceRegistry.
#include <quiltra/plugin.h>

#include <memory>
#include <new>

#include "instance_registry.h"
#include "resampler.h"

namespace {

using quiltra::resample::Resampler;

quiltra::plugins::InstanceRegistry<Resampler>& registry() {
    static quiltra::plugins::InstanceRegistry<Resampler> instances;
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

// The three functions of the prefilter plug-in; its instances are Prefilter objects in an
// InstanceRegistry.
#include <quiltra/plugin.h>

#include <memory>
#include <new>

#include "instance_registry.h"
#include "prefilter.h"

namespace {

using quiltra::prefilter::Prefilter;

quiltra::plugins::InstanceRegistry<Prefilter>& registry() {
    static quiltra::plugins::InstanceRegistry<Prefilter> instances;
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

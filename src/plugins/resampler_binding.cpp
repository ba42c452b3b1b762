#include "plugins/resampler_binding.h"

namespace quiltra {

ResamplerBinding::ResamplerBinding(const char* library, const char* calibFile,
                                   const ResamplerGeometry& geometry)
    : libraryPath_(library != nullptr ? library : ""),
      calibFile_(calibFile != nullptr ? calibFile : ""),
      geometry_(geometry) {
    module_ = platform::DynamicLibrary::load(libraryPath_.c_str());
    if (!module_.loaded()) {
        return;
    }
    createResampler_ = module_.function<CreateResamplerFn>("CreateResampler");
    releaseResampler_ = module_.function<ReleaseResamplerFn>("ReleaseResampler");
    setResampleMode_ = module_.function<SetResampleModeFn>("SetResampleMode");
    resampleBuffer_ = module_.function<ResampleBufferFn>("ResampleBuffer");
    resampleBitmap_ = module_.symbol("ResampleBitmap");
    resampleMatr_ = module_.symbol("ResampleMatr");
    if (createResampler_ != nullptr) {
        resamplerHandle_ =
            createResampler_(calibFile_.c_str(), geometry_.inputRows, geometry_.inputColumns,
                             geometry_.centreX, geometry_.centreY, geometry_.sizeX, geometry_.sizeY,
                             geometry_.angle, geometry_.outputRows, geometry_.outputColumns);
    }
}

ResamplerBinding::~ResamplerBinding() {
    if (!module_.loaded()) {
        return;
    }
    if (releaseResampler_ != nullptr && resamplerHandle_ != 0) {
        releaseResampler_(resamplerHandle_);
        resamplerHandle_ = 0;
    }
    module_.close();
}

bool ResamplerBinding::needsResampling() const {
    return geometry_.inputRows != geometry_.outputRows ||
           geometry_.inputColumns != geometry_.outputColumns || !(geometry_.angle == 0.0f) ||
           !calibFile_.empty();
}

bool ResamplerBinding::setResampleMode(int mode) const {
    if (setResampleMode_ == nullptr) {
        return false;
    }
    setResampleMode_(resamplerHandle_, mode);
    return true;
}

bool ResamplerBinding::resample(const void* source, int rows, int columns, int bytesPerPixel,
                                void* destination, uint32_t* size) const {
    if (resampleBuffer_ == nullptr) {
        return false;
    }
    resampleBuffer_(resamplerHandle_, source, rows, columns, bytesPerPixel, destination, size);
    return true;
}

}  // namespace quiltra

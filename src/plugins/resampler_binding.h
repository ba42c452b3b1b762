// One resampler of one calibration entry: its own load of the resampler plug-in library,
// the looked-up functions and one instance created for the entry's field geometry.
#pragma once

#include <quiltra/plugin.h>

#include <cstdint>
#include <string>

#include "platform/dynamic_library.h"

namespace quiltra {

// What a resampler instance is created for. x runs down the output rows, y along its
// columns; the field is in calibrated units, or in camera pixels without a calibration file.
struct ResamplerGeometry {
    int32_t inputRows = 0;     // camera height
    int32_t inputColumns = 0;  // camera width
    float centreX = 0.0f;
    float centreY = 0.0f;
    float sizeX = 0.0f;
    float sizeY = 0.0f;
    float angle = 0.0f;
    int32_t outputRows = 0;
    int32_t outputColumns = 0;
};

class ResamplerBinding {
public:
    // Loads `library` as written, looks up CreateResampler, ReleaseResampler,
    // SetResampleMode, ResampleBuffer, ResampleBitmap and ResampleMatr (in that order) and,
    // when CreateResampler is present, creates the instance. Never fails as far as the
    // caller can see: a failed load, a missing function or an instance of 0 only leaves the
    // binding without them.
    ResamplerBinding(const char* library, const char* calibFile, const ResamplerGeometry& geometry);
    // When the library is loaded: releases the instance (ReleaseResampler, when present and
    // the instance is not 0), then unloads the library.
    ~ResamplerBinding();
    ResamplerBinding(const ResamplerBinding&) = delete;
    ResamplerBinding& operator=(const ResamplerBinding&) = delete;

    const std::string& libraryPath() const { return libraryPath_; }
    const std::string& calibFile() const { return calibFile_; }
    const ResamplerGeometry& geometry() const { return geometry_; }
    int32_t outputRows() const { return geometry_.outputRows; }
    int32_t outputColumns() const { return geometry_.outputColumns; }
    bool loaded() const { return module_.loaded(); }
    uintptr_t resamplerHandle() const { return resamplerHandle_; }
    bool hasResampleBitmap() const { return resampleBitmap_ != nullptr; }
    bool hasResampleMatr() const { return resampleMatr_ != nullptr; }

    // True when the output differs from a plain copy of the camera image: another size, an
    // angle that is not 0.0 (a NaN counts as not 0) or a calibration file.
    bool needsResampling() const;

    bool hasSetResampleMode() const { return setResampleMode_ != nullptr; }
    // SetResampleMode(instance, mode), also with instance 0; false when the function is
    // missing. The plug-in's result is not examined.
    bool setResampleMode(int mode) const;

    bool canResample() const { return resampleBuffer_ != nullptr; }
    // ResampleBuffer(instance, source, rows, columns, bytesPerPixel, destination, size),
    // also with instance 0. `size` holds the destination's byte size on entry and the byte
    // size of the result on return (0: no image). False, calling nothing, without the
    // function. Called under the camera's lock.
    bool resample(const void* source, int rows, int columns, int bytesPerPixel, void* destination,
                  uint32_t* size) const;

private:
    std::string libraryPath_;
    std::string calibFile_;
    ResamplerGeometry geometry_;
    platform::DynamicLibrary module_;
    uintptr_t resamplerHandle_ = 0;
    CreateResamplerFn createResampler_ = nullptr;
    ReleaseResamplerFn releaseResampler_ = nullptr;
    SetResampleModeFn setResampleMode_ = nullptr;
    ResampleBufferFn resampleBuffer_ = nullptr;
    void* resampleBitmap_ = nullptr;  // looked up, never called
    void* resampleMatr_ = nullptr;    // looked up, never called
};

}  // namespace quiltra

#include "scanner/scan_camera.h"

#include <limits>
#include <new>

#include "driver/driver_binding.h"
#include "scanner/scanner.h"

namespace quiltra {

ScanCamera::ScanCamera(Scanner& owner, DriverBinding* driver, int32_t cameraPort,
                       int32_t cameraWidth, int32_t cameraHeight, int32_t cameraBytesPerPixel)
    : scanner(owner),
      binding(driver),
      port(cameraPort),
      width(cameraWidth),
      height(cameraHeight),
      bytesPerPixel(cameraBytesPerPixel) {}

ScanCamera::~ScanCamera() {
    resamplers.clear();
    filters.clear();
    for (auto& buffer : ring) {
        std::vector<uint8_t>().swap(buffer);
    }
    std::vector<uint8_t>().swap(processed);
}

int32_t ScanCamera::bytesPerPixelOf(const DriverBinding* driver, int32_t cameraPort) {
    if (driver == nullptr || driver->entries().getProperty == nullptr) {
        return 1;
    }
    int bits = 8;
    driver->entries().getProperty(0, cameraPort, "PixelSize", &bits);
    // 1 to 7 bits would truncate to 0 bytes: a pixel still takes one byte.
    if (bits >= 0 && bits < 8) {
        return 1;
    }
    return bits / 8;
}

double ScanCamera::ringBufferSize() const {
    return Scanner::imageByteSize({width, height, bytesPerPixel});
}

bool ScanCamera::allocateRing() {
    const double size = ringBufferSize();
    if (size < 0.0 || size > static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        scanner.reportImageTooBig(width, height, bytesPerPixel, size);
        return false;
    }
    std::lock_guard guard(lock);
    try {
        for (auto& buffer : ring) {
            buffer.assign(static_cast<std::size_t>(size), 0);
        }
    } catch (const std::bad_alloc&) {
        for (auto& buffer : ring) {
            std::vector<uint8_t>().swap(buffer);
        }
        return false;
    }
    return true;
}

FilterBinding* ScanCamera::activeFilter() const {
    std::lock_guard guard(lock);
    return calibIndex < filters.size() ? filters[calibIndex].get() : nullptr;
}

ResamplerBinding* ScanCamera::activeResampler() const {
    std::lock_guard guard(lock);
    return calibIndex < resamplers.size() ? resamplers[calibIndex].get() : nullptr;
}

ImageSize ScanCamera::outputSize() const {
    if (const ResamplerBinding* resampler = activeResampler()) {
        return {resampler->outputColumns(), resampler->outputRows()};
    }
    return {width, height};
}

}  // namespace quiltra

#include "scanner/scan_camera.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

#include "driver/driver_binding.h"
#include "platform/clock.h"
#include "scanner/scanner.h"

namespace quiltra {

namespace {

std::string workerName(int32_t port) {
    return "quiltra-cam" + std::to_string(port);
}

// A byte size as computed by Scanner::imageByteSize, when it can be allocated at all.
bool allocatable(double size) {
    return size >= 0.0 && size <= static_cast<double>(std::numeric_limits<uint32_t>::max());
}

}  // namespace

ScanCamera::ScanCamera(Scanner& owner, DriverBinding* driver, int32_t cameraPort,
                       int32_t cameraWidth, int32_t cameraHeight, int32_t cameraBytesPerPixel)
    : scanner(owner),
      binding(driver),
      port(cameraPort),
      width(cameraWidth),
      height(cameraHeight),
      bytesPerPixel(cameraBytesPerPixel),
      worker(*this, workerName(cameraPort)) {}

ScanCamera::~ScanCamera() {
    worker.stop();
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
    if (!allocatable(size)) {
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
    std::lock_guard guard(lock);
    if (const ResamplerBinding* resampler = activeResampler()) {
        return {resampler->outputColumns(), resampler->outputRows()};
    }
    return {width, height};
}

uint32_t ScanCamera::collectImage() {
    if (pixelSizeMismatch.load(std::memory_order_acquire)) {
        return 0;  // the driver's rows are wider than the ring's now
    }
    // Read before the lock, so the time includes waiting for it.
    const int64_t start = platform::performanceCounter();
    std::lock_guard guard(lock);
    const GetCVLGrabRowFn getRow = binding != nullptr ? binding->entries().getCVLGrabRow : nullptr;
    std::vector<uint8_t>& buffer = ring[writeIndex];
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    if (getRow == nullptr || buffer.size() < rowBytes * static_cast<std::size_t>(height) ||
        unprocessed >= ringSize) {
        return 0;
    }
    uint8_t* destination = buffer.data();
    for (int32_t row = 0; row < height; ++row, destination += rowBytes) {
        if (getRow(grabber, port, destination, row, 0, width - 1) != 1) {
            return 0;
        }
    }
    collectTime = static_cast<uint32_t>(platform::elapsedSince(platform::kMicroseconds, start));
    writeIndex = (writeIndex + 1) % ringSize;
    ++unprocessed;
    return static_cast<uint32_t>(buffer.size());
}

void ScanCamera::allocateProcessed(double size) {
    if (!processed.empty() || !allocatable(size) || size == 0.0) {
        return;
    }
    try {
        processed.assign(static_cast<std::size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        // Without a buffer the camera places no rows; its counters still advance.
    }
}

uint32_t ScanCamera::processImage() {
    std::lock_guard guard(lock);
    const FilterBinding* filter = activeFilter();
    const ResamplerBinding* resampler = activeResampler();
    const bool resampling = resampler != nullptr && resampler->needsResampling();
    const double imageSize = ringBufferSize();
    const int64_t outputColumns = resampling ? resampler->outputColumns() : width;
    const int64_t outputRows = resampling ? resampler->outputRows() : height;
    const double size = Scanner::imageByteSize({outputColumns, bytesPerPixel, outputRows});
    allocateProcessed(size);

    uint8_t* source = ring[readIndex].data();
    const bool fitsProcessed = static_cast<double>(processed.size()) >= imageSize;
    int64_t start = platform::performanceCounter();
    bool filtered = false;
    if (filter != nullptr && filter->canExecute() && (resampling || fitsProcessed)) {
        // Before resampling the filter works in place; otherwise its output is the result.
        filter->execute(height, width, bytesPerPixel, source,
                        resampling ? source : processed.data());
        filtered = true;
    }
    prefilterTime = static_cast<uint32_t>(platform::elapsedSince(platform::kMicroseconds, start));

    start = platform::performanceCounter();
    // The size as a 32-bit product: a negative output size still counts as an image, which
    // placement then writes nothing of.
    uint32_t result = static_cast<uint32_t>(outputColumns * bytesPerPixel * outputRows);
    if (resampling && resampler->canResample() && !processed.empty()) {
        result = static_cast<uint32_t>(processed.size());
        resampler->resample(source, height, width, bytesPerPixel, processed.data(), &result);
    } else if (resampler != nullptr && !filtered && !resampling && fitsProcessed) {
        // With a resampler active, `processed` always holds the processed image.
        std::memcpy(processed.data(), source, static_cast<std::size_t>(imageSize));
    }
    resampleTime = static_cast<uint32_t>(platform::elapsedSince(platform::kMicroseconds, start));
    readIndex = (readIndex + 1) % ringSize;
    if (unprocessed > 0) {
        --unprocessed;
    }
    return result;
}

void ScanCamera::reallocateProcessed(double size) {
    std::lock_guard guard(lock);
    std::vector<uint8_t>().swap(processed);
    allocateProcessed(size);
}

void ScanCamera::releasePlugins() {
    std::lock_guard guard(lock);
    resamplers.clear();
    filters.clear();
}

}  // namespace quiltra

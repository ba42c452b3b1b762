#include "scanner/scanner.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>

#include "driver/driver_binding.h"
#include "platform/one_shot_timer.h"

namespace quiltra {

Scanner::Scanner(DriverBinding* driver, const char* scannerName, int32_t scannerGrabber,
                 int32_t scannerPort)
    : binding(driver),
      name(scannerName != nullptr ? scannerName : ""),
      grabber(scannerGrabber),
      port(scannerPort) {}

// No other thread reaches the scanner any more, so nothing here takes its lock.
Scanner::~Scanner() {
    if (timerId != 0) {
        platform::killTimer(timerId);
        timerId = 0;
    }
    image.reset();
    for (auto& camera : cameras) {
        camera.reset();
    }
    cameras.clear();
    passThru.clear();
}

ScanCamera* Scanner::addCamera(int32_t cameraPort, int32_t cameraWidth, int32_t cameraHeight) {
    if (cameras.size() >= kMaxCameras) {
        return nullptr;
    }
    std::unique_ptr<ScanCamera> camera;
    try {
        camera = std::make_unique<ScanCamera>(*this, binding, cameraPort, cameraWidth, cameraHeight,
                                              ScanCamera::bytesPerPixelOf(binding, cameraPort));
        if (!camera->allocateRing()) {
            return nullptr;
        }
        cameras.push_back(std::move(camera));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    ScanCamera* added = cameras.back().get();
    uint32_t count = 1;
    {
        std::lock_guard guard(lock);
        count = scanCount;
    }
    setScanCount(count);
    return added;
}

bool Scanner::setScanCount(uint32_t count) {
    std::lock_guard guard(lock);
    scanCount = count != 0 ? count : 1;
    const ScanSize size = scanSize();
    const int64_t totalHeight = static_cast<int64_t>(scanCount) * size.bandHeight;
    // Geometry beyond 32 bits is kept only as far as it fits; such an image is never
    // allocated, so nothing reads through these values.
    width = static_cast<int32_t>(size.width);
    height = static_cast<int32_t>(totalHeight);
    if (cameras.empty()) {
        return true;
    }
    bytesPerPixel = cameras.front()->bytesPerPixel;
    return allocateImage(imageByteSize({totalHeight, bytesPerPixel, size.width}));
}

double Scanner::imageByteSize(std::initializer_list<int64_t> dimensions) {
    double size = 1.0;
    for (int64_t dimension : dimensions) {
        if (dimension < 0) {
            return -1.0;
        }
        size *= static_cast<double>(dimension);
    }
    return size;
}

bool Scanner::allocateImage(double size) {
    const bool fits =
        size >= 0.0 && size <= static_cast<double>(std::numeric_limits<uint32_t>::max());
    if (image && fits && static_cast<uint32_t>(size) == imageSize) {
        return true;
    }
    image.reset();
    if (fits) {
        try {
            image = std::make_unique<uint8_t[]>(static_cast<std::size_t>(size));
            imageSize = static_cast<uint32_t>(size);
            return true;
        } catch (const std::bad_alloc&) {
        }
    }
    reportImageTooBig(width, height, bytesPerPixel, size);
    return false;
}

void Scanner::reportImageTooBig(int32_t imageWidth, int32_t imageHeight, int32_t imageBytesPerPixel,
                                double size) const {
    if (binding != nullptr) {
        binding->plainMessage("%s: final image too big, (%dx%d) %d bit - %.1f MB\n", name.c_str(),
                              imageWidth, imageHeight, imageBytesPerPixel * 8, size / 1000000.0);
    }
}

ScanSize Scanner::scanSize() const {
    ScanSize size;
    for (const auto& camera : cameras) {
        const ImageSize output = camera->outputSize();
        size.width += output.columns;
        size.bandHeight = std::max(size.bandHeight, output.rows);
    }
    return size;
}

uint32_t Scanner::minScanIndex() const {
    std::lock_guard guard(lock);
    uint32_t smallest = 0xFFFFFFFFu;
    for (const auto& camera : cameras) {
        smallest = std::min(smallest, camera->scanIndex);
    }
    return smallest;
}

uint32_t Scanner::maxScanIndex() const {
    std::lock_guard guard(lock);
    uint32_t largest = 0;
    for (const auto& camera : cameras) {
        largest = std::max(largest, camera->scanIndex);
    }
    return largest;
}

bool Scanner::hasImage() const {
    std::lock_guard guard(lock);
    return image != nullptr;
}

}  // namespace quiltra

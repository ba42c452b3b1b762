#include "scanner/scanner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_map>

#include "driver/driver_binding.h"
#include "platform/clock.h"
#include "platform/no_destructor.h"
#include "platform/one_shot_timer.h"
#include "scanner/library_frame.h"

namespace quiltra {

namespace {

// Counters stop at their largest value. Called under the scanner lock, which makes the
// read and the store one step for every other writer.
void saturatingIncrement(platform::RelaxedAtomic<uint32_t>& counter) {
    const uint32_t value = counter;
    if (value != 0xFFFFFFFFu) {
        counter = value + 1;
    }
}

bool holds(const std::vector<int32_t>& list, int64_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The scanners that have armed a timer, by key. A timer carries only the key, so a timer
// that fires after its scanner was freed finds nothing, and one that fires while the
// scanner lives holds a reference to it for the length of its callback.
class TimerTargets {
public:
    uintptr_t add(std::weak_ptr<Scanner> scanner) {
        std::lock_guard guard(mutex_);
        do {
            ++lastKey_;
        } while (lastKey_ == 0 || targets_.count(lastKey_) != 0);
        targets_.emplace(lastKey_, std::move(scanner));
        return lastKey_;
    }
    void remove(uintptr_t key) {
        std::lock_guard guard(mutex_);
        targets_.erase(key);
    }
    std::shared_ptr<Scanner> find(uintptr_t key) {
        std::lock_guard guard(mutex_);
        const auto found = targets_.find(key);
        return found != targets_.end() ? found->second.lock() : nullptr;
    }

private:
    std::mutex mutex_;  // guards both fields
    uintptr_t lastKey_ = 0;
    std::unordered_map<uintptr_t, std::weak_ptr<Scanner>> targets_;
};

TimerTargets& timerTargets() {
    static platform::NoDestructor<TimerTargets> targets;
    return targets.get();
}

// The timer procedure, on the timer thread.
void onGrabTimer(uint32_t timerId, uintptr_t key) {
    const std::shared_ptr<Scanner> scanner = timerTargets().find(key);
    if (scanner == nullptr) {
        return;
    }
    // A close requested by a host callback of this timeout completes when it ends.
    LibraryFrame frame;
    scanner->onTimeout(timerId);
}

}  // namespace

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
    if (timerKey_ != 0) {
        timerTargets().remove(timerKey_);
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
    double bytes = 0.0;
    {
        std::unique_lock imageGuard(imageLock);
        // Geometry beyond 32 bits is kept only as far as it fits; such an image is never
        // allocated, so nothing reads through these values.
        width = static_cast<int32_t>(size.width);
        height = static_cast<int32_t>(totalHeight);
        if (cameras.empty()) {
            return true;
        }
        bytesPerPixel = cameras.front()->bytesPerPixel;
        bytes = imageByteSize({totalHeight, bytesPerPixel, size.width});
        if (allocateImage(bytes)) {
            return true;
        }
    }
    // Reported once row readers may go on: the host's debug procedure may read rows.
    reportImageTooBig(width, height, bytesPerPixel, bytes);
    return false;
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
    imageSize = 0;
    if (fits) {
        // At least one byte, so that an image of size 0 is allocated as before.
        image.reset(static_cast<uint8_t*>(
            std::calloc(std::max<std::size_t>(static_cast<std::size_t>(size), 1), 1)));
        if (image) {
            imageSize = static_cast<uint32_t>(size);
            return true;
        }
    }
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
    uint32_t smallest = 0xFFFFFFFFu;
    for (const auto& camera : cameras) {
        smallest = std::min(smallest, camera->scanIndex.load());
    }
    return smallest;
}

uint32_t Scanner::maxScanIndex() const {
    uint32_t largest = 0;
    for (const auto& camera : cameras) {
        largest = std::max(largest, camera->scanIndex.load());
    }
    return largest;
}

bool Scanner::hasImage() const {
    std::shared_lock guard(imageLock);
    return image != nullptr;
}

int Scanner::grab() const {
    for (const auto& camera : cameras) {
        const DoCVLGrabFn doGrab =
            camera->binding != nullptr ? camera->binding->entries().doCVLGrab : nullptr;
        if (doGrab == nullptr || doGrab(camera->grabber, camera->port) != 1) {
            return 0;
        }
    }
    return 1;
}

int Scanner::readRow(int32_t rowGrabber, int32_t rowPort, void* buffer, int32_t row,
                     int32_t firstColumn, int32_t lastColumn) const {
    if (buffer == nullptr || rowGrabber != grabber || rowPort != port ||
        resetRequired.load(std::memory_order_acquire)) {
        return 0;
    }
    std::shared_lock guard(imageLock);
    if (image == nullptr || row < 0 || row >= height || firstColumn < 0 ||
        firstColumn > lastColumn || lastColumn >= width) {
        return 0;
    }
    const int64_t start = (static_cast<int64_t>(width) * row + firstColumn) * bytesPerPixel;
    const int64_t bytes = (static_cast<int64_t>(lastColumn) - firstColumn + 1) * bytesPerPixel;
    if (start + bytes > imageSize) {
        return 0;  // a geometry that outgrew the image it describes
    }
    std::memcpy(buffer, image.get() + start, static_cast<std::size_t>(bytes));
    return 1;
}

int64_t Scanner::placementOffset(uint32_t band, std::size_t index) const {
    int64_t segmentStart = 0;
    int32_t bandHeight = 0;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const ImageSize output = cameras[i]->outputSize();
        if (i < index) {
            segmentStart += output.columns;
        }
        bandHeight = std::max(bandHeight, output.rows);
    }
    const int64_t rowPitch = static_cast<int64_t>(width) * bytesPerPixel;
    const uint32_t limited = std::min(band, scanCount - 1);
    return segmentStart * bytesPerPixel + static_cast<int64_t>(limited) * bandHeight * rowPitch;
}

void Scanner::writeRows(ScanCamera& camera, std::size_t index, uint32_t band) {
    if (bytesPerPixel < camera.bytesPerPixel) {
        return;  // a wider pixel than the final image's: nothing fits
    }
    const ImageSize output = camera.outputSize();
    const int64_t rowPitch = static_cast<int64_t>(width) * bytesPerPixel;
    const int64_t rowBytes = static_cast<int64_t>(output.columns) * camera.bytesPerPixel;
    const int64_t offset = placementOffset(band, index);
    // Negative or oversized output sizes (from a negative Size, say) write nothing: every
    // row must lie inside its own row of the final image.
    if (rowPitch <= 0 || output.columns <= 0 || output.rows <= 0 || offset < 0 ||
        offset % rowPitch + rowBytes > rowPitch ||
        offset + (output.rows - 1) * rowPitch + rowBytes > imageSize) {
        return;
    }
    uint8_t* destination = image.get() + offset;
    std::lock_guard cameraGuard(camera.lock);
    if (camera.activeResampler() != nullptr) {
        if (static_cast<int64_t>(camera.processed.size()) < rowBytes * output.rows) {
            return;
        }
        const uint8_t* source = camera.processed.data();
        for (int32_t r = 0; r < output.rows; ++r, destination += rowPitch, source += rowBytes) {
            std::memcpy(destination, source, static_cast<std::size_t>(rowBytes));
        }
        return;
    }
    // Without a resampler the rows come straight from the driver; the ring is not used.
    const GetCVLGrabRowFn getRow =
        camera.binding != nullptr ? camera.binding->entries().getCVLGrabRow : nullptr;
    if (getRow == nullptr) {
        return;
    }
    for (int32_t r = 0; r < output.rows; ++r, destination += rowPitch) {
        getRow(camera.grabber, camera.port, destination, r, 0, camera.width - 1);
    }
}

void Scanner::notifyHost(int32_t callbackGrabber, int32_t callbackPort) const {
    if (closing_) {
        return;
    }
    if (CompleteCallback callback = completeCallback.load(std::memory_order_acquire)) {
        callback(callbackGrabber, callbackPort);
    }
}

Placement Scanner::placeImage(ScanCamera& camera) {
    if (resetRequired.load(std::memory_order_acquire)) {
        return Placement::refused;
    }
    std::lock_guard guard(lock);
    if (closing_) {
        return Placement::closed;
    }
    const auto found = std::find_if(cameras.begin(), cameras.end(),
                                    [&](const auto& entry) { return entry.get() == &camera; });
    if (image == nullptr || found == cameras.end()) {
        return Placement::refused;
    }
    const std::size_t n = static_cast<std::size_t>(found - cameras.begin());
    bool suppressed = !holds(passThru, 0);

    const int64_t now = platform::performanceCounter();
    saturatingIncrement(camera.imageCount);
    receiveMask |= 1u << n;
    if (maxScanIndex() == overlap) {
        scanStart = now;  // the cycle's clock starts with its first image
    }

    const uint32_t s = camera.scanIndex;
    writeRows(camera, n, s);
    if (s < scanCount) {
        camera.scanIndex = s + 1;
    }
    const uint32_t k = camera.scanIndex;  // 1-based number of the scan just placed

    if (suppressed && holds(passThru, k)) {
        suppressed = false;
    }
    for (std::size_t j = 0; j < cameras.size() && !suppressed; ++j) {
        const ScanCamera& other = *cameras[j];
        // A port shared by two cameras is announced once per turn.
        suppressed = j != n && other.grabber == camera.grabber && other.port == camera.port &&
                     (receiveMask & (1u << j)) != 0;
    }

    if (binding != nullptr) {
        binding->verboseMessage("%s: image port %d [%d/%d] %.1f | %.1f | %.1f ms\n", name.c_str(),
                                camera.port, static_cast<int>(k), static_cast<int>(scanCount),
                                camera.collectTime / 1000.0, camera.prefilterTime / 1000.0,
                                camera.resampleTime / 1000.0);
    }

    if (!suppressed && active) {
        notifyHost(camera.grabber, camera.port);
    }
    if (minScanIndex() >= scanCount) {
        startTimer(0);
        scanTime =
            static_cast<uint32_t>(platform::elapsedSince(platform::kMilliseconds, scanStart));
        saturatingIncrement(imageCount);
        notifyHost(grabber, port);
        resetCycle();
    } else {
        const uint32_t allCameras =
            cameras.size() >= 32 ? 0xFFFFFFFFu : (1u << cameras.size()) - 1u;
        if (receiveMask == (1u << n)) {
            startTimer(activeGrabTimeout);  // the first image of a turn
        } else if (receiveMask == allCameras) {
            receiveMask = 0;  // the turn is complete; the next one starts
            startTimer(activeGrabTimeout);
        }
    }
    if (!suppressed && !active) {
        notifyHost(camera.grabber, camera.port);
    }
    return Placement::placed;
}

uint32_t Scanner::resetCycle() {
    const uint32_t m = minScanIndex();
    startTimer(0);
    receiveMask = 0;
    setCount(std::min(m, overlap.load()));
    for (auto& camera : cameras) {
        // The ring indices stay: an image collected but not yet processed keeps its buffer.
        camera->lostCount = 0;
    }
    return m;
}

void Scanner::setCount(uint32_t x) {
    const uint32_t c = x % scanCount;
    if (c != 0 && image != nullptr) {
        const int64_t bandBytes =
            static_cast<int64_t>(scanSize().bandHeight) * width * bytesPerPixel;
        const int64_t from = c * bandBytes;
        const int64_t bytes = (static_cast<int64_t>(scanCount) - c) * bandBytes;
        if (bandBytes > 0 && from + bytes <= imageSize) {
            std::memmove(image.get(), image.get() + from, static_cast<std::size_t>(bytes));
        }
    }
    for (auto& camera : cameras) {
        camera->scanIndex = c;
    }
}

void Scanner::fillRows(int64_t offset, int64_t rows, int64_t bytes, uint8_t value) {
    const int64_t rowPitch = static_cast<int64_t>(width) * bytesPerPixel;
    for (int64_t r = 0; r < rows; ++r, offset += rowPitch) {
        if (offset >= 0 && bytes > 0 && offset + bytes <= imageSize) {
            std::memset(image.get() + offset, value, static_cast<std::size_t>(bytes));
        }
    }
}

int Scanner::fillMissing(int value) {
    if (image == nullptr) {
        return 0;
    }
    const uint8_t byte = static_cast<uint8_t>(value);
    const uint32_t m = maxScanIndex();
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const ScanCamera& camera = *cameras[i];
        const ImageSize output = camera.outputSize();
        for (uint32_t band = camera.scanIndex; band < m; ++band) {
            fillRows(placementOffset(band, i), output.rows,
                     static_cast<int64_t>(output.columns) * bytesPerPixel, byte);
        }
    }
    const int64_t bandHeight = scanSize().bandHeight;
    const int64_t firstRow = std::min<int64_t>(m, scanCount) * bandHeight;
    const int64_t rowPitch = static_cast<int64_t>(width) * bytesPerPixel;
    fillRows(firstRow * rowPitch, scanCount * bandHeight - firstRow, rowPitch, byte);
    return 0;
}

void Scanner::startTimer(uint32_t delayMs) {
    if (timerId != 0) {
        platform::killTimer(timerId);  // never waits for a callback that is running
        timerId = 0;
    }
    if (delayMs == 0 || closing_) {
        return;
    }
    if (timerKey_ == 0) {
        const std::weak_ptr<Scanner> self = weak_from_this();
        if (self.expired()) {
            return;  // not shared: no port owns this scanner, so no timer can find it
        }
        timerKey_ = timerTargets().add(self);
    }
    timerId = platform::setOneShotTimer(delayMs, &onGrabTimer, timerKey_);
}

void Scanner::onTimeout(uint32_t firedTimerId) {
    std::lock_guard guard(lock);
    if (closing_ || firedTimerId == 0 || firedTimerId != timerId) {
        return;  // cancelled or re-armed before this callback got the lock
    }
    timerId = 0;
    char mask[Scanner::kMaxCameras + 1] = {};
    std::size_t length = 0;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        ScanCamera& camera = *cameras[i];
        if ((receiveMask & (1u << i)) == 0) {
            ++camera.lostCount;
            saturatingIncrement(camera.activeGrabTimeoutCount);
        }
    }
    uint32_t lost = 0;
    for (std::size_t i = cameras.size(); i-- > 0;) {
        mask[length++] = (receiveMask & (1u << i)) != 0 ? '1' : '0';
        lost += cameras[i]->lostCount;
    }
    if (binding != nullptr) {
        binding->systemMessage("%s: image timeout - count/lost %d/%d - receivemask %s\n",
                               name.c_str(), static_cast<int>(maxScanIndex()),
                               static_cast<int>(lost), mask);
    }
    // Compared as unsigned 32-bit values: a negative need never completes, 0 always does.
    const int64_t need = static_cast<int64_t>(scanCount) - std::llabs(minScans);
    if (minScanIndex() >= static_cast<uint32_t>(need)) {
        scanTime =
            static_cast<uint32_t>(platform::elapsedSince(platform::kMilliseconds, scanStart));
        fillMissing(0);
        saturatingIncrement(activeGrabTimeoutCount);
        notifyHost(grabber, port);
    }
    resetCycle();
}

void Scanner::beginClose() {
    std::lock_guard guard(lock);
    closing_ = true;
    startTimer(0);
}

bool Scanner::closing() const {
    std::lock_guard guard(lock);
    return closing_;
}

void Scanner::shutdown() {
    if (shutDown_.exchange(true)) {
        return;
    }
    beginClose();
    for (auto& camera : cameras) {
        camera->worker.stop();
    }
    for (auto& camera : cameras) {
        camera->releasePlugins();
    }
}

}  // namespace quiltra

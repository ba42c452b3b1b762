// A virtual camera open on one port: its cameras, the final image they are assembled into
// (one band per scan, one segment per camera), the cycle state and the counters.
#pragma once

#include <quiltra/camera_driver.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/recursive_lock.h"
#include "platform/thread_annotations.h"
#include "scanner/scan_camera.h"

namespace quiltra {

class DriverBinding;

// Writes the scanner's sections of the configuration file under its own name; set when the
// scanner is opened on a port, called when the scan count property is set.
using SaveScannerHook = void (*)(Scanner& scanner);

// The final image's geometry before it is stacked: the sum of the cameras' output columns
// (64 bits, so a sum beyond 32 bits is seen) and the largest output row count.
struct ScanSize {
    int64_t width = 0;
    int32_t bandHeight = 0;
};

class Scanner {
public:
    // More cameras do not fit the 32-bit receive mask.
    static constexpr std::size_t kMaxCameras = 32;

    // A scanner without cameras and with one scan; every other setting 0, off or empty.
    Scanner(DriverBinding* driver, const char* scannerName, int32_t scannerGrabber,
            int32_t scannerPort);
    // Kills the pending timer, frees the final image, destroys the cameras in list order,
    // then the rest. The caller has unlinked the scanner so that no other thread reaches it.
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Makes a camera on `cameraPort` with the given image size, asks its pixel size,
    // allocates its ring, appends it and re-runs setScanCount with the current count, so the
    // geometry and the final image follow. Null, with nothing added, when the ring cannot
    // be allocated or the scanner already has kMaxCameras cameras.
    ScanCamera* addCamera(int32_t cameraPort, int32_t cameraWidth, int32_t cameraHeight);

    // Sets the scan count (0 counts as 1) and recomputes the geometry; with cameras, keeps a
    // final image of the same size with its contents, else reallocates it zero-filled. A
    // size beyond 32 bits or a failed allocation leaves no final image and sends the "final
    // image too big" message whatever the verbose flag says. Returns whether a final image
    // exists afterwards (true without cameras). Takes the scanner lock.
    bool setScanCount(uint32_t count);

    ScanSize scanSize() const;
    // Smallest / largest scanIndex of the cameras; 0xFFFFFFFF / 0 without cameras.
    uint32_t minScanIndex() const;
    uint32_t maxScanIndex() const;

    bool hasImage() const;

    // "%s: final image too big, (%dx%d) %d bit - %.1f MB\n" for an image (the final image or a
    // ring buffer) of width x height pixels and `size` bytes that cannot be allocated; sent
    // to the host's debug procedure whatever the verbose flag says.
    void reportImageTooBig(int32_t imageWidth, int32_t imageHeight, int32_t imageBytesPerPixel,
                           double size) const;

    // The byte size of an image with these dimensions, in floating point so that no product
    // can overflow (exact as long as it fits 32 bits); -1 when a dimension is negative.
    static double imageByteSize(std::initializer_list<int64_t> dimensions);

    // Guards the cycle: the receive mask, the cameras' scan indices and counters, the timer
    // id, the final image and its geometry, the pass-through list, overlap and the other
    // assembly settings. Taken before any camera lock, after the DriverLock.
    mutable platform::RecursiveLock lock;

    DriverBinding* const binding;  // not owned; may be null only in tests
    // In configuration order; the index is the camera's bit in receiveMask. Filled while
    // the scanner is built (no other thread sees it yet), then fixed until destruction.
    std::vector<std::unique_ptr<ScanCamera>> cameras;
    const std::string name;
    const int32_t grabber;
    const int32_t port;

    uint32_t scanCount QUILTRA_GUARDED_BY(lock) = 1;
    uint32_t activeGrabTimeout QUILTRA_GUARDED_BY(lock) = 0;  // ms; 0: no timeout
    int32_t minScans QUILTRA_GUARDED_BY(lock) = 0;
    uint32_t timerId QUILTRA_GUARDED_BY(lock) = 0;  // pending one-shot timer; 0: none
    uint32_t receiveMask QUILTRA_GUARDED_BY(lock) = 0;
    int32_t width QUILTRA_GUARDED_BY(lock) = 0;
    int32_t height QUILTRA_GUARDED_BY(lock) = 0;
    int32_t bytesPerPixel QUILTRA_GUARDED_BY(lock) = 0;
    // width x height pixels, rows top to bottom, no padding; null when not allocated.
    std::unique_ptr<uint8_t[]> image QUILTRA_GUARDED_BY(lock);
    uint32_t imageSize QUILTRA_GUARDED_BY(lock) = 0;  // bytes, as last allocated
    CompleteCallback completeCallback QUILTRA_GUARDED_BY(lock) = nullptr;
    // Set or cleared by the reset check when a real camera port is reopened.
    std::atomic<bool> resetRequired{false};
    bool active QUILTRA_GUARDED_BY(lock) = false;
    int64_t scanStart QUILTRA_GUARDED_BY(lock) = 0;  // performance-counter ticks
    uint32_t scanTime QUILTRA_GUARDED_BY(lock) = 0;  // ms
    uint32_t imageCount QUILTRA_GUARDED_BY(lock) = 0;
    uint32_t activeGrabTimeoutCount QUILTRA_GUARDED_BY(lock) = 0;
    // Scan numbers that are passed through: 0 every scan, 1..scanCount one scan.
    std::vector<int32_t> passThru QUILTRA_GUARDED_BY(lock);
    uint32_t overlap QUILTRA_GUARDED_BY(lock) = 0;  // below scanCount when set
    SaveScannerHook saveScannerHook = nullptr;      // set once by the port's opening

private:
    // The final image of `size` bytes: kept when it has that size, else reallocated.
    bool allocateImage(double size);
};

}  // namespace quiltra

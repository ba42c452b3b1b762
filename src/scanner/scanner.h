// A virtual camera open on one port: its cameras, the final image they are assembled into
// (one band per scan, one segment per camera), the cycle state and the counters.
#pragma once

#include <quiltra/camera_driver.h>

#include <atomic>
#include <cstdlib>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/recursive_lock.h"
#include "platform/relaxed_atomic.h"
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

// What became of an image offered to a scanner.
enum class Placement {
    placed,   // written into the final image and counted
    refused,  // no final image, a reset is required, or not one of this scanner's cameras
    closed,   // the scanner's port is being closed: the image is dropped
};

// Shared once its port is open: the port's slot holds one reference, and so does every hook
// run, worker step and timer callback that uses it. A port's close shuts the scanner down
// (timer, workers, plug-ins) before it drops the slot's reference; whoever drops the last
// one frees it.
class Scanner : public std::enable_shared_from_this<Scanner> {
public:
    // More cameras do not fit the 32-bit receive mask.
    static constexpr std::size_t kMaxCameras = 32;

    // A scanner without cameras and with one scan; every other setting 0, off or empty.
    Scanner(DriverBinding* driver, const char* scannerName, int32_t scannerGrabber,
            int32_t scannerPort);
    // Kills the pending timer, frees the final image, destroys the cameras in list order,
    // then the rest. No other thread reaches the scanner any more.
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
    // Smallest / largest scanIndex of the cameras; 0xFFFFFFFF / 0 without cameras. Takes no
    // lock: exact under the scanner lock, perhaps one image old without it.
    uint32_t minScanIndex() const;
    uint32_t maxScanIndex() const;

    bool hasImage() const;

    // The scanner grab: doCVLGrab of each camera's driver in camera order, stopping at the
    // first camera whose driver lacks it or answers anything but 1. 1 when every camera
    // answered 1 (also without cameras), else 0.
    int grab() const;
    // getCVLGrabRow on the scanner's port: copies columns firstColumn..lastColumn of one
    // row of the final image. 0 for another grabber or port, while a reset is required,
    // without a final image, for a row or column outside it, firstColumn > lastColumn or a
    // null buffer. Takes no scanner lock (a host may read rows on one thread while another
    // waits in a completion callback); it never reads an image that is being reallocated.
    int readRow(int32_t rowGrabber, int32_t rowPort, void* buffer, int32_t row, int32_t firstColumn,
                int32_t lastColumn) const;

    // Places the processed image of `camera` into the band of its scan index, counts it,
    // sends the pass-through notification, completes the final image when every camera
    // has every scan, and otherwise applies the timer rule. Runs on the driver's thread or
    // a camera worker; takes the scanner lock for its whole run, host callbacks included.
    Placement placeImage(ScanCamera& camera);
    // Ends the cycle and prepares the next (the timer is cancelled, the receive mask
    // cleared, the image shifted for the overlap). Returns the smallest scan index before.
    // Scanner lock.
    uint32_t resetCycle() QUILTRA_REQUIRES(lock);
    // Shifts the final image so that scan x modulo scanCount is the next band and sets every
    // camera's scan index to it. Scanner lock.
    void setCount(uint32_t x) QUILTRA_REQUIRES(lock);
    // Fills every part of the final image that the current cycle has not written with the
    // low byte of `value`; nothing without a final image. Returns 0. Scanner lock.
    int fillMissing(int value) QUILTRA_REQUIRES(lock);
    // Calls the host's completion callback with (callbackGrabber, callbackPort) unless the
    // scanner is closing. Scanner lock (held while the host runs).
    void notifyHost(int32_t callbackGrabber, int32_t callbackPort) const QUILTRA_REQUIRES(lock);
    // Cancels the pending grab timeout and, for a nonzero delay, arms a new one. The timer
    // refers to the scanner only weakly. Scanner lock.
    void startTimer(uint32_t delayMs) QUILTRA_REQUIRES(lock);
    // The grab timeout, on the timer thread: counts the cameras that did not deliver,
    // reports, completes the final image when enough scans arrived, and resets the cycle.
    // A timer that was cancelled or re-armed before it got the lock does nothing.
    void onTimeout(uint32_t firedTimerId);

    // The first step of closing the port: from now on no image is placed, no timeout runs
    // and the host is not called back any more; the pending timer is cancelled. Safe from
    // inside the scanner's own callbacks (the lock is recursive).
    void beginClose();
    // The rest of closing the port, on a thread that holds no library lock: beginClose,
    // then each camera's worker is stopped (the image in progress finishes first) and the
    // plug-ins are released. Idempotent.
    void shutdown();
    // True once beginClose has run.
    bool closing() const;

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
    // assembly settings. Taken before the DriverLock and any camera lock; host callbacks
    // are called with it held.
    mutable platform::RecursiveLock lock;
    // Held exclusively, inside `lock`, while the final image is reallocated and its
    // geometry (width, height, bytesPerPixel, image, imageSize) changes; shared by row
    // readers, which take no scanner lock. Never held while the host is called.
    mutable std::shared_mutex imageLock;

    DriverBinding* const binding;  // not owned; may be null only in tests
    // In configuration order; the index is the camera's bit in receiveMask. Filled while
    // the scanner is built (no other thread sees it yet), then fixed until destruction.
    std::vector<std::unique_ptr<ScanCamera>> cameras;
    const std::string name;
    const int32_t grabber;
    const int32_t port;

    // Fields of type RelaxedAtomic are written under `lock` and read by the property and
    // status readers without it (a value may be one image old).
    platform::RelaxedAtomic<uint32_t> scanCount = 1;          // never 0
    platform::RelaxedAtomic<uint32_t> activeGrabTimeout = 0;  // ms; 0: no timeout
    platform::RelaxedAtomic<int32_t> minScans = 0;
    uint32_t timerId QUILTRA_GUARDED_BY(lock) = 0;  // pending one-shot timer; 0: none
    uint32_t receiveMask QUILTRA_GUARDED_BY(lock) = 0;
    // The final image and its geometry: changed with `lock` and `imageLock` held, read with
    // either. Its content is written under `lock` only.
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;
    // width x height pixels, rows top to bottom, no padding; null when not allocated.
    // Zeroed by calloc, so a large image takes memory only as its bands are written.
    struct FreeImage {
        void operator()(uint8_t* bytes) const noexcept { std::free(bytes); }
    };
    std::unique_ptr<uint8_t[], FreeImage> image;
    uint32_t imageSize = 0;  // bytes, as last allocated
    // Set by the host at any time (setCompleteCallback takes no scanner lock, so a host
    // may set it while a callback of this scanner waits for it).
    std::atomic<CompleteCallback> completeCallback{nullptr};
    // Set or cleared by the reset check when a real camera port is reopened.
    std::atomic<bool> resetRequired{false};
    bool active QUILTRA_GUARDED_BY(lock) = false;
    int64_t scanStart QUILTRA_GUARDED_BY(lock) = 0;  // performance-counter ticks
    platform::RelaxedAtomic<uint32_t> scanTime = 0;  // ms
    platform::RelaxedAtomic<uint32_t> imageCount = 0;
    platform::RelaxedAtomic<uint32_t> activeGrabTimeoutCount = 0;
    // Scan numbers that are passed through: 0 every scan, 1..scanCount one scan.
    std::vector<int32_t> passThru QUILTRA_GUARDED_BY(lock);
    platform::RelaxedAtomic<uint32_t> overlap = 0;  // below scanCount when set
    SaveScannerHook saveScannerHook = nullptr;      // set once by the port's opening

private:
    // The final image of `size` bytes: kept when it has that size, else reallocated
    // zero-filled; false, with no final image, when it cannot be had. Scanner lock and
    // imageLock held.
    bool allocateImage(double size) QUILTRA_REQUIRES(lock);
    // Byte offset of camera `index`'s segment in `band` (limited to scanCount - 1).
    int64_t placementOffset(uint32_t band, std::size_t index) const QUILTRA_REQUIRES(lock);
    // Writes the output rows of `camera` (camera `index`) into band `band`, from
    // `processed` with an active resampler, else straight from the driver. Writes nothing
    // that would fall outside the camera's segment or the final image.
    void writeRows(ScanCamera& camera, std::size_t index, uint32_t band) QUILTRA_REQUIRES(lock);
    // Fills `rows` rows of `bytes` bytes from `offset` on, one row pitch apart, with `value`
    // (clipped to the final image).
    void fillRows(int64_t offset, int64_t rows, int64_t bytes, uint8_t value)
        QUILTRA_REQUIRES(lock);

    bool closing_ QUILTRA_GUARDED_BY(lock) = false;
    std::atomic<bool> shutDown_{false};  // shutdown() has begun
    // This scanner's key in the table through which a firing timer finds it; 0 until the
    // first timer is armed.
    uintptr_t timerKey_ QUILTRA_GUARDED_BY(lock) = 0;
};

}  // namespace quiltra

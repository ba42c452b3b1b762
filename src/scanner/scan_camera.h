// One real camera port of a scanner: its ring of collected images, its processing chain (one
// prefilter and one resampler per calibration entry), its output size and its counters.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/recursive_lock.h"
#include "platform/relaxed_atomic.h"
#include "platform/thread_annotations.h"
#include "plugins/filter_binding.h"
#include "plugins/resampler_binding.h"
#include "scanner/camera_worker.h"

namespace quiltra {

class DriverBinding;
class Scanner;

// A camera's or the final image's size in pixels, columns first.
struct ImageSize {
    int32_t columns = 0;
    int32_t rows = 0;
};

class ScanCamera {
public:
    static constexpr uint32_t kRingSize = 10;

    // Only Scanner::addCamera makes cameras: it asks the driver for the pixel size
    // (bytesPerPixelOf), then allocates the ring (allocateRing).
    ScanCamera(Scanner& owner, DriverBinding* driver, int32_t cameraPort, int32_t cameraWidth,
               int32_t cameraHeight, int32_t cameraBytesPerPixel);
    // Stops the worker, then releases every resampler binding, then every filter binding,
    // then the ring, then `processed`.
    ~ScanCamera();
    ScanCamera(const ScanCamera&) = delete;
    ScanCamera& operator=(const ScanCamera&) = delete;

    // Bytes per pixel of a camera on `port`: the driver's "PixelSize" in bits (preset to 8,
    // the result of getProperty not examined) divided by 8, where 0 to 7 bits count as one
    // byte; one byte when the driver has no getProperty.
    static int32_t bytesPerPixelOf(const DriverBinding* driver, int32_t port);

    // Allocates the ten ring buffers of width x height x bytesPerPixel bytes, zero-filled.
    // False, with the "final image too big" message for a size beyond 32 bits, when they
    // cannot be had.
    bool allocateRing();
    // Byte size of one ring buffer (Scanner::imageByteSize: negative for a negative size).
    double ringBufferSize() const;

    // Entry calibIndex of `filters` / `resamplers`, or null when there is none. The
    // pointer stays valid while the caller holds this camera's lock.
    FilterBinding* activeFilter() const QUILTRA_REQUIRES(lock);
    ResamplerBinding* activeResampler() const QUILTRA_REQUIRES(lock);
    // The active resampler's (outputColumns, outputRows), else the camera's (width, height).
    ImageSize outputSize() const;

    // Copies the driver's last image of this camera's port row by row into ring buffer
    // writeIndex and advances it. Returns the bytes collected; 0, with the ring unchanged,
    // when a row read fails, the driver has no getCVLGrabRow, the camera's port was
    // reopened with another pixel size, or the ring is full (a busy worker is a whole ring
    // behind: the next buffer still holds an image it has not processed). Runs on the
    // driver's thread under the DriverLock.
    uint32_t collectImage();
    // Runs ring buffer readIndex through the active prefilter and resampler into
    // `processed` (a plain copy when a resampler is active but there is nothing to do) and
    // advances readIndex. Returns the byte size of the processed image; 0 when the
    // resampler reported none.
    uint32_t processImage();
    // Releases the plug-in instances and unloads their libraries (the scanner is shutting
    // down); processing then has no prefilter or resampler.
    void releasePlugins();
    // Frees `processed` and allocates it anew, zero-filled, with `size` bytes
    // (Scanner::imageByteSize); it stays empty when that size is 0, negative, beyond 32 bits
    // or cannot be had, and processImage then allocates it on the next image.
    void reallocateProcessed(double size) QUILTRA_REQUIRES(lock);
    Scanner& scanner;              // the owner; outlives the camera
    DriverBinding* const binding;  // the driver serving this camera's port; not owned

    // Calibration entries, parallel lists with one entry each per calibration entry; a
    // filter entry may be empty. Filled while the scanner is built (no other thread sees
    // it yet), then read under `lock`, and emptied under it when the scanner shuts down.
    std::vector<std::unique_ptr<FilterBinding>> filters;
    std::vector<std::unique_ptr<ResamplerBinding>> resamplers;

    // Guards the ring, its indices, `processed`, the step timings and the worker hand-off.
    // Taken after the scanner's lock when both are needed.
    mutable platform::RecursiveLock lock;

    const int32_t grabber = 0;  // cameras are always addressed on grabber 0
    const int32_t port;
    bool threaded = true;  // set while building, then only read
    const int32_t width;
    const int32_t height;
    const int32_t bytesPerPixel;
    // Set by the reset check while the camera's port is open with another pixel size than
    // the ring was made for: the camera collects nothing until the port is reopened with
    // the old one.
    std::atomic<bool> pixelSizeMismatch{false};

    // The active calibration entry; changed only with the scanner lock and this lock held.
    uint32_t calibIndex QUILTRA_GUARDED_BY(lock) = 0;

    // Cycle state and counters, written under the owning scanner's lock; the atomic ones
    // are also read without it (properties and status).
    platform::RelaxedAtomic<uint32_t> scanIndex = 0;
    uint32_t lostCount = 0;
    platform::RelaxedAtomic<uint32_t> imageCount = 0;
    platform::RelaxedAtomic<uint32_t> activeGrabTimeoutCount = 0;

    // Durations of the last collect, prefilter and resample steps, in microseconds.
    // Written under `lock`; read without it (the hook's bounded wait, the "image port"
    // message, the status), so reading them never waits for a processing step.
    platform::RelaxedAtomic<uint32_t> collectTime = 0;
    platform::RelaxedAtomic<uint32_t> prefilterTime = 0;
    platform::RelaxedAtomic<uint32_t> resampleTime = 0;

    const uint32_t ringSize = kRingSize;
    uint32_t writeIndex QUILTRA_GUARDED_BY(lock) = 0;  // next buffer to collect into
    uint32_t readIndex QUILTRA_GUARDED_BY(lock) = 0;   // next buffer to process
    // Images collected and not yet processed, at most ringSize: no collection overwrites a
    // buffer before it is processed.
    uint32_t unprocessed QUILTRA_GUARDED_BY(lock) = 0;
    std::array<std::vector<uint8_t>, kRingSize> ring QUILTRA_GUARDED_BY(lock);
    // Output of the processing chain, sized for the output size; allocated on first use.
    std::vector<uint8_t> processed QUILTRA_GUARDED_BY(lock);

    // Processes and places the images of a threaded camera; idle until the first one.
    CameraWorker worker;

private:
    // Allocates `processed` zero-filled with `size` bytes when it is still empty.
    void allocateProcessed(double size) QUILTRA_REQUIRES(lock);
};

}  // namespace quiltra

// The benchmark's side of the in-memory camera driver (bench/memory_driver.cpp). The
// benchmark loads the same library file Quiltra loads and calls its exported
// memoryDriverControl() to reach this object; the loader hands both the same instance.
#pragma once

#include <quiltra/camera_driver.h>

#include <cstdint>

namespace quiltra::bench {

// The byte the driver serves at (row, column) of camera `camera` (0-based): every camera,
// row and column differ, so a misplaced segment, band or row shows in a comparison.
inline std::uint8_t memoryPixel(int camera, int row, int column) {
    return static_cast<std::uint8_t>(camera * 61 + row * 7 + column);
}

// Time the callers of the completion callbacks spent inside them.
struct HookTiming {
    std::uint64_t calls = 0;
    std::uint64_t nanoseconds = 0;
};

// The driver's cameras are "MemCam1".."MemCamN", all of one size with 8 bits per pixel;
// each can be open on any number of ports of grabber 0. doCVLGrab on an open port queues
// one image of it; deliverQueued() hands the queued images to the ports' completion
// callbacks on the calling thread, which thereby is the driver's delivery thread.
class MemoryDriverControl {
public:
    static constexpr int kMaxCameras = 32;
    static constexpr int kPorts = 64;

    // Sets the camera list and prepares every camera's image in memory. False, with nothing
    // changed, while a port is open or for a count or size outside 1..kMaxCameras,
    // 1..65536 x 1..65536.
    virtual bool setCameras(int count, int width, int height) = 0;
    // The prepared image of camera `camera` (0-based): width x height bytes, rows packed.
    // Valid until the next successful setCameras.
    virtual const std::uint8_t* image(int camera) = 0;

    // Hands every image queued so far (and those queued by the callbacks meanwhile) to the
    // completion callback of its port, in the order of the grabs, timing each call. Call it
    // from one thread at a time, and close ports only from that thread or while no delivery
    // runs. Returns the number of callbacks made.
    virtual int deliverQueued() = 0;
    // Images queued and not yet delivered.
    virtual int queued() = 0;
    // Totals since the library was loaded.
    virtual HookTiming hookTiming() = 0;

protected:
    ~MemoryDriverControl() = default;
};

// The type of the exported control entry.
using MemoryDriverControlFn = MemoryDriverControl*(QUILTRA_CALL*)();
inline constexpr const char* kMemoryDriverControlEntry = "memoryDriverControl";

}  // namespace quiltra::bench

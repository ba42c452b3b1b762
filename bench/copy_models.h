// The copies the scanner path makes for every camera image, done without Quiltra: the
// yardsticks the pipeline's figures are measured against in the same run.
#pragma once

#include <quiltra/camera_driver.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_annotations.h"

namespace quiltra::bench {

// A scanner's layout: `cameras` cameras of width x height 8-bit pixels side by side, `scans`
// bands stacked, at pitch 1 (each camera's output image is its whole image).
struct Geometry {
    int cameras = 0;
    int width = 0;
    int height = 0;
    int scans = 1;

    std::size_t imageBytes() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
    std::size_t rowPitch() const {
        return static_cast<std::size_t>(cameras) * static_cast<std::size_t>(width);
    }
    std::size_t finalBytes() const {
        return static_cast<std::size_t>(scans) * static_cast<std::size_t>(cameras) * imageBytes();
    }
    int cameraImagesPerFinal() const { return cameras * scans; }
    // "2x640x480/scans:1"
    std::string label() const;
    bool operator==(const Geometry&) const = default;
};

// The memory driver's entries the models open their own ports with and read rows through.
struct DriverPorts {
    OpenCVLPortFn openCVLPort = nullptr;
    CloseCVLPortFn closeCVLPort = nullptr;
    GetCVLGrabRowFn getCVLGrabRow = nullptr;
};

// Buffers of the same sizes as the path's (per camera a ring of ten images and a
// `processed` image; one final image) and the three models that copy through them. The
// models read camera i through the driver on port kFirstPort + i, which they open.
class CopyModels {
public:
    static constexpr int kFirstPort = 32;
    static constexpr int kRingSize = 10;

    // `sources` holds each camera's image as the driver serves it.
    CopyModels(const Geometry& geometry, const DriverPorts& driver,
               std::vector<const std::uint8_t*> sources);
    // Joins the model's threads and closes its ports.
    ~CopyModels();
    CopyModels(const CopyModels&) = delete;
    CopyModels& operator=(const CopyModels&) = delete;

    // Empty when the ports opened; else why not.
    const std::string& error() const { return error_; }
    const Geometry& geometry() const { return geometry_; }

    // One final image's worth of plain memcpy: for every scan and camera, the whole image
    // from the driver's memory into the next ring buffer, from there into `processed`, and
    // from there into the final image, one memcpy each. The bound the pipeline is held to.
    void memcpyBound();
    // One camera image read through the driver's getCVLGrabRow, one call per row, into the
    // camera's next ring buffer: the least a completion hook must do.
    void rowCopy(int camera);
    // One final image as the old design made it: on the calling thread (the driver's), the
    // rows of each camera image into the ring; then, after joining that camera's previous
    // thread, a new thread per image copies the ring buffer into `processed` and places its
    // rows into the final image; the call returns when the last image is placed.
    void threadPerImage();

private:
    std::uint8_t* nextRingBuffer(int camera);
    void collect(int camera, std::uint8_t* destination) const;
    void place(int camera, int scan, const std::uint8_t* image);

    const Geometry geometry_;
    const DriverPorts driver_;
    const std::vector<const std::uint8_t*> sources_;
    std::string error_;
    int openedPorts_ = 0;

    // Used by one model call at a time, from the benchmark's thread; threadPerImage's
    // threads each touch only their camera's buffers and their image's rows of final_.
    std::vector<std::vector<std::uint8_t>> ring_;  // camera * kRingSize + slot
    std::vector<int> nextSlot_;
    std::vector<std::vector<std::uint8_t>> processed_;
    std::vector<std::uint8_t> final_;

    // threadPerImage: each camera's last thread, joined before its next one starts and by
    // the destructor.
    std::vector<std::thread> threads_;
    std::mutex doneMutex_;  // guards remaining_
    std::condition_variable done_;
    int remaining_ QUILTRA_GUARDED_BY(doneMutex_) = 0;  // images of the call not yet placed
};

}  // namespace quiltra::bench

#include "copy_models.h"

#include <cstring>
#include <utility>

namespace quiltra::bench {

std::string Geometry::label() const {
    return std::to_string(cameras) + "x" + std::to_string(width) + "x" + std::to_string(height) +
           "/scans:" + std::to_string(scans);
}

CopyModels::CopyModels(const Geometry& geometry, const DriverPorts& driver,
                       std::vector<const std::uint8_t*> sources)
    : geometry_(geometry),
      driver_(driver),
      sources_(std::move(sources)),
      ring_(static_cast<std::size_t>(geometry.cameras) * kRingSize,
            std::vector<std::uint8_t>(geometry.imageBytes())),
      nextSlot_(static_cast<std::size_t>(geometry.cameras), 0),
      processed_(static_cast<std::size_t>(geometry.cameras),
                 std::vector<std::uint8_t>(geometry.imageBytes())),
      final_(geometry.finalBytes()),
      threads_(static_cast<std::size_t>(geometry.cameras)) {
    for (int camera = 0; camera < geometry_.cameras; ++camera) {
        const std::string name = "MemCam" + std::to_string(camera + 1);
        int size[2] = {0, 0};
        if (driver_.openCVLPort(0, kFirstPort + camera, name.c_str(), size) != 1 ||
            size[0] != geometry_.width || size[1] != geometry_.height) {
            error_ = "the memory driver did not open " + name + " at " +
                     std::to_string(geometry_.width) + "x" + std::to_string(geometry_.height);
            break;
        }
        ++openedPorts_;
    }
}

CopyModels::~CopyModels() {
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    for (int camera = 0; camera < openedPorts_; ++camera) {
        driver_.closeCVLPort(0, kFirstPort + camera);
    }
}

std::uint8_t* CopyModels::nextRingBuffer(int camera) {
    int& slot = nextSlot_[static_cast<std::size_t>(camera)];
    std::uint8_t* buffer =
        ring_[static_cast<std::size_t>(camera) * kRingSize + static_cast<std::size_t>(slot)].data();
    slot = (slot + 1) % kRingSize;
    return buffer;
}

void CopyModels::collect(int camera, std::uint8_t* destination) const {
    const int port = kFirstPort + camera;
    const int lastColumn = geometry_.width - 1;
    for (int row = 0; row < geometry_.height; ++row) {
        driver_.getCVLGrabRow(0, port, destination, row, 0, lastColumn);
        destination += geometry_.width;
    }
}

void CopyModels::place(int camera, int scan, const std::uint8_t* image) {
    const std::size_t pitch = geometry_.rowPitch();
    std::uint8_t* destination =
        final_.data() +
        static_cast<std::size_t>(scan) * geometry_.imageBytes() *
            static_cast<std::size_t>(geometry_.cameras) +
        static_cast<std::size_t>(camera) * static_cast<std::size_t>(geometry_.width);
    for (int row = 0; row < geometry_.height; ++row) {
        std::memcpy(destination, image, static_cast<std::size_t>(geometry_.width));
        destination += pitch;
        image += geometry_.width;
    }
}

void CopyModels::memcpyBound() {
    const std::size_t bytes = geometry_.imageBytes();
    std::uint8_t* destination = final_.data();
    for (int scan = 0; scan < geometry_.scans; ++scan) {
        for (int camera = 0; camera < geometry_.cameras; ++camera) {
            std::uint8_t* ring = nextRingBuffer(camera);
            std::uint8_t* processed = processed_[static_cast<std::size_t>(camera)].data();
            std::memcpy(ring, sources_[static_cast<std::size_t>(camera)], bytes);
            std::memcpy(processed, ring, bytes);
            std::memcpy(destination, processed, bytes);
            destination += bytes;
        }
    }
}

void CopyModels::rowCopy(int camera) {
    collect(camera, nextRingBuffer(camera));
}

void CopyModels::threadPerImage() {
    {
        std::lock_guard<std::mutex> lock(doneMutex_);
        remaining_ = geometry_.cameraImagesPerFinal();
    }
    const std::size_t bytes = geometry_.imageBytes();
    for (int scan = 0; scan < geometry_.scans; ++scan) {
        for (int camera = 0; camera < geometry_.cameras; ++camera) {
            std::uint8_t* ring = nextRingBuffer(camera);
            collect(camera, ring);
            std::thread& thread = threads_[static_cast<std::size_t>(camera)];
            if (thread.joinable()) {
                thread.join();
            }
            thread = std::thread([this, camera, scan, ring, bytes] {
                std::uint8_t* processed = processed_[static_cast<std::size_t>(camera)].data();
                std::memcpy(processed, ring, bytes);
                place(camera, scan, processed);
                std::lock_guard<std::mutex> lock(doneMutex_);
                if (--remaining_ == 0) {
                    done_.notify_one();
                }
            });
        }
    }
    std::unique_lock<std::mutex> lock(doneMutex_);
    done_.wait(lock, [this] { return remaining_ == 0; });
}

}  // namespace quiltra::bench

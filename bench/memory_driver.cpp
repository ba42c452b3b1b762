// An underlying camera driver that serves images from memory, for the benchmarks: no
// exposure, no rendering, a row read is one memcpy. Grabs are queued and delivered on the
// thread that calls deliverQueued(), so the benchmark decides which thread is the driver's
// and can time every call of the completion callback exactly (memory_driver_control.h).
#define QUILTRA_DRIVER_EXPORTS
#include <quiltra/camera_driver.h>
#include <strings.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "memory_driver_control.h"

namespace quiltra::bench {
namespace {

constexpr int kMaxSide = 65536;
constexpr std::size_t kQueueCapacity = 4096;
constexpr std::size_t kNameSize = 16;

class MemoryDriver final : public MemoryDriverControl {
public:
    MemoryDriver() {
        for (int port = 0; port < kPorts; ++port) {
            portCamera_[port].store(-1, std::memory_order_relaxed);
            callbacks_[port].store(nullptr, std::memory_order_relaxed);
        }
        namePointers_.fill(nullptr);
    }

    // --- the control -------------------------------------------------------------------

    bool setCameras(int count, int width, int height) override {
        if (count < 1 || count > kMaxCameras || width < 1 || width > kMaxSide || height < 1 ||
            height > kMaxSide) {
            return false;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (openPorts_ != 0) {
            return false;
        }
        images_.assign(static_cast<std::size_t>(count), {});
        for (int camera = 0; camera < count; ++camera) {
            std::vector<std::uint8_t>& image = images_[static_cast<std::size_t>(camera)];
            image.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
            for (int row = 0; row < height; ++row) {
                for (int column = 0; column < width; ++column) {
                    image[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(column)] = memoryPixel(camera, row, column);
                }
            }
            std::snprintf(names_[static_cast<std::size_t>(camera)].data(), kNameSize, "MemCam%d",
                          camera + 1);
        }
        namePointers_.fill(nullptr);
        for (int camera = 0; camera < count; ++camera) {
            namePointers_[static_cast<std::size_t>(camera)] =
                names_[static_cast<std::size_t>(camera)].data();
        }
        count_ = count;
        width_ = width;
        height_ = height;
        return true;
    }

    const std::uint8_t* image(int camera) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return camera >= 0 && camera < count_ ? images_[static_cast<std::size_t>(camera)].data()
                                              : nullptr;
    }

    int deliverQueued() override {
        int delivered = 0;
        for (;;) {
            Delivery delivery;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (queued_ == 0) {
                    return delivered;
                }
                delivery = queue_[head_];
                head_ = (head_ + 1) % kQueueCapacity;
                --queued_;
            }
            CompleteCallback callback = callbacks_[delivery.port].load(std::memory_order_acquire);
            if (callback == nullptr) {
                continue;
            }
            const auto start = std::chrono::steady_clock::now();
            callback(delivery.grabber, delivery.port);
            const auto end = std::chrono::steady_clock::now();
            hookNanoseconds_.fetch_add(
                static_cast<std::uint64_t>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()),
                std::memory_order_relaxed);
            hookCalls_.fetch_add(1, std::memory_order_relaxed);
            ++delivered;
        }
    }

    int queued() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(queued_);
    }

    HookTiming hookTiming() override {
        return HookTiming{hookCalls_.load(std::memory_order_relaxed),
                          hookNanoseconds_.load(std::memory_order_relaxed)};
    }

    // --- the entry points --------------------------------------------------------------

    int cameraCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }

    const char** cameraNames() { return namePointers_.data(); }

    int open(int grabber, int port, const char* name, int* size) {
        if (grabber != 0 || !inRange(port) || name == nullptr || size == nullptr) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (portCamera_[port].load(std::memory_order_relaxed) >= 0) {
            return 0;
        }
        for (int camera = 0; camera < count_; ++camera) {
            if (std::strcmp(name, names_[static_cast<std::size_t>(camera)].data()) == 0) {
                size[0] = width_;
                size[1] = height_;
                ++openPorts_;
                portCamera_[port].store(camera, std::memory_order_release);
                return 1;
            }
        }
        return 0;
    }

    void close(int grabber, int port) {
        if (grabber != 0 || !inRange(port)) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (portCamera_[port].load(std::memory_order_relaxed) < 0) {
            return;
        }
        callbacks_[port].store(nullptr, std::memory_order_release);
        portCamera_[port].store(-1, std::memory_order_release);
        --openPorts_;
        dropQueued(port);
    }

    void closeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int port = 0; port < kPorts; ++port) {
            callbacks_[port].store(nullptr, std::memory_order_release);
            portCamera_[port].store(-1, std::memory_order_release);
        }
        openPorts_ = 0;
        queued_ = 0;
    }

    int grab(int grabber, int port) {
        if (grabber != 0 || !inRange(port) ||
            portCamera_[port].load(std::memory_order_acquire) < 0) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (queued_ == kQueueCapacity) {
            return 0;
        }
        queue_[(head_ + queued_) % kQueueCapacity] = Delivery{grabber, port};
        ++queued_;
        return 1;
    }

    // One memcpy per call. The image and its size are read without the lock: they change
    // only in setCameras, which refuses while any port is open, and the port's camera was
    // published (release) after them.
    int row(int grabber, int port, void* buffer, int rowIndex, int firstColumn, int lastColumn) {
        if (grabber != 0 || !inRange(port) || buffer == nullptr) {
            return 0;
        }
        const int camera = portCamera_[port].load(std::memory_order_acquire);
        if (camera < 0 || rowIndex < 0 || rowIndex >= height_ || firstColumn < 0 ||
            lastColumn >= width_ || firstColumn > lastColumn) {
            return 0;
        }
        const std::uint8_t* source =
            images_[static_cast<std::size_t>(camera)].data() +
            static_cast<std::size_t>(rowIndex) * static_cast<std::size_t>(width_) +
            static_cast<std::size_t>(firstColumn);
        std::memcpy(buffer, source, static_cast<std::size_t>(lastColumn - firstColumn + 1));
        return 1;
    }

    int handOver(int grabber, int port, CompleteCallback callback) {
        if (grabber != 0 || !inRange(port) ||
            portCamera_[port].load(std::memory_order_acquire) < 0) {
            return 0;
        }
        callbacks_[port].store(callback, std::memory_order_release);
        return 1;
    }

private:
    struct Delivery {
        int grabber = 0;
        int port = 0;
    };

    static bool inRange(int port) { return port >= 0 && port < kPorts; }

    // Removes the queued images of a port that is being closed, keeping the others' order.
    void dropQueued(int port) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < queued_; ++i) {
            const Delivery delivery = queue_[(head_ + i) % kQueueCapacity];
            if (delivery.port != port) {
                queue_[(head_ + kept) % kQueueCapacity] = delivery;
                ++kept;
            }
        }
        queued_ = kept;
    }

    // Guards the camera list (count_, width_, height_, images_, names_, namePointers_),
    // openPorts_ and the queue. Changes of a port's camera are made under it too.
    std::mutex mutex_;
    int count_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::vector<std::uint8_t>> images_;
    std::array<std::array<char, kNameSize>, kMaxCameras> names_{};
    // The list getCVLCameraConfigNames answers: the camera names, then null entries.
    std::array<const char*, QUILTRA_CAMERA_NAME_LIST_SIZE> namePointers_;
    int openPorts_ = 0;
    std::array<Delivery, kQueueCapacity> queue_{};
    std::size_t head_ = 0;
    std::size_t queued_ = 0;

    // Per port: the camera open on it (-1: closed) and the completion callback handed over.
    std::array<std::atomic<int>, kPorts> portCamera_;
    std::array<std::atomic<CompleteCallback>, kPorts> callbacks_;

    std::atomic<std::uint64_t> hookCalls_{0};
    std::atomic<std::uint64_t> hookNanoseconds_{0};
};

MemoryDriver& driver() {
    static MemoryDriver instance;
    return instance;
}

}  // namespace
}  // namespace quiltra::bench

using quiltra::bench::driver;

extern "C" {

QUILTRA_DRIVER_API quiltra::bench::MemoryDriverControl* QUILTRA_CALL memoryDriverControl(void) {
    return &driver();
}

int QUILTRA_CALL initialize(const char* /*systemPath*/, DebugMsgProc /*debugMsgProc*/) {
    return 1;
}

int QUILTRA_CALL finalize(void) {
    driver().closeAll();
    return 1;
}

int QUILTRA_CALL configureCamera(void* /*ownerWindow*/, const char* /*cameraName*/) {
    return 0;
}

int QUILTRA_CALL getCVLMaxNoOfPorts(int grabber) {
    return grabber == 0 ? quiltra::bench::MemoryDriverControl::kPorts : 0;
}

int QUILTRA_CALL getCVLNoOfSupportedCameras(void) {
    return driver().cameraCount();
}

const char** QUILTRA_CALL getCVLCameraConfigNames(void) {
    return driver().cameraNames();
}

int QUILTRA_CALL openCVLPort(int grabber, int port, const char* cameraName, int* size) {
    return driver().open(grabber, port, cameraName, size);
}

void QUILTRA_CALL closeCVLPort(int grabber, int port) {
    driver().close(grabber, port);
}

int QUILTRA_CALL doCVLGrab(int grabber, int port) {
    return driver().grab(grabber, port);
}

int QUILTRA_CALL getCVLGrabRow(int grabber, int port, void* buffer, int row, int firstColumn,
                               int lastColumn) {
    return driver().row(grabber, port, buffer, row, firstColumn, lastColumn);
}

int QUILTRA_CALL setCompleteCallback(int grabber, int port, CompleteCallback callback) {
    return driver().handOver(grabber, port, callback);
}

int QUILTRA_CALL getPropertyRange(int /*grabber*/, int /*port*/, const char* /*name*/,
                                  int* /*minValue*/, int* /*maxValue*/) {
    return 0;
}

// Only "PixelSize" is known: 8 bits on every port.
int QUILTRA_CALL getProperty(int /*grabber*/, int /*port*/, const char* name, int* value) {
    if (name == nullptr || value == nullptr || strcasecmp(name, "PixelSize") != 0) {
        return 0;
    }
    *value = 8;
    return 1;
}

int QUILTRA_CALL setProperty(int /*grabber*/, int /*port*/, const char* /*name*/, int /*value*/) {
    return 0;
}

int QUILTRA_CALL setCmdCallback(int /*grabber*/, int /*port*/, CmdCallback /*callback*/) {
    return 0;
}

int QUILTRA_CALL execCmd(int /*grabber*/, int /*port*/, const char* /*command*/,
                         const char* /*arguments*/, char* result, int resultSize) {
    if (result != nullptr && resultSize > 0) {
        result[0] = '\0';
    }
    return 0;
}

}  // extern "C"

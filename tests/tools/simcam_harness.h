// Test harness for the simulated camera driver: loads libsimcam / simcam.dll like a host,
// and records what it reports (debug messages, command texts, completions with their images).
#pragma once

#include <quiltra/camera_driver.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver_library.h"
#include "frame_stamp.h"

namespace quiltra::test {

// The simulator's entries, looked up by name as a host does.
using SimcamEntries = tools::DriverEntryPoints;

// One image as the completion callback read it, inside the callback.
struct Delivery {
    int grabber = 0;
    int port = 0;
    std::thread::id thread;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    std::vector<uint8_t> pixels;  // whole image, read row by row in the callback
    std::optional<simcam::FrameStamp> stamp;
};

// What the simulator reported; filled from its threads through plain C callbacks, so there
// is one per process. reset() before each test.
class SimcamRecorder {
public:
    static SimcamRecorder& instance();

    void reset(const SimcamEntries* entries);
    // The size a port's images are read with (the open size).
    void setImageFormat(int port, int width, int height, int bytesPerPixel);
    // Runs inside each completion callback, after the image was read.
    void setOnComplete(std::function<void(int grabber, int port)> action);

    static void QUILTRA_CALL debugProc(const char* text);
    static void QUILTRA_CALL completeProc(int grabber, int port);
    static void QUILTRA_CALL cmdProc(int grabber, int port, const char* text);

    std::vector<std::string> debugMessages();
    std::vector<std::string> commandTexts();
    std::vector<Delivery> deliveries();
    // True when any debug message contains every one of the parts.
    bool hasDebugMessage(const std::vector<std::string>& parts);
    // Waits up to 10 s for the condition on the deliveries; true when it held.
    bool waitForDeliveries(const std::function<bool(const std::vector<Delivery>&)>& done);
    bool waitForDeliveryCount(std::size_t count) {
        return waitForDeliveries([count](const auto& d) { return d.size() >= count; });
    }
    // Waits up to 10 s for at least count command-callback texts.
    bool waitForCommandCount(std::size_t count);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const SimcamEntries* entries_ = nullptr;
    struct Format {
        int width = 0;
        int height = 0;
        int bytesPerPixel = 1;
    };
    std::vector<Format> formats_ = std::vector<Format>(64);
    std::function<void(int, int)> onComplete_;
    std::vector<std::string> debug_;
    std::vector<std::string> commands_;
    std::vector<Delivery> deliveries_;
};

// Polls the port's "status" text until it contains `part` (up to 10 s); the last text.
std::string waitForStatus(const SimcamEntries& entries, int port, const std::string& part);

}  // namespace quiltra::test

// What the checked driver hands back to the checker: completion callbacks (with, on request,
// every row of the image read inside the callback) and debug messages. The driver's callbacks
// are plain C functions with no context, so this record is one per process; it is never
// destroyed, since a broken driver may call it at any time, even after the run.
#pragma once

#include <quiltra/camera_driver.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quiltra::conformance {

using Clock = std::chrono::steady_clock;

// The size of one image as Quiltra reads it: width x height pixels of bytesPerPixel bytes.
struct ImageFormat {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    std::size_t rowBytes() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel);
    }
};

// The rows of one image read with getCVLGrabRow, each whole row (columns 0 to width - 1)
// twice into buffers filled with two different poison bytes: a byte that kept its poison in
// both reads was never written, one beyond the row that lost it was overrun.
struct RowReading {
    bool done = false;                 // the rows were read
    std::string problem;               // the first fault found; empty when every row was right
    std::vector<std::uint8_t> pixels;  // the image, row after row (empty on a problem)
};
RowReading readImageRows(GetCVLGrabRowFn getRow, int grabber, int port, const ImageFormat& format);

struct Completion {
    int grabber = 0;
    int port = 0;
    std::thread::id thread;
    Clock::time_point at;        // when the callback was entered
    Clock::time_point returned;  // when it was about to return
    RowReading rows;
};

class DriverEvents {
public:
    static DriverEvents& instance();

    // Forgets every completion and row request; rows are read through getRow (null: never).
    void reset(GetCVLGrabRowFn getRow);
    // The next completion with this port reads every row of an image of this format.
    void readRowsOnce(int port, const ImageFormat& format);
    // Where debug messages go (null: dropped).
    void setDebugSink(std::function<void(const std::string&)> sink);

    static void QUILTRA_CALL completeProc(int grabber, int port);
    static void QUILTRA_CALL debugProc(const char* text);

    std::size_t count();
    // The completions from number `first` (counted from reset) on.
    std::vector<Completion> since(std::size_t first);
    // Waits until at least `count` completions are in, at most `timeout`; true when they are.
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout);

private:
    DriverEvents() = default;

    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    GetCVLGrabRowFn getRow_ = nullptr;
    std::map<int, ImageFormat> rowRequests_;  // per port
    std::function<void(const std::string&)> debugSink_;
    std::vector<Completion> completions_;
};

}  // namespace quiltra::conformance

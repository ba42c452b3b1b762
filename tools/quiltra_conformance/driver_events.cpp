#include "driver_events.h"

#include <cstdio>

namespace quiltra::conformance {

namespace {

constexpr std::uint8_t kPoisonA = 0xA5;
constexpr std::uint8_t kPoisonB = 0x5A;
constexpr std::size_t kGuardBytes = 64;  // checked beyond the row's end for an overrun

std::string describeRange(const char* what, std::size_t first, std::size_t last,
                          std::size_t rowBytes) {
    char text[160];
    std::snprintf(text, sizeof text, "%s %llu to %llu of its %llu", what,
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(last),
                  static_cast<unsigned long long>(rowBytes));
    return text;
}

}  // namespace

RowReading readImageRows(GetCVLGrabRowFn getRow, int grabber, int port, const ImageFormat& format) {
    RowReading reading;
    reading.done = true;
    const std::size_t rowBytes = format.rowBytes();
    std::vector<std::uint8_t> first(rowBytes + kGuardBytes);
    std::vector<std::uint8_t> second(rowBytes + kGuardBytes);
    reading.pixels.resize(rowBytes * static_cast<std::size_t>(format.height));
    char text[256];
    for (int row = 0; row < format.height; ++row) {
        std::fill(first.begin(), first.end(), kPoisonA);
        std::fill(second.begin(), second.end(), kPoisonB);
        const int resultA = getRow(grabber, port, first.data(), row, 0, format.width - 1);
        const int resultB = getRow(grabber, port, second.data(), row, 0, format.width - 1);
        if (resultA != 1 || resultB != 1) {
            std::snprintf(text, sizeof text,
                          "row %d: getCVLGrabRow(%d, %d, buffer, %d, 0, %d) returned %d, "
                          "expected 1",
                          row, grabber, port, row, format.width - 1,
                          resultA != 1 ? resultA : resultB);
            reading.problem = text;
            break;
        }
        std::size_t unwrittenFirst = rowBytes;
        std::size_t unwrittenLast = 0;
        std::size_t changed = rowBytes;
        for (std::size_t i = 0; i < rowBytes; ++i) {
            if (first[i] == kPoisonA && second[i] == kPoisonB) {
                unwrittenFirst = std::min(unwrittenFirst, i);
                unwrittenLast = i;
            } else if (first[i] != second[i] && changed == rowBytes) {
                changed = i;
            }
        }
        std::size_t overrun = kGuardBytes;
        for (std::size_t i = 0; i < kGuardBytes; ++i) {
            if (first[rowBytes + i] != kPoisonA || second[rowBytes + i] != kPoisonB) {
                overrun = i;
                break;
            }
        }
        if (unwrittenFirst < rowBytes) {
            reading.problem = "row " + std::to_string(row) + ": " +
                              describeRange("bytes", unwrittenFirst, unwrittenLast, rowBytes) +
                              " were not written";
        } else if (overrun < kGuardBytes) {
            std::snprintf(text, sizeof text,
                          "row %d: wrote beyond the row's %llu bytes (byte %llu after its end)",
                          row, static_cast<unsigned long long>(rowBytes),
                          static_cast<unsigned long long>(overrun));
            reading.problem = text;
        } else if (changed < rowBytes) {
            std::snprintf(text, sizeof text,
                          "row %d: two reads inside the callback differ at byte %llu: the image "
                          "changed while it was being read",
                          row, static_cast<unsigned long long>(changed));
            reading.problem = text;
        }
        if (!reading.problem.empty()) {
            break;
        }
        std::copy(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(rowBytes),
                  reading.pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes * row));
    }
    if (!reading.problem.empty()) {
        reading.pixels.clear();
    }
    return reading;
}

DriverEvents& DriverEvents::instance() {
    // Never destroyed: a driver may call back at any time, also while the process ends.
    static DriverEvents* events = new DriverEvents();
    return *events;
}

void DriverEvents::reset(GetCVLGrabRowFn getRow) {
    std::lock_guard lock(mutex_);
    getRow_ = getRow;
    rowRequests_.clear();
    completions_.clear();
}

void DriverEvents::readRowsOnce(int port, const ImageFormat& format) {
    std::lock_guard lock(mutex_);
    rowRequests_[port] = format;
}

void DriverEvents::setDebugSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(mutex_);
    debugSink_ = std::move(sink);
}

void QUILTRA_CALL DriverEvents::completeProc(int grabber, int port) {
    DriverEvents& self = instance();
    Completion completion;
    completion.at = Clock::now();
    completion.grabber = grabber;
    completion.port = port;
    completion.thread = std::this_thread::get_id();
    GetCVLGrabRowFn getRow = nullptr;
    ImageFormat format;
    {
        std::lock_guard lock(self.mutex_);
        auto request = self.rowRequests_.find(port);
        if (request != self.rowRequests_.end() && self.getRow_ != nullptr) {
            getRow = self.getRow_;
            format = request->second;
            self.rowRequests_.erase(request);
        }
    }
    if (getRow != nullptr) {
        completion.rows = readImageRows(getRow, grabber, port, format);
    }
    completion.returned = Clock::now();
    std::lock_guard lock(self.mutex_);
    self.completions_.push_back(std::move(completion));
    self.changed_.notify_all();
}

void QUILTRA_CALL DriverEvents::debugProc(const char* text) {
    DriverEvents& self = instance();
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard lock(self.mutex_);
        sink = self.debugSink_;
    }
    if (sink) {
        sink(text != nullptr ? text : "");
    }
}

std::size_t DriverEvents::count() {
    std::lock_guard lock(mutex_);
    return completions_.size();
}

std::vector<Completion> DriverEvents::since(std::size_t first) {
    std::lock_guard lock(mutex_);
    if (first >= completions_.size()) {
        return {};
    }
    return {completions_.begin() + static_cast<std::ptrdiff_t>(first), completions_.end()};
}

bool DriverEvents::waitForCount(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return completions_.size() >= count; });
}

}  // namespace quiltra::conformance

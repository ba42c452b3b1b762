#include "simcam_harness.h"

namespace quiltra::test {

SimcamRecorder& SimcamRecorder::instance() {
    static SimcamRecorder recorder;
    return recorder;
}

void SimcamRecorder::reset(const SimcamEntries* entries) {
    std::lock_guard lock(mutex_);
    entries_ = entries;
    formats_.assign(64, Format{});
    onComplete_ = nullptr;
    debug_.clear();
    commands_.clear();
    deliveries_.clear();
}

void SimcamRecorder::setImageFormat(int port, int width, int height, int bytesPerPixel) {
    std::lock_guard lock(mutex_);
    formats_.at(static_cast<std::size_t>(port)) = Format{width, height, bytesPerPixel};
}

void SimcamRecorder::setOnComplete(std::function<void(int, int)> action) {
    std::lock_guard lock(mutex_);
    onComplete_ = std::move(action);
}

void QUILTRA_CALL SimcamRecorder::debugProc(const char* text) {
    SimcamRecorder& self = instance();
    std::lock_guard lock(self.mutex_);
    self.debug_.emplace_back(text != nullptr ? text : "");
    self.changed_.notify_all();
}

void QUILTRA_CALL SimcamRecorder::cmdProc(int /*grabber*/, int /*port*/, const char* text) {
    SimcamRecorder& self = instance();
    std::lock_guard lock(self.mutex_);
    self.commands_.emplace_back(text != nullptr ? text : "");
    self.changed_.notify_all();
}

void QUILTRA_CALL SimcamRecorder::completeProc(int grabber, int port) {
    SimcamRecorder& self = instance();
    Delivery delivery;
    std::function<void(int, int)> action;
    const SimcamEntries* entries = nullptr;
    {
        std::lock_guard lock(self.mutex_);
        const Format& format = self.formats_.at(static_cast<std::size_t>(port));
        delivery.width = format.width;
        delivery.height = format.height;
        delivery.bytesPerPixel = format.bytesPerPixel;
        action = self.onComplete_;
        entries = self.entries_;
    }
    delivery.grabber = grabber;
    delivery.port = port;
    delivery.thread = std::this_thread::get_id();
    const std::size_t rowBytes = static_cast<std::size_t>(delivery.width) * delivery.bytesPerPixel;
    delivery.pixels.resize(rowBytes * static_cast<std::size_t>(delivery.height));
    bool complete = entries != nullptr && delivery.width > 0;
    for (int row = 0; complete && row < delivery.height; ++row) {
        complete = entries->getCVLGrabRow(grabber, port, delivery.pixels.data() + rowBytes * row,
                                          row, 0, delivery.width - 1) == 1;
    }
    if (complete) {
        delivery.stamp =
            simcam::readFrameStamp(delivery.pixels.data(), delivery.width, delivery.height,
                                   static_cast<std::ptrdiff_t>(rowBytes), delivery.bytesPerPixel);
    } else {
        delivery.pixels.clear();
    }
    if (action) {
        action(grabber, port);
    }
    std::lock_guard lock(self.mutex_);
    self.deliveries_.push_back(std::move(delivery));
    self.changed_.notify_all();
}

std::vector<std::string> SimcamRecorder::debugMessages() {
    std::lock_guard lock(mutex_);
    return debug_;
}

std::vector<std::string> SimcamRecorder::commandTexts() {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<Delivery> SimcamRecorder::deliveries() {
    std::lock_guard lock(mutex_);
    return deliveries_;
}

bool SimcamRecorder::hasDebugMessage(const std::vector<std::string>& parts) {
    std::lock_guard lock(mutex_);
    for (const std::string& message : debug_) {
        bool all = true;
        for (const std::string& part : parts) {
            all = all && message.find(part) != std::string::npos;
        }
        if (all) {
            return true;
        }
    }
    return false;
}

bool SimcamRecorder::waitForDeliveries(
    const std::function<bool(const std::vector<Delivery>&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return done(deliveries_); });
}

bool SimcamRecorder::waitForCommandCount(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return commands_.size() >= count; });
}

std::string waitForStatus(const SimcamEntries& entries, int port, const std::string& part) {
    char text[256] = "";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        entries.execCmd(0, port, "status", "", text, sizeof text);
        if (std::string(text).find(part) != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return text;
}

}  // namespace quiltra::test

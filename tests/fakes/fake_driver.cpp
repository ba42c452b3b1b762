// A scriptable fake underlying camera driver. One source, built as several libraries that
// leave entries out (FAKE_DRIVER_NO_* definitions); see fake_driver_control.h for the
// script and the call log, and drivers.cmake for the variants.
#define QUILTRA_DRIVER_EXPORTS
#include <quiltra/camera_driver.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_driver_control.h"

namespace quiltra::fake {
namespace {

constexpr int kAnyPort = -1;

using Clock = std::chrono::steady_clock;

// An image waiting for the delivery thread.
struct QueuedImage {
    int grabber = 0;
    int port = 0;
    Clock::time_point due;  // announced no earlier than this
};

struct ImageSize {
    int width = 640;
    int height = 480;
};

class FakeDriver final : public FakeDriverControl {
public:
    // --- the script ---------------------------------------------------------------------

    void reset() override {
        stopDelivery();
        std::lock_guard<std::mutex> lock(mutex_);
        // Every buffer is given back, not only emptied: once a test unloads the library,
        // nothing of it may stay allocated.
        release(names_);
        release(namePointers_);
        reportedCount_ = -1;
        nullList_ = false;
        portCount_ = 4;
        release(openResults_);
        release(handOverResults_);
        release(imageSizes_);
        release(properties_);
        release(results_);
        release(execReplies_);
        deliverOnGrab_ = false;
        release(deliverInside_);
        delivered_ = 0;
        release(callbacks_);
        lastCallbackPort_ = -1;
        debugMsgProc_ = nullptr;
        release(systemPath_);
        release(calls_);
        release(queue_);
        release(frames_);
        release(announced_);
        release(stamps_);
        callLog_ = true;
        deliveryDelay_ = std::chrono::milliseconds(0);
        imagesPerGrab_ = 1;
        quietAfterClose_ = false;
        release(announcedPorts_);
        rowsOnlyInCallback_ = false;
        enqueued_ = 0;
        finished_ = 0;
    }

    void setCameraNames(const std::vector<std::string>& names, int reportedCount,
                        bool nullList) override {
        std::lock_guard<std::mutex> lock(mutex_);
        names_ = names;
        namePointers_.clear();
        for (const std::string& name : names_) {
            namePointers_.push_back(name.c_str());
        }
        namePointers_.push_back(nullptr);
        reportedCount_ = reportedCount;
        nullList_ = nullList;
    }

    void setPortCount(int ports) override {
        std::lock_guard<std::mutex> lock(mutex_);
        portCount_ = ports;
    }

    void scriptOpenResults(const std::vector<int>& results) override {
        std::lock_guard<std::mutex> lock(mutex_);
        openResults_.assign(results.begin(), results.end());
    }

    void scriptHandOverResults(const std::vector<int>& results) override {
        std::lock_guard<std::mutex> lock(mutex_);
        handOverResults_.assign(results.begin(), results.end());
    }

    void setImageSize(int port, int width, int height) override {
        std::lock_guard<std::mutex> lock(mutex_);
        imageSizes_[port] = ImageSize{width, height};
    }

    void setPropertyValue(int port, const std::string& name, int value) override {
        std::lock_guard<std::mutex> lock(mutex_);
        properties_[{port, name}] = value;
    }

    void setResult(const std::string& entry, int result) override {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[entry] = result;
    }

    void setPortResult(const std::string& entry, int port, int result) override {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[entry + "@" + std::to_string(port)] = result;
    }

    void setExecReply(const std::string& reply, int port) override {
        std::lock_guard<std::mutex> lock(mutex_);
        execReplies_[port] = reply;
    }

    void setDeliverOnGrab(bool on) override {
        std::lock_guard<std::mutex> lock(mutex_);
        deliverOnGrab_ = on;
    }

    void setDeliverInside(const std::string& entry) override {
        std::lock_guard<std::mutex> lock(mutex_);
        deliverInside_ = entry;
    }

    // --- delivery -----------------------------------------------------------------------

    void deliver(int grabber, int port) override { enqueue(grabber, port); }

    void waitForDeliveries() override {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !delivering_; });
    }

    int delivered() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return delivered_;
    }

    bool deliverHere(int grabber, int port) override {
        CompleteCallback callback = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto found = callbacks_.find(port);
            callback = found != callbacks_.end() ? found->second : nullptr;
            frames_[port] = announced_[port]++;
        }
        if (callback == nullptr) {
            return false;
        }
        callback(grabber, port);
        std::lock_guard<std::mutex> lock(mutex_);
        ++delivered_;
        return true;
    }

    void dropImage(int port) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++announced_[port];
    }

    void setFrameStamp(int port, int camera) override {
        std::lock_guard<std::mutex> lock(mutex_);
        stamps_[port] = camera;
    }

    void setCallLog(bool on) override {
        std::lock_guard<std::mutex> lock(mutex_);
        callLog_ = on;
    }

    void setDeliveryDelay(int ms) override {
        std::lock_guard<std::mutex> lock(mutex_);
        deliveryDelay_ = std::chrono::milliseconds(ms);
    }

    void setImagesPerGrab(int images) override {
        std::lock_guard<std::mutex> lock(mutex_);
        imagesPerGrab_ = images;
    }

    void setQuietAfterClose(bool on) override {
        std::lock_guard<std::mutex> lock(mutex_);
        quietAfterClose_ = on;
    }

    void setAnnouncedPort(int port, int announced) override {
        std::lock_guard<std::mutex> lock(mutex_);
        announcedPorts_[port] = announced;
    }

    void setRowsOnlyInCallback(bool on) override {
        std::lock_guard<std::mutex> lock(mutex_);
        rowsOnlyInCallback_ = on;
    }

    // --- what the fake was given --------------------------------------------------------

    CompleteCallback completeCallback(int port) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = callbacks_.find(port);
        return found != callbacks_.end() ? found->second : nullptr;
    }

    DebugMsgProc debugMsgProc() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return debugMsgProc_;
    }

    std::string systemPath() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return systemPath_;
    }

    void sendDebugMessage(const std::string& text) override {
        DebugMsgProc proc = debugMsgProc();
        if (proc != nullptr) {
            proc(text.c_str());
        }
    }

    std::vector<std::string> calls() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    std::vector<std::string> callsOf(const std::string& entry) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> matching;
        for (const std::string& call : calls_) {
            if (call.compare(0, entry.size() + 1, entry + "(") == 0) {
                matching.push_back(call);
            }
        }
        return matching;
    }

    void clearCalls() override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    // --- the driver's side, used by the exported entries ----------------------------------

    // Records one call: name(arguments...).
    template <typename... Args>
    void record(const char* name, const Args&... args) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!callLog_) {
                return;
            }
        }
        std::string call = std::string(name) + "(";
        [[maybe_unused]] bool first = true;
        ((call += (first ? "" : ","), call += argument(args), first = false), ...);
        call += ")";
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }

    int result(const char* entry, int port = -1) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = results_.find(std::string(entry) + "@" + std::to_string(port));
        if (found == results_.end()) {
            found = results_.find(entry);
        }
        return found != results_.end() ? found->second : 1;
    }

    // The number of the image of `port` being announced or announced last.
    int frame(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = frames_.find(port);
        return found != frames_.end() ? found->second : 0;
    }

    void setHostSettings(const char* systemPath, DebugMsgProc proc, bool setPath, bool setProc) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (setPath) {
            systemPath_ = systemPath != nullptr ? systemPath : "";
        }
        if (setProc) {
            debugMsgProc_ = proc;
        }
    }

    int portCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return portCount_;
    }

    int cameraCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reportedCount_ >= 0 ? reportedCount_ : static_cast<int>(names_.size());
    }

    const char** cameraNames() {
        std::lock_guard<std::mutex> lock(mutex_);
        static const char* noNames[] = {nullptr};
        if (nullList_) {
            return nullptr;
        }
        return namePointers_.empty() ? noNames : namePointers_.data();
    }

    int open(int port, int* size) {
        std::lock_guard<std::mutex> lock(mutex_);
        int answer = nextOf(openResults_);
        if (answer == 1 && size != nullptr) {
            ImageSize image = imageSizeLocked(port);
            size[0] = image.width;
            size[1] = image.height;
        }
        return answer;
    }

    int handOver(int port, CompleteCallback callback) {
        int answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answer = nextOf(handOverResults_);
            if (answer == 1) {
                callbacks_[port] = callback;
                lastCallbackPort_ = port;
            }
        }
        return answer;
    }

    // Delivers an image of the port from the delivery thread and waits for it, when the
    // script asks for it inside `entry`.
    void deliverInside(const char* entry, int grabber, int port) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (deliverInside_ != entry || stopping_) {
            return;
        }
        if (port < 0) {
            port = lastCallbackPort_;
        }
        int target = ++enqueued_;
        queue_.push_back({grabber, port, Clock::now() + deliveryDelay_});
        startLocked();
        wake_.notify_all();
        bool done =
            idle_.wait_for(lock, std::chrono::seconds(10), [&] { return finished_ >= target; });
        if (!done) {
            calls_.push_back("deliveryTimedOut");
            deliveryStuck_ = true;
        }
    }

    // The camera number of the port's frame stamps; 0: none.
    int stamp(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = stamps_.find(port);
        return found != stamps_.end() ? found->second : 0;
    }

    bool deliverOnGrab() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliverOnGrab_;
    }

    int imagesPerGrab() {
        std::lock_guard<std::mutex> lock(mutex_);
        return imagesPerGrab_;
    }

    // False when getCVLGrabRow is to refuse on this thread (setRowsOnlyInCallback).
    bool rowsServedHere() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !rowsOnlyInCallback_ ||
               (delivering_ && std::this_thread::get_id() == worker_.get_id());
    }

    // With setQuietAfterClose: forgets the port's queued images and callback and waits for
    // its callback in flight (unless called from it).
    void quietenClosedPort(int port) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!quietAfterClose_) {
            return;
        }
        const auto dropped = std::remove_if(
            queue_.begin(), queue_.end(), [port](const QueuedImage& q) { return q.port == port; });
        finished_ += static_cast<int>(queue_.end() - dropped);
        queue_.erase(dropped, queue_.end());
        callbacks_.erase(port);
        if (std::this_thread::get_id() != worker_.get_id()) {
            idle_.wait(lock, [&] { return !delivering_ || deliveringPort_ != port; });
        }
        idle_.notify_all();
    }

    int bytesPerPixel(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        int bits = propertyLocked(port, "PixelSize").value_or(8);
        return std::max(1, (bits + 7) / 8);
    }

    ImageSize imageSize(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        return imageSizeLocked(port);
    }

    std::optional<int> property(int port, const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        return propertyLocked(port, name);
    }

    std::string execReply(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = execReplies_.find(port);
        if (found == execReplies_.end()) {
            found = execReplies_.find(kAnyPort);
        }
        return found != execReplies_.end() ? found->second : std::string();
    }

    void stopDelivery() {
        std::thread worker;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            // Dropped images count as finished, so no later wait counts on them.
            finished_ += static_cast<int>(queue_.size());
            queue_.clear();
            wake_.notify_all();
            worker = std::move(worker_);
        }
        if (worker.joinable()) {
            // A thread stuck in a callback (the caller holds what the callback waits for)
            // would never be joined: let it go, so the test fails instead of hanging.
            if (deliveryStuck()) {
                worker.detach();
            } else {
                worker.join();
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        deliveryStuck_ = false;
        stopping_ = false;
        idle_.notify_all();
    }

private:
    bool deliveryStuck() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveryStuck_;
    }

    static std::string argument(int value) { return std::to_string(value); }
    static std::string argument(const char* value) { return text(value); }
    static std::string argument(const void* value) { return pointer(value); }
    template <typename R, typename... A>
    static std::string argument(R(QUILTRA_CALL* value)(A...)) {
        return pointer(reinterpret_cast<const void*>(value));
    }

    template <typename Container>
    static void release(Container& container) {
        Container().swap(container);
    }

    static int nextOf(std::vector<int>& results) {
        if (results.empty()) {
            return 1;
        }
        int next = results.front();
        results.erase(results.begin());
        return next;
    }

    ImageSize imageSizeLocked(int port) const {
        auto found = imageSizes_.find(port);
        if (found == imageSizes_.end()) {
            found = imageSizes_.find(kAnyPort);
        }
        return found != imageSizes_.end() ? found->second : ImageSize{};
    }

    std::optional<int> propertyLocked(int port, const std::string& name) const {
        auto found = properties_.find({port, name});
        if (found == properties_.end()) {
            found = properties_.find({kAnyPort, name});
        }
        if (found == properties_.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    void enqueue(int grabber, int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            return;
        }
        ++enqueued_;
        queue_.push_back({grabber, port, Clock::now() + deliveryDelay_});
        startLocked();
        wake_.notify_all();
    }

    void startLocked() {
        if (!worker_.joinable()) {
            worker_ = std::thread([this] { deliveryLoop(); });
        }
    }

    // The driver's own thread: calls the callback set on each queued image's port.
    void deliveryLoop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            if (Clock::now() < queue_.front().due) {
                // A copy: wait_until keeps a reference to its deadline while it waits, and an
                // image queued meanwhile may move the queue's storage.
                const Clock::time_point due = queue_.front().due;
                wake_.wait_until(lock, due);
                continue;
            }
            const QueuedImage image = queue_.front();
            const int port = image.port;
            queue_.erase(queue_.begin());
            auto found = callbacks_.find(port);
            CompleteCallback callback = found != callbacks_.end() ? found->second : nullptr;
            auto renamed = announcedPorts_.find(port);
            const int announcedPort = renamed != announcedPorts_.end() ? renamed->second : port;
            frames_[port] = announced_[port]++;
            delivering_ = true;
            deliveringPort_ = port;
            lock.unlock();
            if (callback != nullptr) {
                callback(image.grabber, announcedPort);
            }
            lock.lock();
            delivering_ = false;
            if (callback != nullptr) {
                ++delivered_;
            }
            ++finished_;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::condition_variable idle_;

    std::vector<std::string> names_;
    std::vector<const char*> namePointers_;  // names_ then a null; empty before any script
    int reportedCount_ = -1;
    bool nullList_ = false;
    int portCount_ = 4;
    std::vector<int> openResults_;
    std::vector<int> handOverResults_;
    std::map<int, ImageSize> imageSizes_;
    std::map<std::pair<int, std::string>, int> properties_;
    std::map<std::string, int> results_;
    std::map<int, std::string> execReplies_;
    bool deliverOnGrab_ = false;
    std::string deliverInside_;

    std::map<int, CompleteCallback> callbacks_;
    int lastCallbackPort_ = -1;
    DebugMsgProc debugMsgProc_ = nullptr;
    std::string systemPath_;
    std::vector<std::string> calls_;

    std::thread worker_;
    std::vector<QueuedImage> queue_;
    std::map<int, int> frames_;     // per port: the frame its rows show
    std::map<int, int> announced_;  // per port: images announced so far
    std::map<int, int> stamps_;     // per port: the camera number of its frame stamps
    bool callLog_ = true;
    std::chrono::milliseconds deliveryDelay_{0};
    int imagesPerGrab_ = 1;
    bool quietAfterClose_ = false;
    std::map<int, int> announcedPorts_;  // per port: the port its images are announced with
    bool rowsOnlyInCallback_ = false;
    bool stopping_ = false;
    bool delivering_ = false;
    int deliveringPort_ = -1;  // the port of the image being delivered
    bool deliveryStuck_ = false;
    int delivered_ = 0;
    int enqueued_ = 0;
    int finished_ = 0;
};

// Never destroyed: the delivery thread is stopped by finalize or reset, not at unloading.
FakeDriver& fake() {
    union Storage {
        Storage() : driver() {}
        ~Storage() {}
        FakeDriver driver;
    };
    static Storage storage;
    return storage.driver;
}

}  // namespace
}  // namespace quiltra::fake

using quiltra::fake::fake;

extern "C" {

QUILTRA_DRIVER_API quiltra::fake::FakeDriverControl* QUILTRA_CALL fakeDriverControl() {
    return &fake();
}

#if !defined(FAKE_DRIVER_NO_SET_DEBUG_MSG_PROC)
QUILTRA_DRIVER_API void QUILTRA_CALL setDebugMsgProc(DebugMsgProc proc) {
    fake().record("setDebugMsgProc", proc);
    fake().setHostSettings(nullptr, proc, false, true);
}
#endif

#if !defined(FAKE_DRIVER_NO_SET_SYSTEM_PATH)
QUILTRA_DRIVER_API void QUILTRA_CALL setSystemPath(const char* systemPath) {
    fake().record("setSystemPath", systemPath);
    fake().setHostSettings(systemPath, nullptr, true, false);
}
#endif

#if !defined(FAKE_DRIVER_NO_INITIALIZE)
int QUILTRA_CALL initialize(const char* systemPath, DebugMsgProc debugMsgProc) {
    fake().record("initialize", systemPath, debugMsgProc);
    fake().setHostSettings(systemPath, debugMsgProc, true, true);
    return fake().result("initialize");
}
#endif

#if !defined(FAKE_DRIVER_NO_FINALIZE)
int QUILTRA_CALL finalize(void) {
    fake().record("finalize");
    fake().deliverInside("finalize", 0, -1);
    fake().stopDelivery();
    return 1;
}
#endif

// Looked up by Quiltra and never called: the log shows a call that should not happen.
QUILTRA_DRIVER_API int QUILTRA_CALL configure(void) {
    fake().record("configure");
    return 1;
}

QUILTRA_DRIVER_API int QUILTRA_CALL getCVLMaxNoOfGrabbers(void) {
    fake().record("getCVLMaxNoOfGrabbers");
    return 1;
}

QUILTRA_DRIVER_API int QUILTRA_CALL setHWTrigger(int grabber, int port, int on) {
    fake().record("setHWTrigger", grabber, port, on);
    return 1;
}

int QUILTRA_CALL configureCamera(void* ownerWindow, const char* cameraName) {
    fake().record("configureCamera", static_cast<const void*>(ownerWindow), cameraName);
    return fake().result("configureCamera");
}

int QUILTRA_CALL getCVLMaxNoOfPorts(int grabber) {
    fake().record("getCVLMaxNoOfPorts", grabber);
    return fake().portCount();
}

int QUILTRA_CALL getCVLNoOfSupportedCameras(void) {
    fake().record("getCVLNoOfSupportedCameras");
    return fake().cameraCount();
}

#if !defined(FAKE_DRIVER_NO_CAMERA_NAMES)
const char** QUILTRA_CALL getCVLCameraConfigNames(void) {
    fake().record("getCVLCameraConfigNames");
    return fake().cameraNames();
}
#endif

int QUILTRA_CALL openCVLPort(int grabber, int port, const char* cameraName, int* size) {
    fake().record("openCVLPort", grabber, port, cameraName, static_cast<const void*>(size));
    return fake().open(port, size);
}

void QUILTRA_CALL closeCVLPort(int grabber, int port) {
    fake().record("closeCVLPort", grabber, port);
    fake().deliverInside("closeCVLPort", grabber, port);
    fake().quietenClosedPort(port);
}

int QUILTRA_CALL doCVLGrab(int grabber, int port) {
    fake().record("doCVLGrab", grabber, port);
    int answer = fake().result("doCVLGrab", port);
    if (answer == 1 && fake().deliverOnGrab()) {
        for (int image = fake().imagesPerGrab(); image > 0; --image) {
            fake().deliver(grabber, port);
        }
    }
    fake().deliverInside("doCVLGrab", grabber, port);
    return answer;
}

int QUILTRA_CALL getCVLGrabRow(int grabber, int port, void* buffer, int row, int firstColumn,
                               int lastColumn) {
    fake().record("getCVLGrabRow", grabber, port, static_cast<const void*>(buffer), row,
                  firstColumn, lastColumn);
    int answer = fake().rowsServedHere() ? fake().result("getCVLGrabRow", port) : 0;
    quiltra::fake::ImageSize size = fake().imageSize(port);
    const int frame = fake().frame(port);
    if (answer != 1 || buffer == nullptr || row < 0 || row >= size.height || firstColumn < 0 ||
        lastColumn >= size.width || firstColumn > lastColumn) {
        return answer == 1 ? 0 : answer;
    }
    const int bytes = fake().bytesPerPixel(port);
    const int stamp = fake().stamp(port);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (int column = firstColumn; column <= lastColumn; ++column) {
        for (int plane = 0; plane < bytes; ++plane) {
            *out++ = quiltra::fake::servedByte(port, row, column, plane, frame, stamp, size.width,
                                               size.height);
        }
    }
    return 1;
}

#if !defined(FAKE_DRIVER_NO_SET_COMPLETE_CALLBACK)
int QUILTRA_CALL setCompleteCallback(int grabber, int port, CompleteCallback callback) {
    fake().record("setCompleteCallback", grabber, port, callback);
    int answer = fake().handOver(port, callback);
    if (answer == 1) {
        fake().deliverInside("setCompleteCallback", grabber, port);
    }
    return answer;
}
#endif

int QUILTRA_CALL getPropertyRange(int grabber, int port, const char* name, int* minValue,
                                  int* maxValue) {
    fake().record("getPropertyRange", grabber, port, name, static_cast<const void*>(minValue),
                  static_cast<const void*>(maxValue));
    return fake().result("getPropertyRange");
}

#if !defined(FAKE_DRIVER_NO_GET_PROPERTY)
int QUILTRA_CALL getProperty(int grabber, int port, const char* name, int* value) {
    fake().record("getProperty", grabber, port, name, static_cast<const void*>(value));
    std::optional<int> known = fake().property(port, name != nullptr ? name : "");
    if (known && value != nullptr) {
        *value = *known;
    }
    return fake().result("getProperty");
}
#endif

int QUILTRA_CALL setProperty(int grabber, int port, const char* name, int value) {
    fake().record("setProperty", grabber, port, name, value);
    return fake().result("setProperty", port);
}

int QUILTRA_CALL setCmdCallback(int grabber, int port, CmdCallback callback) {
    fake().record("setCmdCallback", grabber, port, callback);
    return fake().result("setCmdCallback");
}

int QUILTRA_CALL execCmd(int grabber, int port, const char* command, const char* arguments,
                         char* result, int resultSize) {
    fake().record("execCmd", grabber, port, command, arguments, static_cast<const void*>(result),
                  resultSize);
    if (result != nullptr && resultSize > 0) {
        std::string reply = fake().execReply(port);
        const auto size = static_cast<std::size_t>(resultSize);
        std::memcpy(result, reply.c_str(), std::min(reply.size() + 1, size));
    }
    return fake().result("execCmd", port);
}

}  // extern "C"

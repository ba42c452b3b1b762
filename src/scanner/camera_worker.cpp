#include "scanner/camera_worker.h"

#include <chrono>
#include <system_error>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/thread_name.h"

namespace quiltra {

CameraWorker::CameraWorker(ScanCamera& camera, std::string threadName)
    : camera_(camera), threadName_(std::move(threadName)), state_(std::make_shared<State>()) {}

CameraWorker::~CameraWorker() {
    stop();
}

CameraWorker::Wait CameraWorker::waitUntilIdle(uint32_t limitMs) {
    Wait wait;
    std::unique_lock lock(state_->mutex);
    const auto busy = [this]() QUILTRA_REQUIRES(state_->mutex) {
        return !state_->stopping && (state_->pending != 0 || state_->processing);
    };
    if (!busy()) {
        return wait;
    }
    wait.wasBusy = true;
    const int64_t start = platform::performanceCounter();
    wait.becameIdle =
        state_->changed.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return !busy(); });
    wait.waitedMs = static_cast<int32_t>(platform::elapsedSince(platform::kMilliseconds, start));
    return wait;
}

bool CameraWorker::handOver(Step step) {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) {
        return false;
    }
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&CameraWorker::run, state_, &camera_, threadName_);
        } catch (const std::system_error&) {
            return false;
        }
    }
    state_->step = step;
    ++state_->pending;
    state_->changed.notify_all();
    return true;
}

void CameraWorker::processingDone() {
    std::lock_guard lock(state_->mutex);
    state_->processing = false;
    state_->changed.notify_all();
}

void CameraWorker::stop() {
    uint32_t dropped = 0;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        dropped = state_->pending;
        state_->pending = 0;
        state_->changed.notify_all();
    }
    for (uint32_t i = 0; i < dropped; ++i) {
        platform::outputDebugString(kImageDroppedClosingText);
    }
    if (!thread_.joinable()) {
        return;
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void CameraWorker::run(std::shared_ptr<State> state, ScanCamera* camera, std::string name) {
    platform::setCurrentThreadName(name.c_str());
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&]() QUILTRA_REQUIRES(state->mutex) {
            return state->stopping || state->pending != 0;
        });
        if (state->stopping) {
            return;
        }
        --state->pending;
        state->processing = true;
        const Step step = state->step;
        lock.unlock();
        // The camera lives until its scanner has stopped this worker, which happens either
        // on another thread (waiting for this step) or at the very end of this step.
        step(*camera);
        lock.lock();
        state->processing = false;
        state->changed.notify_all();
    }
}

}  // namespace quiltra

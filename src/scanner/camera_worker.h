// The long-lived thread of a threaded camera: it processes and places the camera's images
// one after the other, in the order they were collected, off the driver's thread. It is
// started by the first image handed to it and ends when its scanner shuts down.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/thread_annotations.h"

namespace quiltra {

class ScanCamera;

// System debugger texts, one per image that is dropped on its way to placement: its scanner
// is closing (the image was waiting for the worker, or placement found the scanner closing),
// or the worker took no more images (stopped, or its thread could not be started).
inline constexpr const char* kImageDroppedClosingText =
    "BUSY:camera image dropped, scanner closing\n";
inline constexpr const char* kImageDroppedNoWorkerText =
    "BUSY:camera image dropped, worker stopped or not started\n";

class CameraWorker {
public:
    // What the thread does with one collected image of `camera`.
    using Step = void (*)(ScanCamera& camera);

    // How a bounded wait for the worker ended.
    struct Wait {
        bool wasBusy = false;     // an earlier image was still being processed
        bool becameIdle = false;  // ... and the worker finished it within the wait
        int32_t waitedMs = 0;
    };

    CameraWorker(ScanCamera& camera, std::string threadName);
    // Stops the thread (see stop()).
    ~CameraWorker();
    CameraWorker(const CameraWorker&) = delete;
    CameraWorker& operator=(const CameraWorker&) = delete;

    // When an earlier image is still waiting or being processed, waits at most `limitMs`
    // for the worker to become idle. The caller holds no library lock.
    Wait waitUntilIdle(uint32_t limitMs);
    // Hands over the image collected last: the thread runs `step` for it after the images
    // handed over before. Starts the thread on first use. False, with nothing started, once
    // the worker has been stopped or when no thread can be started.
    bool handOver(Step step);
    // Called by a step once its image is processed (its ring buffer is free again): from
    // then on the worker counts as idle for waitUntilIdle, while it goes on to place the
    // image and call the host.
    void processingDone();
    // Ends the thread for good: the image in progress is finished, those still waiting are
    // dropped (each with kImageDroppedClosingText), and later hand-overs are refused. Waits for the
    // thread, except when called on the worker's own thread (a close completed at the end of one of
    // its steps): then the thread ends by itself right after that step, touching nothing but its
    // own state.
    void stop();

private:
    // What the thread shares with its owner. The thread keeps it alive on its own, so a
    // worker that stopped itself can still see `stopping` after the camera is gone.
    struct State {
        std::mutex mutex;
        // Wakes the thread (an image, a stop) and the hook (the thread became idle).
        std::condition_variable changed;
        uint32_t pending QUILTRA_GUARDED_BY(mutex) = 0;     // images handed over, not started
        bool processing QUILTRA_GUARDED_BY(mutex) = false;  // a step has not processed yet
        bool stopping QUILTRA_GUARDED_BY(mutex) = false;
        Step step QUILTRA_GUARDED_BY(mutex) = nullptr;
    };

    static void run(std::shared_ptr<State> state, ScanCamera* camera, std::string name);

    ScanCamera& camera_;
    const std::string threadName_;
    const std::shared_ptr<State> state_;
    // Started by the first hand-over, under state_->mutex; joined or let go by stop().
    std::thread thread_;
};

}  // namespace quiltra

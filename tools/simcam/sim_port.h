// One open port of the simulator: the camera on it, its current settings (the port
// properties), its callbacks, its queue of started exposures, its counters and its images.
// Every field is guarded by SimDriver's lock, except `back`, which only the delivery thread
// touches.
#pragma once

#include <quiltra/camera_driver.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>

#include "scene.h"
#include "sim_image.h"
#include "sim_settings.h"

namespace quiltra::simcam {

using Clock = std::chrono::steady_clock;

struct SimPort {
    int port = 0;
    int camera = 1;  // the camera's number, 1-based, as in its [CameraN] section
    CameraSettings settings;
    std::shared_ptr<const Scene> scene;  // null: the test pattern
    bool open = true;                    // false once closed; the delivery thread skips it then

    CompleteCallback completeCallback = nullptr;
    CmdCallback cmdCallback = nullptr;

    // Exposures started by doCVLGrab and not yet finished; the first ends at `due`.
    int pending = 0;
    Clock::time_point due;
    bool stalled = false;  // StallAfter reached: grabs are accepted and never answered
    uint32_t frame = 0;    // frame number of the next exposure to finish
    std::mt19937 random;   // extra delays, seeded from RandomSeed and the camera number

    // Counters for the "status" command.
    uint32_t grabs = 0;
    uint32_t images = 0;
    uint32_t drops = 0;
    uint32_t stalls = 0;
    uint32_t refusals = 0;

    SimImage front;  // the last announced image, read by getCVLGrabRow
    SimImage back;   // the image being rendered (delivery thread only)

    void reseed() {
        std::seed_seq seed{static_cast<uint32_t>(settings.randomSeed),
                           static_cast<uint32_t>(camera)};
        random.seed(seed);
    }
};

}  // namespace quiltra::simcam

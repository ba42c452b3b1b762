// One simulated camera image and the rendering of it: the camera's window on its scene (the
// test pattern or an image file) at the belt position of the frame, with the frame stamp.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scene.h"

namespace quiltra::simcam {

struct SimImage {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    uint32_t frame = 0;
    std::vector<uint8_t> pixels;  // height rows of width * bytesPerPixel bytes

    bool empty() const { return pixels.empty(); }
    const uint8_t* row(int y) const {
        return pixels.data() + static_cast<std::size_t>(y) * width * bytesPerPixel;
    }
};

// What one exposure shows; copied from the port under the simulator's lock, so rendering
// can run without it.
struct RenderJob {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    std::shared_ptr<const Scene> scene;  // null: the test pattern
    int64_t sceneX = 0;                  // scene column of the image's column 0
    int64_t sceneY = 0;                  // scene row of the image's row 0 (belt moved in)
    int camera = 1;
    uint32_t frame = 0;
    bool stamp = true;
};

// The test pattern at scene position (x, y): 32-pixel squares of grey 200 and 56 with white
// lines every 128 pixels; in colour R is that grey, G the low byte of y and B that of x.
void testPatternPixel(int64_t x, int64_t y, int bytesPerPixel, uint8_t* pixel);

// Renders the job into image, resizing it as needed.
void renderImage(const RenderJob& job, SimImage& image);

}  // namespace quiltra::simcam

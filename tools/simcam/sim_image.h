// One simulated camera image and the rendering of it: the camera's window on its scene (the
// test pattern, an image file or a plain field) at the belt position of the frame, shaded by
// the lens and sensor, with the frame stamp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "camera_model.h"
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

// The lens and sensor between the scene and the pixels, on every byte of the scene before the
// frame stamp: out = clamp(round(scene x (1 + gain) x (1 - vignetting x (r / R)^2) +
// darkOffset), 0, 255), r the distance of the pixel's centre from the image centre
// ((width - 1) / 2, (height - 1) / 2), R that of the corner pixels' centres (so the corners
// fall off by the fraction `vignetting`). All 0: the scene unchanged.
struct Shading {
    double gain = 0.0;
    double vignetting = 0.0;
    int darkOffset = 0;

    bool none() const { return gain == 0.0 && vignetting == 0.0 && darkOffset == 0; }
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
    int plainLevel = -1;  // 0..255: a plain scene of this grey (dark, uniform) fills the image
    Shading shading;
    // A camera that looks at a plane: its exact model, and the scene on the plane (the
    // target, or the scene image or test pattern at scenePitch world units per scene pixel)
    // moved on by beltShift world units along x. sceneX and sceneY do not apply then.
    std::optional<CameraModel> model;
    bool showTarget = false;
    CalibrationTarget target;
    double scenePitch = 1.0;
    double beltShift = 0.0;
    double footprint = 1.0;  // world units one pixel covers, for the target's anti-aliasing
};

// The test pattern at scene position (x, y): 32-pixel squares of grey 200 and 56 with white
// lines every 128 pixels; in colour R is that grey, G the low byte of y and B that of x.
void testPatternPixel(int64_t x, int64_t y, int bytesPerPixel, uint8_t* pixel);

// Shades the pixels of `image` (before its stamp is drawn).
void applyShading(const Shading& shading, SimImage& image);

// Renders the job into image, resizing it as needed.
void renderImage(const RenderJob& job, SimImage& image);

}  // namespace quiltra::simcam

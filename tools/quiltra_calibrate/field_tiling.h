// The scanner's fields from the cameras' calibrations: one rectangle of the plane, x from
// top to bottom, split along y into one field per camera (side by side, in camera order), so
// that the fields tile it without gap or double coverage and each field lies wholly inside
// its camera's image. Every edge is a whole multiple of the pitch, so every field is a whole
// number of output pixels.
#pragma once

#include <string>
#include <vector>

#include "camera_calibration.h"

namespace quiltra::calibrate {

struct Field {
    double topLeftX = 0.0;
    double topLeftY = 0.0;
    double sizeX = 0.0;
    double sizeY = 0.0;
};

struct Tiling {
    std::vector<Field> fields;  // per camera; empty on failure
    std::string failure;        // why no tiling exists
};

// `seen` is, per camera, a world point it sees well (say the mean of its target corners);
// `margin` the pixels kept free at the image border (a bicubic resampler reads 2 beyond).
Tiling tileFields(const std::vector<CameraCalibration>& cameras,
                  const std::vector<WorldPoint>& seen, double pitch, double margin);

}  // namespace quiltra::calibrate

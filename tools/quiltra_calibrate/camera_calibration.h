// One camera's calibration as the calibration file holds it: the homography from world units
// to the undistorted pixel, the lens (fx, fy, cx, cy) and its radial and tangential
// distortion, with the world unit's name and the image size it was made for.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "calibration_file.h"

namespace quiltra::calibrate {

struct WorldPoint {
    double x = 0.0;  // down the final image's rows
    double y = 0.0;  // along its columns
};

struct PixelPoint {
    double u = 0.0;  // column; the centre of pixel (row r, column c) is (c, r)
    double v = 0.0;  // row
};

struct CameraCalibration {
    std::string units = "mm";
    int width = 0;
    int height = 0;
    std::array<double, 9> homography{};  // row-major, world (x, y, 1) -> (u', v', w)
    std::array<double, 4> lens{};        // fx, fy, cx, cy
    std::array<double, 5> distortion{};  // k1, k2, p1, p2, k3
};

// The camera pixel that sees world point p; nothing when the homography's w is not positive.
std::optional<PixelPoint> worldToPixel(const CameraCalibration& calibration, WorldPoint p);

// World units per pixel of the model at world point p (the square root of the area one pixel
// covers there).
double worldPerPixel(const CameraCalibration& calibration, WorldPoint p);

// The calibration file's model of this calibration, for its reader and writer.
calibration::Model toModel(const CameraCalibration& calibration);

}  // namespace quiltra::calibrate

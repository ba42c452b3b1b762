// Fitting one camera's calibration to target corners: where each corner is on the plane
// (world units) and where the camera sees it (pixels).
#pragma once

#include <string>
#include <vector>

#include "camera_calibration.h"

namespace quiltra::calibrate {

struct Correspondence {
    WorldPoint world;
    PixelPoint pixel;
};

// Which distortion terms the fit may use besides the homography.
enum class DistortionTerms {
    none,        // the homography alone
    radial,      // k1, k2
    tangential,  // k1, k2, p1, p2 (the default)
    full,        // k1, k2, p1, p2, k3
};

struct FitResult {
    CameraCalibration calibration;
    std::size_t used = 0;     // correspondences kept
    std::size_t dropped = 0;  // outliers left out (more than 1 pixel and 5 times the rms off)
    double rmsPixels = 0.0;   // reprojection error of the kept ones
    double maxPixels = 0.0;
    double rmsWorld = 0.0;  // the same, in world units at each corner's local scale
    double maxWorld = 0.0;
};

// Fits the homography and distortion of a width x height camera to the correspondences
// (at least 8), by least squares on the reprojection error. The lens is fixed: fx = fy = half
// the image diagonal, (cx, cy) the image centre. Throws std::runtime_error when the points
// do not determine a model.
FitResult fitCamera(const std::vector<Correspondence>& points, int width, int height,
                    DistortionTerms terms, const std::string& units);

}  // namespace quiltra::calibrate

#include "camera_calibration.h"

#include <cmath>

namespace quiltra::calibrate {

std::optional<PixelPoint> worldToPixel(const CameraCalibration& c, WorldPoint p) {
    const auto& h = c.homography;
    const double w = h[6] * p.x + h[7] * p.y + h[8];
    if (!(w > 0.0)) {
        return std::nullopt;
    }
    const double u = (h[0] * p.x + h[1] * p.y + h[2]) / w;
    const double v = (h[3] * p.x + h[4] * p.y + h[5]) / w;
    const auto [fx, fy, cx, cy] = c.lens;
    if (fx <= 0.0 || fy <= 0.0) {
        return PixelPoint{u, v};
    }
    const auto [k1, k2, p1, p2, k3] = c.distortion;
    const double a = (u - cx) / fx;
    const double b = (v - cy) / fy;
    const double r2 = a * a + b * b;
    const double k = 1.0 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
    const double a2 = a * k + 2.0 * p1 * a * b + p2 * (r2 + 2.0 * a * a);
    const double b2 = b * k + p1 * (r2 + 2.0 * b * b) + 2.0 * p2 * a * b;
    return PixelPoint{cx + fx * a2, cy + fy * b2};
}

double worldPerPixel(const CameraCalibration& c, WorldPoint p) {
    const double d = 1e-3;
    const auto at = worldToPixel(c, p);
    const auto dx = worldToPixel(c, {p.x + d, p.y});
    const auto dy = worldToPixel(c, {p.x, p.y + d});
    if (!at || !dx || !dy) {
        return 0.0;
    }
    const double det =
        ((dx->u - at->u) * (dy->v - at->v) - (dx->v - at->v) * (dy->u - at->u)) / (d * d);
    return det != 0.0 ? 1.0 / std::sqrt(std::fabs(det)) : 0.0;
}

calibration::Model toModel(const CameraCalibration& c) {
    calibration::Model model;
    model.units = c.units;
    model.imageColumns = c.width;
    model.imageRows = c.height;
    model.homography = c.homography;
    model.hasLens = c.lens[0] > 0.0 && c.lens[1] > 0.0;
    if (model.hasLens) {
        model.fx = c.lens[0];
        model.fy = c.lens[1];
        model.cx = c.lens[2];
        model.cy = c.lens[3];
        model.distortion = c.distortion;
    }
    return model;
}

}  // namespace quiltra::calibrate

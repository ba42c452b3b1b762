#include "camera_calibration.h"

#include <charconv>
#include <cmath>

namespace quiltra::calibrate {

namespace {

// The shortest text that reads back as the same double, independent of the locale.
std::string number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

template <std::size_t N>
std::string numbers(const std::array<double, N>& values) {
    std::string text;
    for (double value : values) {
        text += (text.empty() ? "" : " ") + number(value);
    }
    return text;
}

}  // namespace

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

std::string formatCalibration(const CameraCalibration& c, const std::string& comment) {
    std::string text = "# " + comment + "\n";
    text += "format = quiltra-calibration 1\n";
    text += "units = " + c.units + "\n";
    text += "image = " + std::to_string(c.width) + " " + std::to_string(c.height) + "\n";
    text += "homography = " + numbers(c.homography) + "\n";
    text += "lens = " + numbers(c.lens) + "\n";
    text += "distortion = " + numbers(c.distortion) + "\n";
    return text;
}

}  // namespace quiltra::calibrate

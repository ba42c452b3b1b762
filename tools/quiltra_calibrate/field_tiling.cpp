#include "field_tiling.h"

#include <algorithm>
#include <cmath>

namespace quiltra::calibrate {

namespace {

struct Interval {
    double low = 0.0;
    double high = 0.0;
};

bool inside(const CameraCalibration& c, WorldPoint p, double margin) {
    const std::optional<PixelPoint> pixel = worldToPixel(c, p);
    return pixel && pixel->u >= margin && pixel->v >= margin && pixel->u <= c.width - 1 - margin &&
           pixel->v <= c.height - 1 - margin;
}

// How far from `from` along `direction` the camera still sees the plane: the last inside
// point by bisection between an inside and an outside one (the view is taken to be convex).
double reach(const CameraCalibration& c, WorldPoint from, WorldPoint direction, double margin,
             double far) {
    double in = 0.0;
    double out = far;
    for (int k = 0; k < 60; ++k) {
        const double mid = (in + out) / 2.0;
        if (inside(c, {from.x + direction.x * mid, from.y + direction.y * mid}, margin)) {
            in = mid;
        } else {
            out = mid;
        }
    }
    return in;
}

// The y interval a camera sees on every row x of [x0, x1], sampled at the pitch.
Interval columnsSeen(const CameraCalibration& c, double centreY, double x0, double x1, double pitch,
                     double margin, double far) {
    Interval seen{-1e300, 1e300};
    for (double x = x0; x <= x1 + pitch / 2.0; x += pitch) {
        const double row = std::min(x, x1);
        if (!inside(c, {row, centreY}, margin)) {
            return {0.0, -1.0};
        }
        seen.low = std::max(seen.low, centreY - reach(c, {row, centreY}, {0.0, -1.0}, margin, far));
        seen.high =
            std::min(seen.high, centreY + reach(c, {row, centreY}, {0.0, 1.0}, margin, far));
    }
    return seen;
}

}  // namespace

Tiling tileFields(const std::vector<CameraCalibration>& cameras,
                  const std::vector<WorldPoint>& seen, double pitch, double margin) {
    Tiling tiling;
    if (cameras.empty() || cameras.size() != seen.size() || !(pitch > 0.0)) {
        tiling.failure = "no cameras, or no pitch";
        return tiling;
    }
    // The rows every camera sees along its own centre line.
    double far = 0.0;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        far = std::max(far, 4.0 * std::hypot(cameras[i].width, cameras[i].height) *
                                std::max(worldPerPixel(cameras[i], seen[i]), pitch));
    }
    double x0 = -1e300;
    double x1 = 1e300;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        if (!inside(cameras[i], seen[i], margin)) {
            tiling.failure = "camera " + std::to_string(i + 1) + " does not see its own corners";
            return tiling;
        }
        x0 = std::max(x0, seen[i].x - reach(cameras[i], seen[i], {-1.0, 0.0}, margin, far));
        x1 = std::min(x1, seen[i].x + reach(cameras[i], seen[i], {1.0, 0.0}, margin, far));
    }
    // Shrink the rows until neighbouring cameras meet on all of them.
    x0 = std::ceil(x0 / pitch) * pitch;
    x1 = std::floor(x1 / pitch) * pitch;
    while (x1 - x0 >= pitch) {
        std::vector<Interval> columns;
        bool meet = true;
        for (std::size_t i = 0; i < cameras.size() && meet; ++i) {
            columns.push_back(columnsSeen(cameras[i], seen[i].y, x0, x1, pitch, margin, far));
            meet = columns.back().high - columns.back().low >= pitch;
            if (meet && i > 0) {
                meet = columns[i - 1].high >= columns[i].low &&
                       columns[i].low > columns[i - 1].low && columns[i].high > columns[i - 1].high;
            }
        }
        if (meet) {
            // The edges on the pitch grid: the outer ones inside the outer cameras, each
            // boundary in the middle of the shared columns of its two cameras.
            std::vector<double> edges{std::ceil(columns.front().low / pitch) * pitch};
            for (std::size_t i = 1; i < cameras.size(); ++i) {
                const double low = std::ceil(columns[i].low / pitch) * pitch;
                const double high = std::floor(columns[i - 1].high / pitch) * pitch;
                double middle =
                    std::round((columns[i].low + columns[i - 1].high) / 2.0 / pitch) * pitch;
                middle = std::clamp(middle, low, high);
                if (low > high || middle <= edges.back()) {
                    meet = false;
                    break;
                }
                edges.push_back(middle);
            }
            const double last = std::floor(columns.back().high / pitch) * pitch;
            if (meet && last > edges.back()) {
                edges.push_back(last);
                for (std::size_t i = 0; i < cameras.size(); ++i) {
                    tiling.fields.push_back({x0, edges[i], x1 - x0, edges[i + 1] - edges[i]});
                }
                return tiling;
            }
        }
        // Whole pitches, at most 200 steps over the whole band.
        const double step = pitch * std::max(1.0, std::floor((x1 - x0) / pitch / 400.0));
        x0 += step;
        x1 -= step;
    }
    tiling.failure =
        "neighbouring cameras' views do not overlap on any common band of rows (give the "
        "cameras in their order along y)";
    return tiling;
}

}  // namespace quiltra::calibrate

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

// The y interval a camera sees on every row x of [x0, x1], sampled at 41 rows (the ends
// included); empty when it does not see its centre line on all of them.
Interval columnsSeen(const CameraCalibration& c, double centreY, double x0, double x1,
                     double margin, double far) {
    Interval seen{-1e300, 1e300};
    constexpr int kRows = 40;
    for (int k = 0; k <= kRows; ++k) {
        const double row = x0 + (x1 - x0) * k / kRows;
        if (!inside(c, {row, centreY}, margin)) {
            return {0.0, -1.0};
        }
        seen.low = std::max(seen.low, centreY - reach(c, {row, centreY}, {0.0, -1.0}, margin, far));
        seen.high =
            std::min(seen.high, centreY + reach(c, {row, centreY}, {0.0, 1.0}, margin, far));
    }
    return seen;
}

// The fields on rows [x0, x1], or none when neighbouring cameras do not meet on all of them.
std::vector<Field> fieldsOnRows(const std::vector<CameraCalibration>& cameras,
                                const std::vector<WorldPoint>& seen, double x0, double x1,
                                double pitch, double margin, double far) {
    std::vector<Interval> columns;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        columns.push_back(columnsSeen(cameras[i], seen[i].y, x0, x1, margin, far));
        if (columns.back().high - columns.back().low < pitch) {
            return {};
        }
        if (i > 0 &&
            (columns[i - 1].high < columns[i].low || columns[i].low <= columns[i - 1].low ||
             columns[i].high <= columns[i - 1].high)) {
            return {};
        }
    }
    // The edges on the pitch grid: the outer ones inside the outer cameras, each boundary in
    // the middle of the shared columns of its two cameras.
    std::vector<double> edges{std::ceil(columns.front().low / pitch) * pitch};
    for (std::size_t i = 1; i < cameras.size(); ++i) {
        const double low = std::ceil(columns[i].low / pitch) * pitch;
        const double high = std::floor(columns[i - 1].high / pitch) * pitch;
        const double middle = std::clamp(
            std::round((columns[i].low + columns[i - 1].high) / 2.0 / pitch) * pitch, low, high);
        if (low > high || middle <= edges.back()) {
            return {};
        }
        edges.push_back(middle);
    }
    const double last = std::floor(columns.back().high / pitch) * pitch;
    if (last <= edges.back()) {
        return {};
    }
    edges.push_back(last);
    std::vector<Field> fields;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        fields.push_back({x0, edges[i], x1 - x0, edges[i + 1] - edges[i]});
    }
    return fields;
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
    // The band of rows is narrowed from the top and from the bottom (in up to 40 steps each
    // way) to where the fields together cover the largest area: a rotated or tilted view
    // loses columns on its outermost rows.
    x0 = std::ceil(x0 / pitch) * pitch;
    x1 = std::floor(x1 / pitch) * pitch;
    const double step = pitch * std::max(1.0, std::floor((x1 - x0) / pitch / 80.0));
    double bestArea = 0.0;
    for (int top = 0; top <= 40; ++top) {
        for (int bottom = 0; bottom <= 40; ++bottom) {
            const double first = x0 + top * step;
            const double last = x1 - bottom * step;
            if (last - first < pitch) {
                break;
            }
            std::vector<Field> fields =
                fieldsOnRows(cameras, seen, first, last, pitch, margin, far);
            if (fields.empty()) {
                continue;
            }
            const double area = (last - first) * (fields.back().topLeftY + fields.back().sizeY -
                                                  fields.front().topLeftY);
            if (area > bestArea) {
                bestArea = area;
                tiling.fields = std::move(fields);
            }
        }
    }
    if (!tiling.fields.empty()) {
        return tiling;
    }
    tiling.failure =
        "neighbouring cameras' views do not overlap on any common band of rows (give the "
        "cameras in their order along y)";
    return tiling;
}

}  // namespace quiltra::calibrate

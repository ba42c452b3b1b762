// The exact geometry of a simulated camera looking at a flat plane, and the built-in
// calibration target on that plane.
//
// World coordinates are in the plane's own units (say mm): x runs down the camera rows, y
// along the columns. Camera pixel coordinates (u, v) are (column, row), with the centre of the
// pixel in row r, column c at (u, v) = (c, r).
//
// The nominal camera sees the world point (originX + (v + 0.5) * pitch, originY + (u + 0.5) *
// pitch) at pixel (u, v): the corner of its top-left pixel is at the origin and every pixel
// covers pitch x pitch world units. The mounting errors then act on the nominal pixel about the
// image centre (cu, cv) = ((width - 1) / 2, (height - 1) / 2), in this order, with
// (du, dv) = (u - cu, v - cv) and s = half the image diagonal in pixels:
//   tilt:      (du, dv) / (1 + tiltColumns * du / s + tiltRows * dv / s)
//   scale:     (du, dv) * (1 + scale)
//   rotation:  by `rotation` degrees, clockwise on the screen (from +u towards +v)
//   shift:     + (shiftColumns, shiftRows)
// which gives the undistorted pixel (u', v') = (cu + du, cv + dv). The lens then moves it
// radially: a = (u' - cu) / s, b = (v' - cv) / s, k = 1 + k1 (a^2 + b^2) + k2 (a^2 + b^2)^2,
// pixel = (cu + s a k, cv + s b k).
#pragma once

#include <array>
#include <optional>

namespace quiltra::simcam {

struct Mounting {
    double rotation = 0.0;      // degrees
    double shiftColumns = 0.0;  // pixels
    double shiftRows = 0.0;     // pixels
    double scale = 0.0;         // relative: 0.01 makes the image 1% larger
    double tiltColumns = 0.0;   // perspective coefficients (dimensionless, small)
    double tiltRows = 0.0;
    double k1 = 0.0;  // radial lens distortion, in units of half the image diagonal
    double k2 = 0.0;

    friend bool operator==(const Mounting&, const Mounting&) = default;
};

// Where the nominal camera looks on the plane.
struct PlaneView {
    double originX = 0.0;  // world point of the top-left corner of pixel (0, 0)
    double originY = 0.0;
    double pitch = 1.0;  // world units per pixel, > 0
};

struct Point2 {
    double x = 0.0;
    double y = 0.0;
};

using Matrix3 = std::array<double, 9>;  // row-major

class CameraModel {
public:
    CameraModel(int width, int height, const PlaneView& view, const Mounting& mounting);

    // The camera pixel (u, v) = (column, row) that sees world point (x, y); nothing when the
    // point lies behind the camera's horizon (the tilt's denominator is not positive).
    std::optional<Point2> worldToPixel(Point2 world) const;
    // The world point seen at camera pixel (u, v); nothing outside the lens model's reach or
    // beyond the horizon.
    std::optional<Point2> pixelToWorld(Point2 pixel) const;
    // The homography from world (x, y, 1) to the undistorted pixel (u', v', w).
    const Matrix3& homography() const { return homography_; }
    // The centre and scale of the radial distortion: (cu, cv) and s.
    Point2 centre() const { return centre_; }
    double lensScale() const { return lensScale_; }
    const Mounting& mounting() const { return mounting_; }

private:
    Point2 distort(Point2 undistorted) const;
    std::optional<Point2> undistort(Point2 pixel) const;

    Mounting mounting_;
    Point2 centre_;
    double lensScale_ = 1.0;
    Matrix3 homography_{};
    Matrix3 inverse_{};
};

// A checkerboard of rows x columns squares of `square` world units, its outer corner at world
// (0, 0): square (i, j) spans x in [i * square, (i + 1) * square), y in [j * square, ...), and
// is dark when i + j is even. Around it the plane is light.
struct CalibrationTarget {
    double square = 0.0;  // 0: no target
    int rows = 0;
    int columns = 0;
};

inline constexpr double kTargetDark = 30.0;
inline constexpr double kTargetLight = 220.0;

// The target's grey level at world point (x, y), averaged over a square of `footprint` world
// units centred there (a pixel's footprint, so that edges are anti-aliased).
double targetGrey(const CalibrationTarget& target, Point2 world, double footprint);

}  // namespace quiltra::simcam

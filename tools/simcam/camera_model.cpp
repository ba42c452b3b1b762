#include "camera_model.h"

#include <cmath>

namespace quiltra::simcam {

namespace {

constexpr double kPi = 3.14159265358979323846;

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 c{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                c[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
            }
        }
    }
    return c;
}

Matrix3 invert(const Matrix3& m) {
    const Matrix3 adjugate = {
        m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    const double det = m[0] * adjugate[0] + m[1] * adjugate[3] + m[2] * adjugate[6];
    Matrix3 inverse{};
    for (int i = 0; i < 9; ++i) {
        inverse[i] = adjugate[i] / det;
    }
    return inverse;
}

// m * (x, y, 1), divided by its third component when that is positive.
std::optional<Point2> project(const Matrix3& m, Point2 p) {
    const double w = m[6] * p.x + m[7] * p.y + m[8];
    if (!(w > 0.0)) {
        return std::nullopt;
    }
    return Point2{(m[0] * p.x + m[1] * p.y + m[2]) / w, (m[3] * p.x + m[4] * p.y + m[5]) / w};
}

// The integral from 0 to t of the square wave that is +1 on [0, q) and -1 on [q, 2q).
double squareWaveIntegral(double t, double q) {
    const double phase = t - 2.0 * q * std::floor(t / (2.0 * q));
    return q - std::fabs(phase - q);
}

// The square wave averaged over [t - w/2, t + w/2].
double smoothSquareWave(double t, double q, double w) {
    if (w <= 0.0) {
        return t - 2.0 * q * std::floor(t / (2.0 * q)) < q ? 1.0 : -1.0;
    }
    return (squareWaveIntegral(t + w / 2.0, q) - squareWaveIntegral(t - w / 2.0, q)) / w;
}

}  // namespace

CameraModel::CameraModel(int width, int height, const PlaneView& view, const Mounting& mounting)
    : mounting_(mounting),
      centre_{(width - 1) / 2.0, (height - 1) / 2.0},
      lensScale_(0.5 * std::hypot(static_cast<double>(width), static_cast<double>(height))) {
    const double p = view.pitch;
    const Matrix3 nominal = {0.0,     1.0 / p, -view.originY / p - 0.5,  //
                             1.0 / p, 0.0,     -view.originX / p - 0.5,  //
                             0.0,     0.0,     1.0};
    const Matrix3 toCentre = {1.0, 0.0, -centre_.x, 0.0, 1.0, -centre_.y, 0.0, 0.0, 1.0};
    const Matrix3 tilt = {1.0,
                          0.0,
                          0.0,
                          0.0,
                          1.0,
                          0.0,
                          mounting.tiltColumns / lensScale_,
                          mounting.tiltRows / lensScale_,
                          1.0};
    const double factor = 1.0 + mounting.scale;
    const Matrix3 scale = {factor, 0.0, 0.0, 0.0, factor, 0.0, 0.0, 0.0, 1.0};
    const double angle = mounting.rotation * kPi / 180.0;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const Matrix3 rotation = {c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0};
    const Matrix3 back = {1.0, 0.0, centre_.x + mounting.shiftColumns,
                          0.0, 1.0, centre_.y + mounting.shiftRows,
                          0.0, 0.0, 1.0};
    homography_ = multiply(
        back, multiply(rotation, multiply(scale, multiply(tilt, multiply(toCentre, nominal)))));
    inverse_ = invert(homography_);
}

Point2 CameraModel::distort(Point2 undistorted) const {
    const double a = (undistorted.x - centre_.x) / lensScale_;
    const double b = (undistorted.y - centre_.y) / lensScale_;
    const double r2 = a * a + b * b;
    const double k = 1.0 + mounting_.k1 * r2 + mounting_.k2 * r2 * r2;
    return {centre_.x + lensScale_ * a * k, centre_.y + lensScale_ * b * k};
}

std::optional<Point2> CameraModel::undistort(Point2 pixel) const {
    const double a = (pixel.x - centre_.x) / lensScale_;
    const double b = (pixel.y - centre_.y) / lensScale_;
    const double distorted = std::hypot(a, b);
    if (distorted == 0.0 || (mounting_.k1 == 0.0 && mounting_.k2 == 0.0)) {
        return pixel;
    }
    // Newton's method on r (1 + k1 r^2 + k2 r^4) = distorted, from r = distorted; the lens
    // must stay one-to-one on the way (a positive slope).
    double r = distorted;
    for (int i = 0; i < 50; ++i) {
        const double r2 = r * r;
        const double f = r * (1.0 + mounting_.k1 * r2 + mounting_.k2 * r2 * r2) - distorted;
        const double slope = 1.0 + 3.0 * mounting_.k1 * r2 + 5.0 * mounting_.k2 * r2 * r2;
        if (!(slope > 0.0)) {
            return std::nullopt;
        }
        const double step = f / slope;
        r -= step;
        if (std::fabs(step) < 1e-13) {
            const double ratio = r / distorted;
            return Point2{centre_.x + lensScale_ * a * ratio, centre_.y + lensScale_ * b * ratio};
        }
    }
    return std::nullopt;
}

std::optional<Point2> CameraModel::worldToPixel(Point2 world) const {
    const std::optional<Point2> undistorted = project(homography_, world);
    if (!undistorted) {
        return std::nullopt;
    }
    return distort(*undistorted);
}

std::optional<Point2> CameraModel::pixelToWorld(Point2 pixel) const {
    const std::optional<Point2> undistorted = undistort(pixel);
    if (!undistorted) {
        return std::nullopt;
    }
    // Only points in front of the camera: the forward map's w must be positive there.
    const std::optional<Point2> world = project(inverse_, *undistorted);
    if (!world || !project(homography_, *world)) {
        return std::nullopt;
    }
    return world;
}

double targetGrey(const CalibrationTarget& target, Point2 world, double footprint) {
    const double q = target.square;
    if (!(q > 0.0) || world.x < 0.0 || world.y < 0.0 || world.x >= q * target.rows ||
        world.y >= q * target.columns) {
        return kTargetLight;
    }
    const double product =
        smoothSquareWave(world.x, q, footprint) * smoothSquareWave(world.y, q, footprint);
    return kTargetLight + (kTargetDark - kTargetLight) * (0.5 + 0.5 * product);
}

}  // namespace quiltra::simcam

// The calibration file: one camera's model from world units to camera pixels (a homography
// and lens distortion), read from and written to its versioned text form, and the mapping
// of a world point to a camera pixel by that model. docs/calibration.md describes the file.
//
// Only the C++ standard library: the resampler plug-in and the calibration tool both
// compile this file.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quiltra::calibration {

// The version this code reads and writes.
inline constexpr int kFormatVersion = 1;

struct Model {
    std::string units;     // the world unit's name, 1..15 letters ("mm")
    int imageColumns = 0;  // the camera image the model was made for
    int imageRows = 0;
    // World (x, y, 1) -> undistorted pixel (U, V, W), row-major h00 h01 h02 h10 .. h22.
    std::array<double, 9> homography{};
    // Pinhole parameters of the distortion, in pixels; needed when distortion is not all 0.
    bool hasLens = false;
    double fx = 0.0;
    double fy = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    // k1 k2 p1 p2 k3.
    std::array<double, 5> distortion{};

    bool operator==(const Model&) const = default;
};

// Reads the text of a calibration file into `model`. On failure returns false, leaves
// `model` unspecified and sets `error` to a sentence naming the line (when there is one)
// and the reason, for example "line 4: unknown key 'homograpy'".
bool parse(std::string_view text, Model& model, std::string& error);

// Reads the file at `path` and parses it; a file that cannot be read gives an error too.
bool readFile(const std::string& path, Model& model, std::string& error);

// The file's text for `model`, which parse() reads back to an equal model (every number is
// written with the shortest digits that round-trip exactly).
std::string format(const Model& model);

// A model ready to map points: the homography and the lens, plus the radius beyond which
// the radial distortion folds back on itself (points there are not seen by the camera).
class Projection {
public:
    explicit Projection(const Model& model);

    // Maps world point (x, y) to camera pixel (u, v) = (column, row), with the centre of
    // the pixel in row r, column c at (c, r). Returns false when the camera does not see
    // the point: W <= 0, the point lies beyond the distortion's fold, or a number is not
    // finite; u and v are then unspecified.
    bool toPixel(double x, double y, double& u, double& v) const;

private:
    Model model_;
    bool distorted_ = false;
    double maxRadius2_ = 0.0;  // normalised r^2 of the fold; infinite when it never folds
};

}  // namespace quiltra::calibration

// The stitched final image against the plane it shows: the demo's scene, the scene as a
// scanner with a perfect calibration would deliver it (rendered at the final image's pitch),
// the difference in grey levels overall and along the seams between the cameras' fields, and
// pictures of several images side by side.
#pragma once

#include <string>
#include <vector>

#include "target_corners.h"

namespace quiltra::calibrate {

// What a calibrated final image of a flat scene must meet, in grey levels over the covered
// area: the mean and 99th percentile of the absolute difference to the scene, and the mean
// in the band along each seam at most this factor times the mean elsewhere (plus one grey
// level, so that a nearly perfect image is not judged on noise).
struct StitchLimits {
    double mean = 2.0;
    double percentile99 = 8.0;
    double seamFactor = 1.5;
};

struct StitchError {
    double mean = 0.0;
    double percentile99 = 0.0;
    double seamMean = 0.0;       // in the band of `band` pixels each side of the worst seam
    double elsewhereMean = 0.0;  // everywhere else
    std::size_t pixels = 0;

    // Empty when every limit holds, else the ones that do not, in words.
    std::string failures(const StitchLimits& limits) const;
};

// A deterministic, real-looking grey scene (a mottled printed sheet with soft shapes, lines
// and lettering-like strokes), columns x rows pixels.
GreyImage demoScene(int columns, int rows);

// The scene lying on the plane at scenePitch world units per pixel (pixel (row i, column j)
// covers x from i x scenePitch, y from j x scenePitch; it repeats), sampled bilinearly at the
// centres of a rows x columns final image whose top-left corner is (topLeftX, topLeftY) at
// `pitch` world units per pixel.
GreyImage sceneAtPitch(const GreyImage& scene, double scenePitch, double topLeftX, double topLeftY,
                       double pitch, int rows, int columns);

// `image` against `reference` (the same size); seams are the columns where a field begins.
StitchError compareWithScene(const GreyImage& image, const GreyImage& reference,
                             const std::vector<int>& seams, int band);

// The mean grey of each segment of a final image cut into `bands` equal rows of `cameras`
// equal segments: means[band][camera].
std::vector<std::vector<double>> segmentMeans(const GreyImage& image, int bands, int cameras);
// The largest difference between two segment means of one band.
double largestBandSpread(const std::vector<std::vector<double>>& means);

// The images side by side on a white background, `gap` pixels apart, each shrunk by the
// whole factor `shrink` (the mean of shrink x shrink pixels).
GreyImage sideBySide(const std::vector<GreyImage>& images, int gap, int shrink);

// Where a scanner's final image lies on the plane, from its sections of Quiltra.ini: the
// top-left corner and pitch in world units, and the columns where camera 2, 3, ... begin.
struct FinalLayout {
    double topLeftX = 0.0;
    double topLeftY = 0.0;
    double pitch = 0.0;
    std::vector<int> seams;
};

// False with the reason when a key is missing or not a number.
bool readFinalLayout(const std::string& ini, const std::string& scanner, FinalLayout& layout,
                     std::string& reason);

// Reads a PNG or PGM file as grey; false with the reason.
bool loadGreyImage(const std::string& path, GreyImage& image, std::string& reason);

}  // namespace quiltra::calibrate

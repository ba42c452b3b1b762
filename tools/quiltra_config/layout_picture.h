// The picture of scanners' final images: per scanner a title line, then its bands and
// segments as rectangles in each camera's colour, with the camera's name, port and output
// size written into its segment. Bands kept from the previous final image (Overlap) are
// shaded; a strip at a segment's left that repeats the field of the camera before is tinted
// red; rows below a shorter camera's output stay black.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config_check.h"

namespace quiltra::config_check {

using Colour = std::array<uint8_t, 3>;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // R, G, B; rows packed

    Colour at(int x, int y) const;
};

inline constexpr int kPictureMargin = 8;
inline constexpr int kTitleHeight = 26;  // a line of text at scale 2 with room around it
inline constexpr int kLargestSide = 1600;

// Final-image pixels to picture pixels: the image fits kLargestSide x kLargestSide.
double layoutScale(const ScannerGeometry& scanner);

// Camera i's colour (from 0), that colour in a band kept by Overlap, and in a strip that
// repeats the camera before.
Colour cameraColour(std::size_t i);
Colour keptBandColour(std::size_t i);
Colour repeatedStripColour(std::size_t i);

// The scanners stacked top to bottom; the first one's final image starts at
// (kPictureMargin, kPictureMargin + kTitleHeight). Empty without scanners.
Picture drawLayout(const std::vector<ScannerGeometry>& scanners);

// Writes the picture as a PNG file; false when it could not be written.
bool writePicture(const Picture& picture, const std::string& path);

}  // namespace quiltra::config_check

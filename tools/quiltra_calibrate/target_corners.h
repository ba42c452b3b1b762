// Finding the calibration target's corners in one camera image and telling which corner of
// the target each one is.
//
// The target is a checkerboard of rows x columns squares of `square` world units whose outer
// corner is at world (0, 0), x down the rows; its inner corners are at (i * square, j *
// square), 0 < i < rows, 0 < j < columns. A camera sees part of it. Which part comes from the
// camera's nominal view (where its image's top-left corner is on the plane and its world units
// per pixel): the target corner nearest to where the nominal view puts the image centre is
// taken to be the one seen nearest there, so the mounting errors must move the image centre's
// view by less than half a square; from there the corners are followed square by square, which
// allows rotations up to about 15 degrees and any lens distortion that keeps neighbouring
// corners less than half a square from where their neighbours predict them.
#pragma once

#include <string>
#include <vector>

#include "model_fit.h"

namespace quiltra::calibrate {

struct TargetBoard {
    double square = 0.0;  // world units
    int rows = 0;         // squares
    int columns = 0;
};

struct NominalView {
    double originX = 0.0;  // world point of the image's top-left corner
    double originY = 0.0;
    double pitch = 1.0;  // world units per pixel
};

// A grey image, 8 bits, rows packed.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

struct TargetCorners {
    std::vector<Correspondence> corners;
    int rowsSpanned = 0;        // distinct target rows of corners found
    int columnsSpanned = 0;     // distinct target columns
    double widthCovered = 0.0;  // share of the image width between the outermost corners
    double heightCovered = 0.0;
    std::string failure;  // why nothing could be found (empty when corners were followed)
};

TargetCorners findTargetCorners(const GreyImage& image, const TargetBoard& target,
                                const NominalView& view);

}  // namespace quiltra::calibrate

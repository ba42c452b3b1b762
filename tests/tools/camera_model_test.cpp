// simcam's exact camera geometry: where a plane point lands in the image, one row per kind of
// mounting error (numbers worked out by hand from the documented model), and back again.
#include "camera_model.h"

#include <gtest/gtest.h>

namespace quiltra::test {
namespace {

using simcam::CameraModel;
using simcam::Mounting;
using simcam::PlaneView;
using simcam::Point2;

// A 101 x 81 camera (centre (50, 40), half diagonal 64.734) whose nominal view has its corner
// at world (10, 20) and half a world unit per pixel, so world (30.25, 45.25) is the centre.
constexpr int kWidth = 101;
constexpr int kHeight = 81;
const PlaneView kView{10.0, 20.0, 0.5};

struct ModelCase {
    const char* name;
    Mounting mounting;
    Point2 world;
    Point2 pixel;
};

const ModelCase kModelCases[] = {
    {"nominal centre", {}, {30.25, 45.25}, {50.0, 40.0}},
    {"nominal corner of the first pixel", {}, {10.0, 20.0}, {-0.5, -0.5}},
    {"nominal, ten columns right", {}, {30.25, 50.25}, {60.0, 40.0}},
    {"shift", {.shiftColumns = 3.0, .shiftRows = -2.0}, {30.25, 45.25}, {53.0, 38.0}},
    {"rotation 90 turns +u into +v", {.rotation = 90.0}, {30.25, 50.25}, {50.0, 50.0}},
    {"rotation keeps the centre", {.rotation = 7.0}, {30.25, 45.25}, {50.0, 40.0}},
    {"rotation then shift", {.rotation = 90.0, .shiftColumns = 3.0}, {30.25, 50.25}, {53.0, 50.0}},
    {"scale", {.scale = 0.1}, {30.25, 50.25}, {61.0, 40.0}},
    {"tilt along the columns", {.tiltColumns = 0.2}, {30.25, 50.25}, {59.700303, 40.0}},
    {"tilt along the rows", {.tiltRows = 0.1}, {40.25, 50.25}, {59.700303, 59.400606}},
    {"radial k1", {.k1 = 0.1}, {30.25, 50.25}, {60.023864, 40.0}},
    {"radial k2", {.k2 = 0.5}, {20.25, 60.25}, {81.443598, 19.037601}},
};

class CameraModelCases : public ::testing::TestWithParam<ModelCase> {};

TEST_P(CameraModelCases, PlanePointLandsOnTheClosedFormPixelAndBack) {
    const ModelCase& c = GetParam();
    const CameraModel model(kWidth, kHeight, kView, c.mounting);
    const std::optional<Point2> pixel = model.worldToPixel(c.world);
    ASSERT_TRUE(pixel.has_value());
    EXPECT_NEAR(pixel->x, c.pixel.x, 1e-5);
    EXPECT_NEAR(pixel->y, c.pixel.y, 1e-5);
    const std::optional<Point2> world = model.pixelToWorld(c.pixel);
    ASSERT_TRUE(world.has_value());
    EXPECT_NEAR(world->x, c.world.x, 1e-5);
    EXPECT_NEAR(world->y, c.world.y, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(EachMountingError, CameraModelCases, ::testing::ValuesIn(kModelCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

TEST(CameraModel, PointsBeyondTheTiltsHorizonAndTheLensFoldAreNotSeen) {
    // The tilt's denominator vanishes 1 / 0.5 half-diagonals left of the centre.
    const CameraModel tilted(kWidth, kHeight, kView, {.tiltColumns = 0.5});
    EXPECT_FALSE(tilted.worldToPixel({30.25, 45.25 - 0.5 * 64.8 * 2.5}).has_value());
    EXPECT_TRUE(tilted.worldToPixel({30.25, 45.25 - 0.5 * 64.8 * 1.5}).has_value());
    // With k1 = -0.5 the radius r (1 - 0.5 r^2) stops growing at r = 0.816; a pixel at
    // distorted radius 0.6 half-diagonals and more cannot be undone.
    const CameraModel folded(kWidth, kHeight, kView, {.k1 = -0.5});
    EXPECT_FALSE(folded.pixelToWorld({50.0 + 0.6 * 64.734, 40.0}).has_value());
    EXPECT_TRUE(folded.pixelToWorld({50.0 + 0.3 * 64.734, 40.0}).has_value());
}

TEST(CalibrationTarget, SquaresAlternateFromADarkFirstSquareAndTheSurroundIsLight) {
    const simcam::CalibrationTarget target{4.0, 3, 5};
    struct Probe {
        Point2 world;
        double grey;
    };
    const Probe probes[] = {
        {{2.0, 2.0}, simcam::kTargetDark},
        {{2.0, 6.0}, simcam::kTargetLight},
        {{6.0, 6.0}, simcam::kTargetDark},
        {{10.0, 18.0}, simcam::kTargetDark},
        {{-1.0, 2.0}, simcam::kTargetLight},
        {{13.0, 2.0}, simcam::kTargetLight},
        {{2.0, 21.0}, simcam::kTargetLight},
        {{4.0, 2.0}, (simcam::kTargetDark + simcam::kTargetLight) / 2},
    };
    for (const Probe& probe : probes) {
        EXPECT_NEAR(simcam::targetGrey(target, probe.world, 1.0), probe.grey, 1e-9)
            << probe.world.x << ", " << probe.world.y;
    }
}

}  // namespace
}  // namespace quiltra::test

#include "plugins/resampler_binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fake_plugin.h"

namespace quiltra {
namespace {

using test::FakePlugin;
using ::testing::ElementsAre;

ResamplerGeometry geometry(int inRows, int inColumns, int outRows, int outColumns,
                           float angle = 0.0f) {
    ResamplerGeometry g;
    g.inputRows = inRows;
    g.inputColumns = inColumns;
    g.centreX = 50.0f;
    g.centreY = 30.5f;
    g.sizeX = 100.0f;
    g.sizeY = 61.0f;
    g.angle = angle;
    g.outputRows = outRows;
    g.outputColumns = outColumns;
    return g;
}

TEST(ResamplerBinding, CreatesItsInstanceWithTheGeometryInOrderAndReleasesIt) {
    FakePlugin plugin("fake_resampler");
    {
        ResamplerBinding binding(plugin.path().c_str(), "/cal/c.cal",
                                 geometry(480, 640, 100, 61, 0.25f));
        EXPECT_TRUE(binding.loaded());
        EXPECT_EQ(binding.resamplerHandle(), 1u);
        EXPECT_TRUE(binding.hasSetResampleMode());
        EXPECT_TRUE(binding.canResample());
        EXPECT_TRUE(binding.hasResampleBitmap());
        EXPECT_FALSE(binding.hasResampleMatr());
        EXPECT_TRUE(binding.setResampleMode(3));
    }
    EXPECT_THAT(plugin.calls(),
                ElementsAre("CreateResampler calib=/cal/c.cal in=480x640 centre=50,30.5 "
                            "size=100,61 angle=0.25 out=100x61 -> 1",
                            "SetResampleMode 1 3", "ReleaseResampler 1"));
    EXPECT_EQ(plugin.liveInstances(), 0);
}

TEST(ResamplerBinding, NeedsResamplingOnlyForAnotherSizeAnAngleOrACalibrationFile) {
    struct Case {
        const char* calib;
        ResamplerGeometry geometry;
        bool needs;
    };
    const Case cases[] = {
        {"", geometry(480, 640, 480, 640), false},
        {"", geometry(480, 640, 480, 640, 0.5f), true},
        {"a.cal", geometry(480, 640, 480, 640), true},
        {"", geometry(480, 640, 481, 640), true},
        {"", geometry(480, 640, 480, 639), true},
        {"", geometry(480, 640, 480, 640, std::nanf("")), true},
        {"", geometry(480, 640, 480, 640, -0.0f), false},
    };
    for (const Case& c : cases) {
        ResamplerBinding binding("no-such-resampler-library", c.calib, c.geometry);
        EXPECT_EQ(binding.needsResampling(), c.needs)
            << c.calib << " angle " << c.geometry.angle << " out " << c.geometry.outputRows << "x"
            << c.geometry.outputColumns;
    }
}

TEST(ResamplerBinding, WithoutCreateResamplerModeAndBufferAreCalledWithInstanceZero) {
    FakePlugin plugin("fake_resampler_nocreate");
    {
        ResamplerBinding binding(plugin.path().c_str(), "", geometry(2, 2, 1, 2));
        EXPECT_EQ(binding.resamplerHandle(), 0u);
        EXPECT_TRUE(binding.setResampleMode(1));
        std::vector<uint8_t> source = {9, 8, 7, 6};
        std::vector<uint8_t> destination(2, 0);
        uint32_t size = 2;
        EXPECT_TRUE(binding.resample(source.data(), 2, 2, 1, destination.data(), &size));
        EXPECT_EQ(size, 2u);
        EXPECT_EQ(destination, (std::vector<uint8_t>{9, 8}));
    }
    // No instance: nothing to release.
    EXPECT_THAT(plugin.calls(),
                ElementsAre("SetResampleMode 0 1", "ResampleBuffer 0 2x2x1 size=2"));
}

TEST(ResamplerBinding, ResampleBufferReportsTheSizeThePlugInLeaves) {
    FakePlugin plugin("fake_resampler");
    plugin.set("resultSize", 0);
    ResamplerBinding binding(plugin.path().c_str(), "", geometry(1, 4, 1, 2));
    std::vector<uint8_t> source(8, 1);
    std::vector<uint8_t> destination(4, 0);
    uint32_t size = 4;
    EXPECT_TRUE(binding.resample(source.data(), 1, 4, 2, destination.data(), &size));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(plugin.calls().back(), "ResampleBuffer 1 1x4x2 size=4");
}

TEST(ResamplerBinding, InstanceZeroIsNotReleased) {
    FakePlugin plugin("fake_resampler");
    plugin.set("handleBase", 0);
    { ResamplerBinding binding(plugin.path().c_str(), "", geometry(1, 1, 1, 1)); }
    ASSERT_EQ(plugin.calls().size(), 1u);
    EXPECT_THAT(plugin.calls()[0], ::testing::EndsWith("-> 0"));
}

TEST(ResamplerBinding, MissingLibraryLeavesTheBindingWithoutFunctions) {
    ResamplerBinding binding("no-such-resampler-library", "", geometry(1, 1, 1, 1));
    EXPECT_FALSE(binding.loaded());
    EXPECT_EQ(binding.resamplerHandle(), 0u);
    EXPECT_FALSE(binding.setResampleMode(1));
    uint32_t size = 1;
    uint8_t pixel = 0;
    EXPECT_FALSE(binding.resample(&pixel, 1, 1, 1, &pixel, &size));
}

}  // namespace
}  // namespace quiltra

// The frame stamp: what simcam writes, readers decode, and what they refuse.
#include "frame_stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace quiltra::simcam {
namespace {

struct Canvas {
    int width;
    int height;
    int bytesPerPixel;
    std::vector<uint8_t> pixels =
        std::vector<uint8_t>(static_cast<std::size_t>(width) * height * bytesPerPixel, 90);
    std::ptrdiff_t stride() const { return static_cast<std::ptrdiff_t>(width) * bytesPerPixel; }
    std::optional<FrameStamp> read() const {
        return readFrameStamp(pixels.data(), width, height, stride(), bytesPerPixel);
    }
};

TEST(FrameStamp, RoundTripsInGreyAndColourForExtremeValues) {
    for (int bytesPerPixel : {1, 3}) {
        for (const FrameStamp stamp : {FrameStamp{1, 0}, FrameStamp{255, 0xFFFFFFFFu},
                                       FrameStamp{17, 65536}, FrameStamp{2, 0xA5A5A5A5u}}) {
            Canvas canvas{64, 16, bytesPerPixel};
            writeFrameStamp(canvas.pixels.data(), 64, 16, canvas.stride(), bytesPerPixel, stamp);
            EXPECT_EQ(canvas.read(), stamp) << bytesPerPixel << " " << stamp.frame;
        }
    }
}

TEST(FrameStamp, SurvivesMildNoiseButNotAFlippedBit) {
    Canvas canvas{100, 40, 1};
    writeFrameStamp(canvas.pixels.data(), 100, 40, canvas.stride(), 1, FrameStamp{3, 1234});
    for (uint8_t& pixel : canvas.pixels) {
        pixel = pixel > 127 ? static_cast<uint8_t>(pixel - 60) : static_cast<uint8_t>(pixel + 60);
    }
    EXPECT_EQ(canvas.read(), (FrameStamp{3, 1234}));
    // Flip bit 20 (a frame bit): cell (4, 1); the check word no longer matches.
    for (int y = 4; y < 8; ++y) {
        for (int x = 16; x < 20; ++x) {
            uint8_t& pixel = canvas.pixels[static_cast<std::size_t>(y) * 100 + x];
            pixel = pixel > 127 ? 0 : 255;
        }
    }
    EXPECT_FALSE(canvas.read().has_value());
}

TEST(FrameStamp, ImagesWithoutOneOrTooSmallGiveNothing) {
    Canvas plain{64, 16, 1};
    EXPECT_FALSE(plain.read().has_value()) << "no marker";
    Canvas narrow{63, 16, 1};
    writeFrameStamp(narrow.pixels.data(), 63, 16, narrow.stride(), 1, FrameStamp{1, 1});
    EXPECT_FALSE(narrow.read().has_value());
    EXPECT_TRUE(std::all_of(narrow.pixels.begin(), narrow.pixels.end(), [](uint8_t p) {
        return p == 90;
    })) << "nothing written into an image too small for the stamp";
    EXPECT_FALSE(readFrameStamp(nullptr, 64, 16, 64, 1).has_value());
}

}  // namespace
}  // namespace quiltra::simcam

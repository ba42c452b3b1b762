// The frame stamp that the simulated camera driver (simcam) writes into every image: the
// camera number and the frame number, machine-readable, in the top-left corner.
//
// Layout. The stamp covers the top-left 64 x 16 pixels of an image: a grid of 16 columns by
// 4 rows of cells, each cell 4 x 4 pixels. Cell (column c, row r) carries bit k = r * 16 + c
// of a 64-bit stamp word; a 1 bit is white (255 in every byte of the pixel), a 0 bit black.
// The word holds, from its lowest bit:
//   bits  0..7   the marker 0xA5
//   bits  8..15  the camera number, 1..255 (the simcam.ini section [CameraN] gives N)
//   bits 16..47  the frame number of the port: 0 for the first exposure after the port was
//                opened, counting every exposure, dropped ones too (a drop leaves a gap)
//   bits 48..63  a check word: (frame & 0xFFFF) ^ (frame >> 16) ^ (camera * 0x0101) ^ 0x3C3C
// A reader takes the centre pixel (4c + 2, 4r + 2) of each cell and counts it as 1 when it is
// 128 or more (the mean of the three bytes of a 24-bit pixel), so a smoothing filter or a
// small offset does not spoil it. Images narrower than 64 or lower than 16 pixels carry no
// stamp. Below the stamp the same numbers are drawn as text ("CAM 2 #17") for people.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quiltra::simcam {

inline constexpr int kStampWidth = 64;
inline constexpr int kStampHeight = 16;
inline constexpr int kStampCell = 4;
inline constexpr uint8_t kStampMarker = 0xA5;

struct FrameStamp {
    int camera = 0;      // 1..255
    uint32_t frame = 0;  // 0-based exposure count of the port

    friend bool operator==(const FrameStamp&, const FrameStamp&) = default;
};

// The check word of a stamp.
inline uint16_t frameStampCheck(int camera, uint32_t frame) {
    uint32_t check =
        (frame & 0xFFFFu) ^ (frame >> 16) ^ (static_cast<uint32_t>(camera) * 0x0101u) ^ 0x3C3Cu;
    return static_cast<uint16_t>(check & 0xFFFFu);
}

inline uint64_t frameStampWord(const FrameStamp& stamp) {
    return uint64_t{kStampMarker} | (uint64_t{static_cast<uint8_t>(stamp.camera)} << 8) |
           (uint64_t{stamp.frame} << 16) |
           (uint64_t{frameStampCheck(stamp.camera, stamp.frame)} << 48);
}

// Writes the stamp into an image of width x height pixels of bytesPerPixel (1 or 3) bytes,
// rows rowStride bytes apart. Does nothing when the image is too small for it.
inline void writeFrameStamp(uint8_t* pixels, int width, int height, std::ptrdiff_t rowStride,
                            int bytesPerPixel, const FrameStamp& stamp) {
    if (pixels == nullptr || width < kStampWidth || height < kStampHeight) {
        return;
    }
    const uint64_t word = frameStampWord(stamp);
    for (int y = 0; y < kStampHeight; ++y) {
        uint8_t* row = pixels + y * rowStride;
        for (int x = 0; x < kStampWidth; ++x) {
            const int bit = (y / kStampCell) * 16 + x / kStampCell;
            const uint8_t value = ((word >> bit) & 1u) != 0 ? 255 : 0;
            for (int b = 0; b < bytesPerPixel; ++b) {
                row[x * bytesPerPixel + b] = value;
            }
        }
    }
}

// Reads the stamp of an image laid out as for writeFrameStamp. Gives nothing when the image
// is too small, the marker is missing or the check word does not match.
inline std::optional<FrameStamp> readFrameStamp(const uint8_t* pixels, int width, int height,
                                                std::ptrdiff_t rowStride, int bytesPerPixel) {
    if (pixels == nullptr || width < kStampWidth || height < kStampHeight || bytesPerPixel < 1) {
        return std::nullopt;
    }
    uint64_t word = 0;
    for (int bit = 0; bit < 64; ++bit) {
        const int x = (bit % 16) * kStampCell + kStampCell / 2;
        const int y = (bit / 16) * kStampCell + kStampCell / 2;
        const uint8_t* pixel = pixels + y * rowStride + x * bytesPerPixel;
        int sum = 0;
        for (int b = 0; b < bytesPerPixel; ++b) {
            sum += pixel[b];
        }
        if (sum >= 128 * bytesPerPixel) {
            word |= uint64_t{1} << bit;
        }
    }
    if ((word & 0xFFu) != kStampMarker) {
        return std::nullopt;
    }
    FrameStamp stamp;
    stamp.camera = static_cast<int>((word >> 8) & 0xFFu);
    stamp.frame = static_cast<uint32_t>((word >> 16) & 0xFFFFFFFFu);
    if (static_cast<uint16_t>(word >> 48) != frameStampCheck(stamp.camera, stamp.frame)) {
        return std::nullopt;
    }
    return stamp;
}

}  // namespace quiltra::simcam

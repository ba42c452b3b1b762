#include "sim_image.h"

#include <cstring>

#include "frame_stamp.h"
#include "platform/fixed_text.h"

namespace quiltra::simcam {

namespace {

// 5 x 7 glyphs of the characters the stamp text uses; each row's low 5 bits, bit 4 leftmost.
struct Glyph {
    char character;
    uint8_t rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

constexpr int kTextScale = 3;
constexpr int kCharWidth = 6 * kTextScale;  // 5 columns and a gap
constexpr int kTextTop = kStampHeight;
constexpr int kTextHeight = 9 * kTextScale;  // 7 rows and a margin above and below

const Glyph* findGlyph(char c) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.character == c) {
            return &glyph;
        }
    }
    return nullptr;
}

void setPixel(SimImage& image, int x, int y, uint8_t value) {
    uint8_t* pixel =
        image.pixels.data() + (static_cast<std::size_t>(y) * image.width + x) * image.bytesPerPixel;
    std::memset(pixel, value, static_cast<std::size_t>(image.bytesPerPixel));
}

// "CAM <camera> #<frame>" in white on black below the stamp, whole characters only.
void drawStampText(SimImage& image, int camera, uint32_t frame) {
    if (image.height < kTextTop + kTextHeight) {
        return;
    }
    char text[32];
    platform::formatText(text, sizeof text, "CAM %d #%u", camera, frame);
    const int length = static_cast<int>(std::strlen(text));
    const int fitting = std::min(length, (image.width - kTextScale) / kCharWidth);
    const int boxWidth = fitting * kCharWidth + kTextScale;
    for (int y = kTextTop; y < kTextTop + kTextHeight; ++y) {
        for (int x = 0; x < boxWidth; ++x) {
            setPixel(image, x, y, 0);
        }
    }
    for (int i = 0; i < fitting; ++i) {
        const Glyph* glyph = findGlyph(text[i]);
        if (glyph == nullptr) {
            continue;
        }
        for (int gy = 0; gy < 7 * kTextScale; ++gy) {
            for (int gx = 0; gx < 5 * kTextScale; ++gx) {
                if ((glyph->rows[gy / kTextScale] >> (4 - gx / kTextScale)) & 1) {
                    setPixel(image, kTextScale + i * kCharWidth + gx, kTextTop + kTextScale + gy,
                             255);
                }
            }
        }
    }
}

// x modulo m, never negative.
int64_t wrap(int64_t x, int64_t m) {
    const int64_t r = x % m;
    return r < 0 ? r + m : r;
}

}  // namespace

void testPatternPixel(int64_t x, int64_t y, int bytesPerPixel, uint8_t* pixel) {
    uint8_t grey = (((x >> 5) + (y >> 5)) & 1) != 0 ? 200 : 56;
    if (x % 128 == 0 || y % 128 == 0) {
        grey = 255;
    }
    pixel[0] = grey;
    if (bytesPerPixel == 3) {
        pixel[1] = static_cast<uint8_t>(y & 0xFF);
        pixel[2] = static_cast<uint8_t>(x & 0xFF);
    }
}

void renderImage(const RenderJob& job, SimImage& image) {
    image.width = job.width;
    image.height = job.height;
    image.bytesPerPixel = job.bytesPerPixel;
    image.frame = job.frame;
    const std::size_t rowBytes = static_cast<std::size_t>(job.width) * job.bytesPerPixel;
    image.pixels.resize(rowBytes * static_cast<std::size_t>(job.height));
    for (int y = 0; y < job.height; ++y) {
        uint8_t* out = image.pixels.data() + rowBytes * y;
        const int64_t sy = job.sceneY + y;
        if (job.scene == nullptr) {
            for (int x = 0; x < job.width; ++x) {
                testPatternPixel(job.sceneX + x, sy, job.bytesPerPixel,
                                 out + x * job.bytesPerPixel);
            }
            continue;
        }
        const Scene& scene = *job.scene;
        const int row = static_cast<int>(wrap(sy, scene.height()));
        const uint8_t* source = job.bytesPerPixel == 3 ? scene.rgbRow(row) : scene.greyRow(row);
        for (int x = 0; x < job.width; ++x) {
            const int64_t column = wrap(job.sceneX + x, scene.width());
            std::memcpy(out + x * job.bytesPerPixel, source + column * job.bytesPerPixel,
                        static_cast<std::size_t>(job.bytesPerPixel));
        }
    }
    if (job.stamp) {
        writeFrameStamp(image.pixels.data(), image.width, image.height,
                        static_cast<std::ptrdiff_t>(rowBytes), image.bytesPerPixel,
                        FrameStamp{job.camera, job.frame});
        drawStampText(image, job.camera, job.frame);
    }
}

}  // namespace quiltra::simcam

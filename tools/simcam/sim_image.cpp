#include "sim_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bitmap_font.h"
#include "frame_stamp.h"
#include "platform/fixed_text.h"

namespace quiltra::simcam {

namespace {

constexpr int kTextScale = 3;
constexpr int kCharWidth = 6 * kTextScale;  // 5 columns and a gap
constexpr int kTextTop = kStampHeight;
constexpr int kTextHeight = 9 * kTextScale;  // 7 rows and a margin above and below

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
        const uint8_t* rows = tools::glyphRows(text[i]);
        if (rows == nullptr) {
            continue;
        }
        for (int gy = 0; gy < tools::kGlyphHeight * kTextScale; ++gy) {
            for (int gx = 0; gx < tools::kGlyphWidth * kTextScale; ++gx) {
                if ((rows[gy / kTextScale] >> (4 - gx / kTextScale)) & 1) {
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

// The scene (image or test pattern) at scene pixel position (column, row) in the pixel-centre
// convention, bilinear between the four nearest pixels, wrapping around.
void sampleScene(const RenderJob& job, double column, double row, uint8_t* out) {
    const double fc = std::floor(column);
    const double fr = std::floor(row);
    const double tc = column - fc;
    const double tr = row - fr;
    const auto c0 = static_cast<int64_t>(fc);
    const auto r0 = static_cast<int64_t>(fr);
    double sum[3] = {0.0, 0.0, 0.0};
    for (int corner = 0; corner < 4; ++corner) {
        const int64_t c = c0 + (corner & 1);
        const int64_t r = r0 + (corner >> 1);
        const double weight =
            ((corner & 1) != 0 ? tc : 1.0 - tc) * ((corner >> 1) != 0 ? tr : 1.0 - tr);
        uint8_t pixel[3] = {0, 0, 0};
        if (job.scene == nullptr) {
            testPatternPixel(c, r, job.bytesPerPixel, pixel);
        } else {
            const Scene& scene = *job.scene;
            const int64_t x = wrap(c, scene.width());
            const uint8_t* row = job.bytesPerPixel == 3
                                     ? scene.rgbRow(static_cast<int>(wrap(r, scene.height())))
                                     : scene.greyRow(static_cast<int>(wrap(r, scene.height())));
            std::memcpy(pixel, row + x * job.bytesPerPixel,
                        static_cast<std::size_t>(job.bytesPerPixel));
        }
        for (int b = 0; b < job.bytesPerPixel; ++b) {
            sum[b] += weight * pixel[b];
        }
    }
    for (int b = 0; b < job.bytesPerPixel; ++b) {
        out[b] = static_cast<uint8_t>(std::lround(std::clamp(sum[b], 0.0, 255.0)));
    }
}

// Every camera pixel mapped back to the plane through the camera's model; pixels that see no
// point of the plane are 0.
void renderPlane(const RenderJob& job, SimImage& image) {
    const CameraModel& model = *job.model;
    for (int y = 0; y < job.height; ++y) {
        uint8_t* out =
            image.pixels.data() + static_cast<std::size_t>(y) * job.width * job.bytesPerPixel;
        for (int x = 0; x < job.width; ++x, out += job.bytesPerPixel) {
            const std::optional<Point2> world = model.pixelToWorld({double(x), double(y)});
            if (!world) {
                std::memset(out, 0, static_cast<std::size_t>(job.bytesPerPixel));
                continue;
            }
            const Point2 onBelt{world->x + job.beltShift, world->y};
            if (job.showTarget) {
                const double grey = targetGrey(job.target, onBelt, job.footprint);
                std::memset(out, static_cast<int>(std::lround(grey)),
                            static_cast<std::size_t>(job.bytesPerPixel));
            } else {
                sampleScene(job, onBelt.y / job.scenePitch - 0.5, onBelt.x / job.scenePitch - 0.5,
                            out);
            }
        }
    }
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

void applyShading(const Shading& shading, SimImage& image) {
    if (shading.none()) {
        return;
    }
    const double cu = (image.width - 1) / 2.0;
    const double cv = (image.height - 1) / 2.0;
    const double cornerSquared = cu * cu + cv * cv;
    const double gain = 1.0 + shading.gain;
    uint8_t* byte = image.pixels.data();
    for (int y = 0; y < image.height; ++y) {
        const double dv = y - cv;
        for (int x = 0; x < image.width; ++x) {
            const double du = x - cu;
            const double radial = cornerSquared > 0.0 ? (du * du + dv * dv) / cornerSquared : 0.0;
            const double factor = gain * (1.0 - shading.vignetting * radial);
            for (int b = 0; b < image.bytesPerPixel; ++b, ++byte) {
                const double value = *byte * factor + shading.darkOffset;
                *byte = static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
            }
        }
    }
}

void renderImage(const RenderJob& job, SimImage& image) {
    image.width = job.width;
    image.height = job.height;
    image.bytesPerPixel = job.bytesPerPixel;
    image.frame = job.frame;
    const std::size_t rowBytes = static_cast<std::size_t>(job.width) * job.bytesPerPixel;
    image.pixels.resize(rowBytes * static_cast<std::size_t>(job.height));
    if (job.plainLevel >= 0) {
        std::fill(image.pixels.begin(), image.pixels.end(), static_cast<uint8_t>(job.plainLevel));
    }
    for (int y = 0; y < job.height && !job.model && job.plainLevel < 0; ++y) {
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
    if (job.model && job.plainLevel < 0) {
        renderPlane(job, image);
    }
    applyShading(job.shading, image);
    if (job.stamp) {
        writeFrameStamp(image.pixels.data(), image.width, image.height,
                        static_cast<std::ptrdiff_t>(rowBytes), image.bytesPerPixel,
                        FrameStamp{job.camera, job.frame});
        drawStampText(image, job.camera, job.frame);
    }
}

}  // namespace quiltra::simcam

// The reference resampler plug-in through its four functions: geometry against a
// double-precision reference computed here, the calibration file's errors and round trip,
// argument checks, modes, and two instances resampling at the same time.
#include <gtest/gtest.h>
#include <quiltra/plugin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "calibration_file.h"
#include "test_support.h"

namespace quiltra::test {
namespace {

namespace calib = quiltra::calibration;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

struct Field {
    int rows, columns;  // the camera image
    float centreX, centreY, sizeX, sizeY, angle;
    int outputRows, outputColumns;
};

// A field with corner (0, 0) and the camera's size at pitch 1: the identity.
Field identity(int rows, int columns) {
    return {rows,           columns, rows / 2.0f, columns / 2.0f, float(rows),
            float(columns), 0.0f,    rows,        columns};
}

class Instance {
public:
    Instance(const Field& f, const std::string& calibFile = "", int mode = 1)
        : handle_(CreateResampler(calibFile.c_str(), f.rows, f.columns, f.centreX, f.centreY,
                                  f.sizeX, f.sizeY, f.angle, f.outputRows, f.outputColumns)),
          field_(f) {
        SetResampleMode(handle_, mode);
    }
    ~Instance() { ReleaseResampler(handle_); }
    uintptr_t handle() const { return handle_; }
    std::vector<uint8_t> run(const std::vector<uint8_t>& source, int bytesPerPixel) const {
        std::vector<uint8_t> out(std::size_t(field_.outputRows) * field_.outputColumns *
                                 bytesPerPixel);
        uint32_t size = uint32_t(out.size());
        EXPECT_EQ(ResampleBuffer(handle_, source.data(), field_.rows, field_.columns, bytesPerPixel,
                                 out.data(), &size),
                  1);
        EXPECT_EQ(size, out.size());
        return out;
    }

private:
    uintptr_t handle_;
    Field field_;
};

std::vector<uint8_t> noise(std::size_t bytes, uint32_t seed = 1) {
    std::vector<uint8_t> image(bytes);
    for (uint8_t& b : image) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return image;
}

// The reference: the sample position of output pixel (i, j) in camera pixels (row, column,
// pixel centres at whole numbers), from the field and, when given, the camera model.
void referencePosition(const Field& f, const calib::Model* m, int i, int j, double& row,
                       double& column) {
    const double a = f.angle * 3.14159265358979323846 / 180.0;
    const double dx = (i + 0.5) * f.sizeX / f.outputRows - f.sizeX / 2.0;
    const double dy = (j + 0.5) * f.sizeY / f.outputColumns - f.sizeY / 2.0;
    const double x = f.centreX + std::cos(a) * dx - std::sin(a) * dy;
    const double y = f.centreY + std::sin(a) * dx + std::cos(a) * dy;
    if (m == nullptr) {
        row = x - 0.5;
        column = y - 0.5;
        return;
    }
    const auto& h = m->homography;
    const double w = h[6] * x + h[7] * y + h[8];
    const double pa = ((h[0] * x + h[1] * y + h[2]) / w - m->cx) / m->fx;
    const double pb = ((h[3] * x + h[4] * y + h[5]) / w - m->cy) / m->fy;
    const auto& d = m->distortion;
    const double r2 = pa * pa + pb * pb;
    const double k = 1 + d[0] * r2 + d[1] * r2 * r2 + d[4] * r2 * r2 * r2;
    column = m->cx + m->fx * (pa * k + 2 * d[2] * pa * pb + d[3] * (r2 + 2 * pa * pa));
    row = m->cy + m->fy * (pb * k + d[2] * (r2 + 2 * pb * pb) + 2 * d[3] * pa * pb);
}

double kernel(int mode, double x) {
    x = std::fabs(x);
    if (mode == 1) {
        return std::max(0.0, 1.0 - x);
    }
    return x <= 1 ? (1.5 * x - 2.5) * x * x + 1 : x < 2 ? ((-0.5 * x + 2.5) * x - 4) * x + 2 : 0;
}

// The largest difference between `out` and the reference over the pixels whose sample is
// not within 1/1024 pixel of the image's edge; `outside` counts the pixels that must be 0.
// Nearest mode accepts any pixel whose centre is within 0.5 + 1/1024 of the sample.
double maxDifference(const Field& f, const calib::Model* m, int mode, int bpp,
                     const std::vector<uint8_t>& source, const std::vector<uint8_t>& out,
                     int& outside) {
    const double e = 1.0 / 1024;
    auto at = [&](int r, int c, int b) {
        r = std::clamp(r, 0, f.rows - 1);
        c = std::clamp(c, 0, f.columns - 1);
        return double(source[(std::size_t(r) * f.columns + c) * bpp + b]);
    };
    double worst = 0;
    outside = 0;
    for (int i = 0; i < f.outputRows; ++i) {
        for (int j = 0; j < f.outputColumns; ++j) {
            double row, col;
            referencePosition(f, m, i, j, row, col);
            const auto inside = [&](double margin) {
                return row >= -0.5 + margin && row < f.rows - 0.5 - margin &&
                       col >= -0.5 + margin && col < f.columns - 0.5 - margin;
            };
            const bool in = inside(e);
            if (in != inside(-e)) {
                continue;  // on the edge: either answer is right
            }
            outside += in ? 0 : 1;
            for (int b = 0; b < bpp; ++b) {
                const double got = out[(std::size_t(i) * f.outputColumns + j) * bpp + b];
                double want = 0;
                if (in && mode == 0) {
                    want = 1e9;
                    for (double sr : {-e, e}) {
                        for (double sc : {-e, e}) {
                            const double v = at(int(std::floor(row + 0.5 + sr)),
                                                int(std::floor(col + 0.5 + sc)), b);
                            want = std::fabs(got - v) < std::fabs(got - want) ? v : want;
                        }
                    }
                } else if (in) {
                    const int taps = mode == 1 ? 2 : 4;
                    const int r0 = int(std::floor(row)) - (taps / 2 - 1);
                    const int c0 = int(std::floor(col)) - (taps / 2 - 1);
                    for (int r = 0; r < taps; ++r) {
                        for (int c = 0; c < taps; ++c) {
                            want += kernel(mode, row - (r0 + r)) * kernel(mode, col - (c0 + c)) *
                                    at(r0 + r, c0 + c, b);
                        }
                    }
                    want = std::clamp(want, 0.0, 255.0);
                }
                worst = std::max(worst, std::fabs(got - want));
            }
        }
    }
    return worst;
}

calib::Model distortedModel() {
    calib::Model m;
    m.units = "mm";
    m.imageColumns = 64;
    m.imageRows = 48;
    m.homography = {0.3, 10, 2, 10, -0.2, 1, 0.001, 0.002, 1};
    m.hasLens = true;
    m.fx = m.fy = 60;
    m.cx = 32;
    m.cy = 24;
    m.distortion = {-0.08, 0.01, 0.001, -0.002, 0.0005};
    return m;
}

// Bounds on the difference to the reference, in grey levels, on noise (steps of up to 255
// per pixel). Sample positions are kept to 1/1024 pixel, so at most 1/2048 off per axis;
// results are rounded (0.5). Nearest: exact among the pixels such an offset can select.
// Bilinear: 0.5 + 2 axes x 255/2048 = 0.75. Bicubic: the kernel's slope adds up to 1.5x to
// the position term (0.37), and its weights are rounded to 1/1024 with an exact sum (at most
// 4/1024 moved per axis, against values within 127.5 of their mean, times the other axis's
// weight sum 1.25: 0.62 per axis), so 2.0. Measured: 0.62 bilinear, 0.83 bicubic.
constexpr double kBound[] = {0.0, 0.75, 2.0};

TEST(ResamplerPlugin, GeometryMatchesTheReferenceInEveryModeAndPixelSize) {
    TempDir dir;
    const calib::Model model = distortedModel();
    const std::string file = dir.file("camera.cal");
    writeFile(file, calib::format(model));
    struct Case {
        const char* name;
        Field field;
        bool calibrated;
        bool hasOutside;  // pixels outside the image must come out 0
    };
    const Case cases[] = {
        {"shift", {48, 64, 24 + 3.25f, 32 - 2.75f, 48, 64, 0, 48, 64}, false, true},
        {"90 degrees", {48, 64, 24, 32, 64, 48, 90, 64, 48}, false, false},
        {"270 degrees, half size", {48, 64, 24, 32, 64, 48, -90, 32, 24}, false, false},
        {"0.5 degrees, upsampled", {48, 64, 20.3f, 30.7f, 30, 40, 0.5f, 81, 108}, false, false},
        {"border: field beyond the image",
         {48, 64, 24, 32, 62.4f, 83.2f, 0.5f, 70, 91},
         false,
         true},
        {"a line camera", {1, 16, 0.5f, 8.9f, 1, 16, 0, 1, 16}, false, true},
        {"three rows, turned", {3, 16, 1.5f, 8, 3, 16, 1, 5, 16}, false, false},
        {"homography with distortion", {48, 64, 2.4f, 3.2f, 4.6f, 6.4f, 2, 46, 64}, true, true},
    };
    for (const Case& c : cases) {
        for (int bpp : {1, 3}) {
            const auto source = noise(std::size_t(c.field.rows) * c.field.columns * bpp);
            for (int mode : {0, 1, 2}) {
                SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(mode) + ", " +
                             std::to_string(bpp) + " bytes");
                Instance instance(c.field, c.calibrated ? file : "", mode);
                ASSERT_NE(instance.handle(), 0u);
                int outside = 0;
                const auto out = instance.run(source, bpp);
                EXPECT_LE(maxDifference(c.field, c.calibrated ? &model : nullptr, mode, bpp, source,
                                        out, outside),
                          kBound[mode]);
                EXPECT_EQ(outside > 0, c.hasOutside) << outside;
                // Each channel of a 3-byte image comes out byte for byte as that channel
                // resampled alone (the loops per pixel size differ).
                for (int b = 0; b < bpp && bpp == 3; ++b) {
                    std::vector<uint8_t> plane(source.size() / 3), want(out.size() / 3);
                    for (std::size_t k = 0; k < plane.size(); ++k) {
                        plane[k] = source[3 * k + b];
                    }
                    for (std::size_t k = 0; k < want.size(); ++k) {
                        want[k] = out[3 * k + b];
                    }
                    EXPECT_EQ(instance.run(plane, 1), want) << "channel " << b;
                }
            }
        }
    }
}

TEST(ResamplerPlugin, TheIdentityFieldReproducesTheImageExactlyInEveryMode) {
    for (auto [rows, columns] : {std::pair{48, 64}, {1, 1}, {2, 3}, {5, 1}, {17, 4}}) {
        for (int bpp : {1, 3}) {
            for (int mode : {0, 1, 2}) {
                SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(columns) + " mode " +
                             std::to_string(mode) + " bpp " + std::to_string(bpp));
                const auto source = noise(std::size_t(rows) * columns * bpp, rows + mode);
                EXPECT_EQ(Instance(identity(rows, columns), "", mode).run(source, bpp), source);
            }
        }
    }
}

TEST(ResamplerPlugin, AnUnknownModeKeepsThePreviousOne) {
    const Field shifted{8, 8, 4.3f, 4.6f, 8, 8, 0, 8, 8};
    const auto source = noise(64);
    Instance instance(shifted, "", 0);
    const auto nearest = instance.run(source, 1);
    EXPECT_EQ(SetResampleMode(instance.handle(), 3), 0);
    EXPECT_EQ(SetResampleMode(instance.handle(), -1), 0);
    EXPECT_EQ(instance.run(source, 1), nearest);
    EXPECT_EQ(SetResampleMode(instance.handle(), 2), 1);
    EXPECT_NE(instance.run(source, 1), nearest);
    EXPECT_EQ(SetResampleMode(0, 1), 0);
}

const char kValid[] =
    "format = quiltra-calibration 1\nunits = mm\nimage = 64 48\n"
    "homography = 0 10 0 10 0 0 0 0 1\n";

TEST(CalibrationFile, InvalidTextsNameTheLineAndTheReason) {
    struct Case {
        std::string text;
        const char* error;  // empty: valid
    };
    const std::string v = kValid;
    const Case cases[] = {
        {v, ""},
        {"\xEF\xBB\xBF# made by hand\r\n\r\n" + v +
             "lens = 60 60 32 24\ndistortion = 0.1 0 0 0 0\n",
         ""},
        {"", "the required key 'format' is missing"},
        {"format = quiltra-calibration 1\nimage = 64 48\nhomography = 0 1 0 1 0 0 0 0 1\n",
         "'units' is missing"},
        {"units = mm\n" + v, "line 1: the first key must be 'format'"},
        {"format = quiltra-calibration 2\n", "line 1: format version 2 is not supported"},
        {"format = other 1\n", "line 1: 'format' must be"},
        {v + "homography = 0 10 0 10 0 0 0 0 1\n",
         "line 5: 'homography' repeats the key of line 4"},
        {v + "homograpy = 1\n", "line 5: unknown key 'homograpy'"},
        {v + "Lens = 60 60 32 24\n", "unknown key 'Lens'"},
        {v + "lens 60 60 32 24\n", "line 5: expected 'key = value'"},
        {v + "lens = 60 60 32\n", "'lens' needs 4 numbers, found 3"},
        {v + "lens = 0 60 32 24\n", "fx and fy must be > 0"},
        {v + "lens = 60 60 32 nan\n", "'nan' is not a finite number"},
        {v + "lens = 60 60 32 1e999\n", "'1e999' is not a finite number"},
        {v + "lens = 60 60 32 2,5\n", "'2,5' is not a number"},
        {v + "distortion = 0.1 0 0 0 0\n", "line 5: 'distortion' is not all 0, so the file needs"},
        {"format = quiltra-calibration 1\nunits = m m\n", "'units' must be one name"},
        {"format = quiltra-calibration 1\nunits = abcdefghijklmnop\n", "'units' must be one name"},
        {"format = quiltra-calibration 1\nimage = 64 48.0\n", "'image' must be"},
        {"format = quiltra-calibration 1\nimage = 0 48\n", "'image' must be"},
        {"format = quiltra-calibration 1\nhomography = 1 2 3 2 4 6 0 0 1\n",
         "line 2: the homography is singular"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        calib::Model model;
        std::string error;
        EXPECT_EQ(calib::parse(c.text, model, error), c.error[0] == '\0');
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(CalibrationFile, TheResamplerRefusesAnUnusableFile) {
    TempDir dir;
    writeFile(dir.file("good.cal"), kValid);
    writeFile(dir.file("bad.cal"), std::string(kValid) + "typo = 1\n");
    const Field f = identity(48, 64);
    EXPECT_NE(Instance(f, dir.file("good.cal")).handle(), 0u);
    EXPECT_EQ(Instance(f, dir.file("bad.cal")).handle(), 0u);
    EXPECT_EQ(Instance(f, dir.file("missing.cal")).handle(), 0u);
    EXPECT_EQ(Instance(identity(48, 65), dir.file("good.cal")).handle(), 0u);  // other size
}

TEST(CalibrationFile, FormattedModelsReadBackExactly) {
    calib::Model plain;
    plain.units = "um";
    plain.imageColumns = 2448;
    plain.imageRows = 2048;
    plain.homography = {1.0 / 3, -0.0, 1e-300, 2, 123456.789, 7, 1e-9, 0, 1};
    calib::Model lensOnly = plain;
    lensOnly.hasLens = true;
    lensOnly.distortion = {4.9e-324, 0, 0, 0, 1.7976931348623157e308};
    lensOnly.fx = 2000.000000001;
    lensOnly.fy = 0.1;
    for (const calib::Model& m : {plain, lensOnly, distortedModel()}) {
        calib::Model back;
        std::string error;
        EXPECT_TRUE(calib::parse(calib::format(m), back, error)) << error;
        EXPECT_EQ(back, m) << calib::format(m);
    }
}

TEST(ResamplerPlugin, CreateRefusesSizesAndNumbersItCannotUse) {
    const float inf = std::numeric_limits<float>::infinity();
    const Field good = identity(48, 64);
    const auto with = [&](auto change) {
        Field f = good;
        change(f);
        return f;
    };
    const Field cases[] = {
        with([](Field& f) { f.rows = 0; }),
        with([](Field& f) { f.columns = -3; }),
        with([](Field& f) { f.outputRows = 0; }),
        with([](Field& f) { f.outputColumns = -1; }),
        with([](Field& f) { f.outputRows = 70000; }),
        with([](Field& f) { f.outputRows = f.outputColumns = 40000; }),
        with([&](Field& f) { f.centreX = float(kNan); }),
        with([&](Field& f) { f.sizeY = inf; }),
        with([&](Field& f) { f.angle = -inf; }),
        with([](Field& f) { f.sizeX = 0; }),
        with([](Field& f) { f.sizeY = -4; }),
    };
    EXPECT_NE(Instance(good).handle(), 0u);
    for (const Field& f : cases) {
        EXPECT_EQ(Instance(f).handle(), 0u) << f.rows << " " << f.columns << " " << f.outputRows
                                            << " " << f.outputColumns << " " << f.sizeX;
    }
}

TEST(ResamplerPlugin, ResampleBufferRefusesArgumentsThatDoNotFitTheInstance) {
    const Field f{3, 4, 1.5f, 2, 3, 4, 10, 2, 5};
    Instance instance(f);
    uintptr_t released = Instance(f).handle();
    const auto source = noise(3 * 4 * 3);
    struct Case {
        const char* name;
        uintptr_t handle;
        int rows, columns, bpp;
        uint32_t size;
        bool nullSource, nullDestination;
        uint32_t result;  // the size on return
    };
    const uintptr_t h = instance.handle();
    const Case cases[] = {
        {"fits", h, 3, 4, 1, 10, false, false, 10},
        {"larger destination", h, 3, 4, 3, 40, false, false, 30},
        {"rows", h, 4, 4, 1, 10, false, false, 0},
        {"columns", h, 3, 3, 1, 10, false, false, 0},
        {"0 bytes per pixel", h, 3, 4, 0, 10, false, false, 0},
        {"2 bytes per pixel", h, 3, 4, 2, 20, false, false, 0},
        {"4 bytes per pixel", h, 3, 4, 4, 40, false, false, 0},
        {"small destination", h, 3, 4, 3, 29, false, false, 0},
        {"no source", h, 3, 4, 1, 10, true, false, 0},
        {"no destination", h, 3, 4, 1, 10, false, true, 0},
        {"instance 0", 0, 3, 4, 1, 10, false, false, 0},
        {"released instance", released, 3, 4, 1, 10, false, false, 0},
        {"unknown instance", h + 8, 3, 4, 1, 10, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out(64, 0xAB);
        uint32_t size = c.size;
        EXPECT_EQ(ResampleBuffer(c.handle, c.nullSource ? nullptr : source.data(), c.rows,
                                 c.columns, c.bpp, c.nullDestination ? nullptr : out.data(), &size),
                  c.result != 0 ? 1 : 0);
        EXPECT_EQ(size, c.result);
        const auto written =
            std::count_if(out.begin(), out.end(), [](uint8_t b) { return b != 0xAB; });
        EXPECT_LE(std::size_t(written), c.result);
        EXPECT_EQ(out[c.result], 0xAB);
    }
    EXPECT_EQ(ResampleBuffer(h, source.data(), 3, 4, 1, nullptr, nullptr), 0);
    EXPECT_EQ(ReleaseResampler(released), 0);
    EXPECT_EQ(ReleaseResampler(0), 0);
}

TEST(ResamplerPlugin, TwoInstancesResampleAtTheSameTime) {
    const Field a{240, 320, 120, 160, 200, 300, 0.5f, 200, 300};
    const Field b{120, 160, 50, 80, 100, 150, -30, 120, 160};
    const auto sourceA = noise(240 * 320 * 3, 7);
    const auto sourceB = noise(120 * 160, 9);
    Instance first(a, "", 2);
    Instance second(b, "", 1);
    const auto wantA = first.run(sourceA, 3);
    const auto wantB = second.run(sourceB, 1);
    int mismatches = 0;
    std::thread other([&] {
        for (int k = 0; k < 20; ++k) {
            mismatches += first.run(sourceA, 3) != wantA;
        }
    });
    int ownMismatches = 0;
    for (int k = 0; k < 40; ++k) {
        ownMismatches += second.run(sourceB, 1) != wantB;
    }
    other.join();
    EXPECT_EQ(mismatches + ownMismatches, 0);
}

}  // namespace
}  // namespace quiltra::test

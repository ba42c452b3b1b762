// The reference prefilter plug-in through its three functions: every operation against a
// slow floating-point reference computed here, in place and apart, at 1 and 3 bytes per
// pixel; the prefilter file and options text on tables of good and malformed texts; the
// options given at execute; arguments it must refuse; two instances at the same time.
#include <gtest/gtest.h>
#include <quiltra/plugin.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "prefilter.h"
#include "prefilter_file.h"
#include "test_support.h"

namespace quiltra::test {
namespace {

namespace pf = quiltra::prefilter;

std::vector<uint8_t> noise(std::size_t bytes, uint32_t seed, int low = 0, int high = 255) {
    std::vector<uint8_t> image(bytes);
    for (uint8_t& b : image) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(low + (seed >> 8) % uint32_t(high - low + 1));
    }
    return image;
}

// A binary PGM (1 channel) or PPM (3 channels) of `pixels`.
std::string pnm(int rows, int columns, int channels, const std::vector<uint8_t>& pixels) {
    return std::string(channels == 1 ? "P5" : "P6") + "\n# made by the test\n" +
           std::to_string(columns) + " " + std::to_string(rows) + "\n255\n" +
           std::string(pixels.begin(), pixels.end());
}

class Instance {
public:
    Instance(const std::string& file, const char* options = "")
        : handle_(CreateFilter("f", file.c_str(), options)) {}
    ~Instance() { ReleaseFilter(handle_); }
    uintptr_t handle() const { return handle_; }
    // Filters `image` in place or into a separate output, returning the result value.
    int run(std::vector<uint8_t>& image, int rows, int columns, int bpp, bool inPlace,
            const char* options = "") const {
        ImageDescriptor in{rows, columns, uint8_t(bpp), {}, image.data()};
        std::vector<uint8_t> apart(image.size(), 0xA5);
        ImageDescriptor out{rows, columns, uint8_t(bpp), {}, inPlace ? image.data() : apart.data()};
        const int result = ExecuteFilter(handle_, &in, &out, options);
        if (!inPlace) {
            image = apart;
        }
        return result;
    }

private:
    uintptr_t handle_;
};

// The slow reference of every operation, in double precision.
struct Reference {
    int rows, columns, bpp;
    const std::vector<uint8_t>* dark = nullptr;  // with `channels` bytes per pixel
    const std::vector<uint8_t>* flat = nullptr;
    int channels = 1;
    pf::Operations op;

    double at(const std::vector<uint8_t>& ref, std::size_t pixel, int b) const {
        return ref[pixel * channels + (channels == 1 ? 0 : b)];
    }
    std::vector<uint8_t> correct(const std::vector<uint8_t>& in) const {
        std::vector<double> mean(3, 0.0);
        if (flat != nullptr) {
            std::vector<double> n(3, 0.0);
            for (std::size_t p = 0; p < std::size_t(rows) * columns; ++p) {
                for (int b = 0; b < channels; ++b) {
                    const double d = at(*flat, p, b) - (dark ? at(*dark, p, b) : 0.0);
                    if (d > 0) {
                        mean[b] += d;
                        n[b] += 1;
                    }
                }
            }
            for (int b = 0; b < 3; ++b) {
                mean[b] = n[b] > 0 ? mean[b] / n[b] : 0;
            }
        }
        std::vector<uint8_t> out(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const std::size_t p = i / bpp;
            const int b = int(i % bpp);
            const double d = dark ? at(*dark, p, b) : 0.0;
            double factor = op.gain;
            if (flat != nullptr && at(*flat, p, b) - d > 0) {
                factor *= mean[channels == 1 ? 0 : b] / (at(*flat, p, b) - d);
            }
            const double v = std::max(in[i] - d, 0.0) * std::min(factor, pf::kMaxFactor);
            out[i] = uint8_t(std::clamp(std::floor(v + op.offset + 0.5), 0.0, 255.0));
        }
        return out;
    }
    std::vector<uint8_t> filter(const std::vector<uint8_t>& in) const {
        if (op.filter == pf::Filter::kNone) {
            return in;
        }
        std::vector<uint8_t> out(in.size());
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                for (int b = 0; b < bpp; ++b) {
                    std::vector<int> nine;
                    for (int dr = -1; dr <= 1; ++dr) {
                        for (int dc = -1; dc <= 1; ++dc) {
                            const int rr = std::clamp(r + dr, 0, rows - 1);
                            const int cc = std::clamp(c + dc, 0, columns - 1);
                            nine.push_back(in[(std::size_t(rr) * columns + cc) * bpp + b]);
                        }
                    }
                    std::sort(nine.begin(), nine.end());
                    double sum = 0;
                    for (int v : nine) {
                        sum += v;
                    }
                    out[(std::size_t(r) * columns + c) * bpp + b] = uint8_t(
                        op.filter == pf::Filter::kMedian3 ? nine[4] : std::lround(sum / 9.0));
                }
            }
        }
        return out;
    }
    std::vector<uint8_t> threshold(std::vector<uint8_t> image) const {
        for (uint8_t& v : image) {
            v = op.threshold == pf::kNoThreshold ? v : v >= op.threshold ? 255 : 0;
        }
        return image;
    }
};

int maxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int worst = a.size() == b.size() ? 0 : 999;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    }
    return worst;
}

TEST(PrefilterPlugin, EveryOperationMatchesTheReferenceInPlaceAndApart) {
    struct Case {
        const char* name;
        std::string keys;  // the prefilter file's keys
        bool dark, flat;   // reference images named by the file
        int tolerance;     // grey levels: the factors are fixed point
    };
    const Case cases[] = {
        {"gain and offset, exact in fixed point", "gain = 2\noffset = -10\n", false, false, 0},
        {"fractional gain and offset", "gain = 0.7\noffset = 3.5\n", false, false, 1},
        {"dark frame", "", true, false, 0},
        {"flat field", "", false, true, 1},
        {"dark, flat, gain and offset", "gain = 1.3\noffset = 5\n", true, true, 1},
        {"gain that saturates", "gain = 255\noffset=-255\n", false, false, 0},
        // The largest factors of the 16-bit lanes, whose sums leave 16 bits both ways.
        {"gain 127, offset -255", "gain = 127\noffset = -255\n", false, false, 0},
        {"gain 127.9, offset 255", "gain = 127.9\noffset = 255\n", false, false, 0},
        {"dark, flat, gain and negative offset", "gain = 0.9\noffset = -20.3\n", true, true, 1},
        {"median3", "filter = median3\n", false, false, 0},
        {"box3", "filter = box3\n", false, false, 0},
        {"threshold", "threshold = 100\n", false, false, 0},
        {"threshold 0: all 255", "threshold = 0\n", false, false, 0},
        {"dark, gain, median and threshold", "gain=2\nfilter=median3\nthreshold=90\n", true, false,
         0},
        {"dark, box and threshold", "filter=box3\nthreshold=60\n", true, false, 0},
    };
    const std::pair<int, int> sizes[] = {{7, 13}, {1, 5}, {4, 1}, {1, 1}, {2, 2}};
    TempDir dir;
    for (const Case& c : cases) {
        for (auto [rows, columns] : sizes) {
            for (int bpp : {1, 3}) {
                // A colour image is checked with grey and with colour references.
                for (int channels : bpp == 1 ? std::vector<int>{1} : std::vector<int>{1, 3}) {
                    if (channels == 3 && !c.dark && !c.flat) {
                        continue;
                    }
                    const std::size_t pixels = std::size_t(rows) * columns;
                    const auto dark = noise(pixels * channels, 7 + rows, 0, 40);
                    // Mostly above the dark frame; some at or below it keep their value.
                    auto flat = noise(pixels * channels, 11 + columns, 20, 250);
                    std::string text = "quiltra-prefilter 1\n" + c.keys;
                    if (c.dark) {
                        writeFile(dir.file("dark.pnm"), pnm(rows, columns, channels, dark));
                        text += "dark = dark.pnm\n";
                    }
                    if (c.flat) {
                        writeFile(dir.file("flat.pnm"), pnm(rows, columns, channels, flat));
                        text += "flat = flat.pnm\n";
                    }
                    writeFile(dir.file("case.pf"), text);
                    pf::Settings settings;
                    std::string error;
                    ASSERT_TRUE(pf::parse(text, settings, error)) << error;
                    const Reference ref{rows,
                                        columns,
                                        bpp,
                                        c.dark ? &dark : nullptr,
                                        c.flat ? &flat : nullptr,
                                        channels,
                                        settings.operations};
                    const auto source = noise(pixels * bpp, uint32_t(rows * 31 + columns));
                    const auto want = ref.threshold(ref.filter(ref.correct(source)));
                    for (bool inPlace : {true, false}) {
                        SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(rows) + "x" +
                                     std::to_string(columns) + "x" + std::to_string(bpp) +
                                     ", references of " + std::to_string(channels) +
                                     (inPlace ? ", in place" : ", apart"));
                        Instance instance(dir.file("case.pf"));
                        ASSERT_NE(instance.handle(), 0u);
                        auto image = source;
                        EXPECT_EQ(instance.run(image, rows, columns, bpp, inPlace), 1);
                        EXPECT_LE(maxDifference(image, want), c.tolerance);
                    }
                }
            }
        }
    }
}

TEST(PrefilterFile, GoodTextsReadAsTheirSettings) {
    struct Case {
        const char* text;
        pf::Settings want;
    };
    const Case cases[] = {
        {"quiltra-prefilter 1\n", {}},
        {"quiltra-prefilter 1", {}},
        {"\xEF\xBB\xBFquiltra-prefilter 1\r\n# a comment\r\n\r\n  gain = 1.25  \r\n",
         {"", "", {1.25, 0.0, pf::Filter::kNone, pf::kNoThreshold}}},
        {"  quiltra-prefilter\t1\ndark=d.pgm\nflat = sub dir/f.ppm\noffset=-7.5\nfilter=box3\n"
         "threshold=255\n",
         {"d.pgm", "sub dir/f.ppm", {1.0, -7.5, pf::Filter::kBox3, 255}}},
        {"quiltra-prefilter 1\ngain=0\noffset=+255\nfilter=none\nthreshold=none\n",
         {"", "", {0.0, 255.0, pf::Filter::kNone, pf::kNoThreshold}}},
        {"quiltra-prefilter 1\n    # indented comment\nfilter = median3\nthreshold = 0\n",
         {"", "", {1.0, 0.0, pf::Filter::kMedian3, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        pf::Settings settings;
        std::string error;
        EXPECT_TRUE(pf::parse(c.text, settings, error)) << error;
        EXPECT_EQ(settings, c.want);
    }
}

TEST(PrefilterFile, MalformedFilesGiveNoInstance) {
    TempDir dir;
    writeFile(dir.file("d4x4.pgm"), pnm(4, 4, 1, noise(16, 1)));
    writeFile(dir.file("f4x4.ppm"), pnm(4, 4, 3, noise(48, 2)));
    writeFile(dir.file("f4x5.pgm"), pnm(4, 5, 1, noise(20, 3)));
    const std::string header = "P5\n4 4\n255\n";
    const std::string pixels(16, '\x10');
    writeFile(dir.file("long.pgm"), header + pixels + "x");
    writeFile(dir.file("short.pgm"), header + pixels.substr(1));
    writeFile(dir.file("16bit.pgm"), "P5\n4 4\n65535\n" + pixels + pixels);
    writeFile(dir.file("maxval100.pgm"), "P5\n4 4\n100\n" + pixels);
    writeFile(dir.file("ascii.pgm"), "P2\n1 1\n255\n7\n");
    writeFile(dir.file("nospace.pgm"), "P54 4\n255\n" + pixels);
    writeFile(dir.file("zero.pgm"), "P5\n0 4\n255\n");
    struct Case {
        const char* name;
        std::string text;  // "-": no file at all
        std::string error;
    };
    const Case cases[] = {
        {"missing file", "-", "cannot open"},
        {"empty file", "", "empty"},
        {"no version line", "gain = 1\n", "line 1: the first line"},
        {"unknown version", "quiltra-prefilter 2\n", "line 1: format version 2 is not known"},
        {"version glued", "quiltra-prefilter1\n", "line 1"},
        {"other format", "quiltra-calibration 1\n", "line 1"},
        {"unknown key", "quiltra-prefilter 1\ngian = 2\n", "line 2: unknown key 'gian'"},
        {"upper-case key", "quiltra-prefilter 1\nGain = 2\n", "unknown key 'Gain'"},
        {"no equals", "quiltra-prefilter 1\ngain 2\n", "line 2: expected"},
        {"key twice", "quiltra-prefilter 1\ngain=1\n#\ngain=2\n", "line 4: 'gain' given twice"},
        {"negative gain", "quiltra-prefilter 1\ngain=-1\n", "'gain' must be"},
        {"gain too large", "quiltra-prefilter 1\ngain=255.5\n", "'gain' must be"},
        {"gain with exponent", "quiltra-prefilter 1\ngain=1e0\n", "'gain' must be"},
        {"gain empty", "quiltra-prefilter 1\ngain=\n", "'gain' must be"},
        {"gain point only", "quiltra-prefilter 1\ngain=1.\n", "'gain' must be"},
        {"offset too large", "quiltra-prefilter 1\noffset=-256\n", "'offset' must be"},
        {"unknown filter", "quiltra-prefilter 1\nfilter=median5\n", "'filter' must be"},
        {"threshold too large", "quiltra-prefilter 1\nthreshold=256\n", "'threshold' must be"},
        {"negative threshold", "quiltra-prefilter 1\nthreshold=-1\n", "'threshold' must be"},
        {"trailing comment", "quiltra-prefilter 1\nthreshold=5 # five\n", "'threshold' must be"},
        {"dark without a name", "quiltra-prefilter 1\ndark=\n", "'dark' needs a file name"},
        {"missing dark image", "quiltra-prefilter 1\ndark=none.pgm\n", "the dark image"},
        {"flat not PGM or PPM", "quiltra-prefilter 1\nflat=ascii.pgm\n", "not a binary PGM"},
        {"image with bytes after", "quiltra-prefilter 1\ndark=long.pgm\n", "17 pixel bytes"},
        {"image cut short", "quiltra-prefilter 1\ndark=short.pgm\n", "15 pixel bytes"},
        {"16-bit image", "quiltra-prefilter 1\ndark=16bit.pgm\n", "maximum value must be 255"},
        {"maximum value 100", "quiltra-prefilter 1\ndark=maxval100.pgm\n", "must be 255"},
        {"header without blank", "quiltra-prefilter 1\ndark=nospace.pgm\n", "header"},
        {"image of no rows", "quiltra-prefilter 1\ndark=zero.pgm\n", "out of range"},
        {"dark and flat of other sizes", "quiltra-prefilter 1\ndark=d4x4.pgm\nflat=f4x5.pgm\n",
         "differ"},
        {"dark and flat of other channels", "quiltra-prefilter 1\ndark=d4x4.pgm\nflat=f4x4.ppm\n",
         "differ"},
        {"a NUL byte", std::string("quiltra-prefilter 1\ngain=1\0\n", 28), "line 2: a control"},
        {"a stray CR", "quiltra-prefilter 1\ndark = d4x4.pgm\r\r\n", "line 2: a control"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file(c.text == "-" ? "absent.pf" : "bad.pf");
        if (c.text != "-") {
            writeFile(file, c.text);
        }
        std::string error;
        EXPECT_EQ(pf::Prefilter::create("f", file.c_str(), "", error), nullptr);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(CreateFilter("f", file.c_str(), ""), 0u);
    }
    // Null or empty texts, and another filter type.
    writeFile(dir.file("good.pf"), "quiltra-prefilter 1\ndark = d4x4.pgm\n");
    EXPECT_EQ(CreateFilter("f", nullptr, ""), 0u);
    EXPECT_EQ(CreateFilter("f", "", ""), 0u);
    EXPECT_EQ(CreateFilter("g", dir.file("good.pf").c_str(), ""), 0u);
    for (const char* type : {"f", "", static_cast<const char*>(nullptr)}) {
        const uintptr_t handle = CreateFilter(type, dir.file("good.pf").c_str(), nullptr);
        EXPECT_NE(handle, 0u);
        EXPECT_EQ(ReleaseFilter(handle), 1);
    }
}

TEST(PrefilterOptions, OptionsOverrideTheFilesKeys) {
    const pf::Operations file{2.0, 10.0, pf::Filter::kBox3, 50};
    struct Case {
        const char* options;
        std::optional<pf::Operations> want;  // none: malformed
    };
    const Case cases[] = {
        {"", file},
        {";;", file},
        {"gain=1.2;filter=median3", pf::Operations{1.2, 10.0, pf::Filter::kMedian3, 50}},
        {" offset = -3 ; threshold = none ;", pf::Operations{2.0, -3.0, pf::Filter::kBox3, -1}},
        {"filter=none;threshold=200", pf::Operations{2.0, 10.0, pf::Filter::kNone, 200}},
        {"gain=1;gain=2", std::nullopt},
        {"gain:2", std::nullopt},
        {"gain=2,filter=box3", std::nullopt},
        {"dark=d.pgm", std::nullopt},
        {"flat=f.pgm", std::nullopt},
        {"blur=3", std::nullopt},
        {"threshold=300", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        pf::Operations operations = file;
        std::string error;
        EXPECT_EQ(pf::applyOptions(c.options, operations, error), c.want.has_value());
        if (c.want) {
            EXPECT_EQ(operations, *c.want);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(PrefilterOptions, ExecuteReadsANewTextOnceAndCopiesTheImageWhenItIsMalformed) {
    TempDir dir;
    writeFile(dir.file("p.pf"), "quiltra-prefilter 1\ngain = 2\n");
    EXPECT_EQ(CreateFilter("f", dir.file("p.pf").c_str(), "gain=x"), 0u);
    Instance instance(dir.file("p.pf"), "offset=1");
    ASSERT_NE(instance.handle(), 0u);
    const std::vector<uint8_t> source = {0, 10, 100, 200};
    struct Step {
        const char* options;
        int result;
        std::vector<uint8_t> want;
    };
    const Step steps[] = {
        {"offset=1", 1, {1, 21, 201, 255}},  // the text given at create
        {"gain=3", 1, {0, 30, 255, 255}},    // another text: the file's keys with it
        {"gain=3", 1, {0, 30, 255, 255}},    // the same again
        {"gain=", -1, {0, 10, 100, 200}},    // malformed: copied unfiltered
        {"gain=", -1, {0, 10, 100, 200}},    // and still
        {nullptr, 1, {0, 20, 200, 255}},     // none: the file's keys alone
        {"offset=1", 1, {1, 21, 201, 255}},  // back to the first
        {"filter=median9", -1, {0, 10, 100, 200}},
    };
    for (const Step& s : steps) {
        for (bool inPlace : {true, false}) {
            SCOPED_TRACE(std::string(s.options ? s.options : "(null)") +
                         (inPlace ? " in place" : " apart"));
            auto image = source;
            EXPECT_EQ(instance.run(image, 2, 2, 1, inPlace, s.options), s.result);
            EXPECT_EQ(image, s.want);
        }
    }
}

TEST(PrefilterPlugin, ReferenceImagesOfAnotherSizeLeaveTheImageCopied) {
    TempDir dir;
    writeFile(dir.file("d.pgm"), pnm(3, 4, 1, noise(12, 1, 0, 9)));
    writeFile(dir.file("f.ppm"), pnm(3, 4, 3, noise(36, 2, 100, 200)));
    writeFile(dir.file("grey.pf"), "quiltra-prefilter 1\ndark = d.pgm\nfilter = box3\n");
    writeFile(dir.file("colour.pf"), "quiltra-prefilter 1\nflat = f.ppm\n");
    struct Case {
        const char* file;
        int rows, columns, bpp, result;
    };
    const Case cases[] = {
        {"grey.pf", 3, 4, 1, 1},    {"grey.pf", 3, 4, 3, 1},   {"grey.pf", 4, 3, 1, -2},
        {"grey.pf", 3, 5, 3, -2},   {"colour.pf", 3, 4, 3, 1}, {"colour.pf", 3, 4, 1, -2},
        {"colour.pf", 2, 4, 3, -2},
    };
    for (const Case& c : cases) {
        Instance instance(dir.file(c.file));
        for (bool inPlace : {true, false}) {
            SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.rows) + "x" +
                         std::to_string(c.columns) + "x" + std::to_string(c.bpp) +
                         (inPlace ? " in place" : " apart"));
            const auto source = noise(std::size_t(c.rows) * c.columns * c.bpp, 5, 50, 60);
            auto image = source;
            EXPECT_EQ(instance.run(image, c.rows, c.columns, c.bpp, inPlace), c.result);
            EXPECT_EQ(image == source, c.result != 1);
        }
    }
}

TEST(PrefilterPlugin, ExecuteRefusesArgumentsThatDoNotDescribeOneImageAndWritesNothing) {
    TempDir dir;
    writeFile(dir.file("p.pf"), "quiltra-prefilter 1\ngain = 2\n");
    const uintptr_t handle = CreateFilter("f", dir.file("p.pf").c_str(), "");
    ASSERT_NE(handle, 0u);
    const uintptr_t released = CreateFilter("f", dir.file("p.pf").c_str(), "");
    ASSERT_EQ(ReleaseFilter(released), 1);
    EXPECT_EQ(ReleaseFilter(released), 0);
    EXPECT_EQ(ReleaseFilter(0), 0);
    std::vector<uint8_t> source(64, 3), target(64, 0);
    auto descriptor = [](void* pixels, int rows = 4, int columns = 4, int bpp = 1) {
        return ImageDescriptor{rows, columns, uint8_t(bpp), {}, pixels};
    };
    struct Case {
        const char* name;
        uintptr_t handle;
        std::optional<ImageDescriptor> in, out;  // none: a null descriptor
    };
    const Case cases[] = {
        {"unknown instance", handle + 1, descriptor(source.data()), descriptor(target.data())},
        {"released instance", released, descriptor(source.data()), descriptor(target.data())},
        {"null input", handle, std::nullopt, descriptor(target.data())},
        {"null output", handle, descriptor(source.data()), std::nullopt},
        {"null input pixels", handle, descriptor(nullptr), descriptor(target.data())},
        {"null output pixels", handle, descriptor(source.data()), descriptor(nullptr)},
        {"no rows", handle, descriptor(source.data(), 0), descriptor(target.data(), 0)},
        {"negative columns", handle, descriptor(source.data(), 4, -4),
         descriptor(target.data(), 4, -4)},
        {"2 bytes per pixel", handle, descriptor(source.data(), 4, 4, 2),
         descriptor(target.data(), 4, 4, 2)},
        {"4 bytes per pixel", handle, descriptor(source.data(), 4, 4, 4),
         descriptor(target.data(), 4, 4, 4)},
        {"output of other rows", handle, descriptor(source.data()),
         descriptor(target.data(), 2, 8)},
        {"output of other pixel size", handle, descriptor(source.data(), 4, 4, 1),
         descriptor(target.data(), 4, 4, 3)},
        {"output overlapping the input", handle, descriptor(source.data()),
         descriptor(source.data() + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ImageDescriptor> in = c.in, out = c.out;
        EXPECT_EQ(ExecuteFilter(c.handle, in ? &*in : nullptr, out ? &*out : nullptr, ""), 0);
        EXPECT_EQ(source, std::vector<uint8_t>(64, 3));
        EXPECT_EQ(target, std::vector<uint8_t>(64, 0));
    }
    EXPECT_EQ(ReleaseFilter(handle), 1);
}

TEST(PrefilterPlugin, TwoInstancesFilterAtTheSameTime) {
    TempDir dir;
    writeFile(dir.file("flat.pgm"), pnm(48, 64, 1, noise(48 * 64, 3, 100, 200)));
    writeFile(dir.file("a.pf"), "quiltra-prefilter 1\nflat = flat.pgm\nfilter = median3\n");
    writeFile(dir.file("b.pf"), "quiltra-prefilter 1\ngain = 1.5\nfilter = box3\n");
    const auto source = noise(48 * 64 * 3, 9);
    std::vector<uint8_t> want[2];
    Instance instances[2] = {Instance(dir.file("a.pf")), Instance(dir.file("b.pf"))};
    for (int i = 0; i < 2; ++i) {
        want[i] = source;
        ASSERT_EQ(instances[i].run(want[i], 48, 64, 3, false), 1);
    }
    bool same[2] = {true, true};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 50; ++round) {
                auto image = source;
                same[i] = instances[i].run(image, 48, 64, 3, round % 2 == 0) == 1 &&
                          image == want[i] && same[i];
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}

}  // namespace
}  // namespace quiltra::test

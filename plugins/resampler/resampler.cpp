#include "resampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <optional>

#include "calibration_file.h"

namespace quiltra::resample {
namespace {

constexpr double kPi = 3.14159265358979323846;

int tapsOf(int mode) {
    return mode == kNearest ? 1 : mode == kBilinear ? 2 : 4;
}

// The bicubic kernel (a = -0.5): interpolating, and exact for quadratic ramps.
double cubic(double x) {
    constexpr double a = -0.5;
    x = std::fabs(x);
    if (x <= 1.0) {
        return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
    }
    if (x < 2.0) {
        return ((a * x - 5.0 * a) * x + 8.0 * a) * x - 4.0 * a;
    }
    return 0.0;
}

// The standard weight rows of a mode, one per fraction 0 .. kOne-1, each summing to kOne
// exactly; a zero fraction gives the first sample (bilinear) or the second (bicubic) alone.
std::vector<int16_t> standardWeights(int taps) {
    std::vector<int16_t> table;
    table.reserve(static_cast<std::size_t>(kOne) * taps);
    for (int f = 0; f < kOne; ++f) {
        const double t = static_cast<double>(f) / kOne;
        std::array<int, 4> w{};
        if (taps == 2) {
            w = {kOne - f, f, 0, 0};
        } else if (taps == 4) {
            for (int k = 0; k < 4; ++k) {
                w[k] = static_cast<int>(std::lround(cubic(t + 1.0 - k) * kOne));
            }
            int sum = w[0] + w[1] + w[2] + w[3];
            w[t < 0.5 ? 1 : 2] += kOne - sum;
        }
        for (int k = 0; k < taps; ++k) {
            table.push_back(static_cast<int16_t>(w[k]));
        }
    }
    return table;
}

}  // namespace

// Where each output pixel samples the camera image, in 1/kOne pixel.
class Resampler::Geometry {
public:
    Geometry(const Field& field, std::optional<calibration::Projection> projection)
        : rows(field.inputRows),
          columns(field.inputColumns),
          outputRows(field.outputRows),
          outputColumns(field.outputColumns),
          centreX(field.centreX),
          centreY(field.centreY),
          sizeX(field.sizeX),
          sizeY(field.sizeY),
          projection_(std::move(projection)) {
        double a = std::fmod(static_cast<double>(field.angle), 360.0);
        if (a < 0.0) {
            a += 360.0;
        }
        // Quarter turns exactly, so that they move whole pixels.
        if (a == 0.0 || a == 90.0 || a == 180.0 || a == 270.0) {
            const int quarter = static_cast<int>(a) / 90;
            cos_ = quarter == 0 ? 1.0 : quarter == 2 ? -1.0 : 0.0;
            sin_ = quarter == 1 ? 1.0 : quarter == 3 ? -1.0 : 0.0;
        } else {
            cos_ = std::cos(a * kPi / 180.0);
            sin_ = std::sin(a * kPi / 180.0);
        }
    }

    // The sample position of output pixel (i, j) as (row, column) in 1/kOne pixel, pixel
    // centres at whole numbers; false when it falls outside the image's pixels. `dx` and
    // `dy` are offset(i, outputRows, sizeX) and offset(j, outputColumns, sizeY).
    bool sample(double dx, double dy, int64_t& row, int64_t& column) const {
        const double px = centreX + cos_ * dx - sin_ * dy;
        const double py = centreY + sin_ * dx + cos_ * dy;
        double r = px - 0.5;
        double c = py - 0.5;
        if (projection_ && !projection_->toPixel(px, py, c, r)) {
            return false;
        }
        return quantise(r, rows, row) && quantise(c, columns, column);
    }

    // The offsets of the output's rows (along x) and columns (along y) from the centre.
    std::vector<double> rowOffsets() const { return offsets(outputRows, sizeX); }
    std::vector<double> columnOffsets() const { return offsets(outputColumns, sizeY); }

    const int rows, columns, outputRows, outputColumns;

private:
    static std::vector<double> offsets(int count, double size) {
        std::vector<double> d(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) {
            d[static_cast<std::size_t>(k)] = (k + 0.5) * size / count - size / 2.0;
        }
        return d;
    }

    // The pixels of an axis of n pixels cover [-0.5, n - 0.5); halves round up.
    static bool quantise(double value, int n, int64_t& q) {
        if (!(value >= -0.5 && value < n)) {
            return false;
        }
        const double scaled = value * kOne + 0.5;
        q = static_cast<int64_t>(scaled);  // truncation; one less below 0 is the floor
        q -= static_cast<double>(q) > scaled ? 1 : 0;
        return q >= -kOne / 2 && q < static_cast<int64_t>(2 * n - 1) * (kOne / 2);
    }

    const double centreX, centreY, sizeX, sizeY;
    double cos_ = 1.0;
    double sin_ = 0.0;
    std::optional<calibration::Projection> projection_;
};

// The map of one mode over a source padded to at least the taps' reach per axis.
struct Resampler::Map {
    int mode = kBilinear;
    int taps = 2;
    int paddedRows = 0;
    int paddedColumns = 0;
    std::vector<Entry> entries;    // row by row over the output
    std::vector<int16_t> weights;  // rows of `taps` weights: the standard ones, then merged ones
                                   // (bicubic; bilinear entries hold their weights themselves)
};

namespace {

// Builds the weight rows of one axis, merging taps that fall beyond the image's edge into
// the edge pixel (the edge repeats), so that every tap reads inside the padded source.
class AxisTaps {
public:
    AxisTaps(int taps, std::vector<int16_t>& weights, std::map<std::array<int16_t, 4>, int>& merged)
        : taps_(taps), origin_(taps == 4 ? 1 : 0), weights_(weights), merged_(merged) {}

    // The first tap and the weight row for position q (1/kOne pixel) on an axis of n pixels,
    // padded to nPadded; false when the weight table is full.
    bool resolve(int64_t q, int n, int nPadded, int& start, uint16_t& row) const {
        if (taps_ == 1) {
            start = static_cast<int>((q + kOne / 2) >> kFractionBits);
            row = 0;
            return true;
        }
        const int first = static_cast<int>(q >> kFractionBits) - origin_;
        const int fraction = static_cast<int>(q & (kOne - 1));
        start = std::clamp(first, 0, nPadded - taps_);
        if (start == first && first + taps_ <= n) {
            row = static_cast<uint16_t>(fraction);
            return true;
        }
        std::array<int16_t, 4> w{};
        for (int k = 0; k < taps_; ++k) {
            const int tap = std::clamp(first + k, 0, n - 1);
            w[tap - start] = static_cast<int16_t>(
                w[tap - start] + weights_[static_cast<std::size_t>(fraction) * taps_ + k]);
        }
        if (taps_ == 2) {
            row = static_cast<uint16_t>(w[1]);  // 0 .. kOne: the second tap's weight
            return true;
        }
        auto [it, added] = merged_.try_emplace(w, static_cast<int>(weights_.size()) / taps_);
        if (added) {
            if (it->second > UINT16_MAX) {
                return false;
            }
            weights_.insert(weights_.end(), w.begin(), w.begin() + taps_);
        }
        row = static_cast<uint16_t>(it->second);
        return true;
    }

private:
    const int taps_;
    const int origin_;
    std::vector<int16_t>& weights_;
    std::map<std::array<int16_t, 4>, int>& merged_;
};

// The loop over the map: outside pixels are 0; `pixel(p, e, value)` computes the Bytes
// values of entry e, whose first tap is at p. They are stored after every read of the pixel,
// since a byte store may alias anything and would make the compiler reload.
template <int Bytes, class Pixel>
void resampleEntries(const Resampler::Entry* entry, std::size_t count, const uint8_t* source,
                     uint8_t* out, Pixel pixel) {
    for (std::size_t k = 0; k < count; ++k, out += Bytes) {
        const Resampler::Entry e = entry[k];
        if (e.offset < 0) {
            std::memset(out, 0, Bytes);
            continue;
        }
        uint8_t value[Bytes];
        pixel(source + static_cast<std::size_t>(e.offset) * Bytes, e, value);
        std::memcpy(out, value, Bytes);
    }
}

template <int Bytes>
void resampleNearest(const Resampler::Entry* entry, std::size_t count, const uint8_t* source,
                     uint8_t* out) {
    resampleEntries<Bytes>(
        entry, count, source, out,
        [](const uint8_t* p, Resampler::Entry, uint8_t* value) { std::memcpy(value, p, Bytes); });
}

constexpr int kHalf = 1 << (2 * kFractionBits - 1);

// Bilinear: each entry holds the second tap's weight per axis (0 .. kOne), so no table is
// read. The first tap's weight is kOne minus it; in difference form the arithmetic is the
// same sum of products, and the result needs no clamping (the weights are not negative).
template <int Bytes>
void resampleBilinear(const Resampler::Entry* entry, std::size_t count, const uint8_t* source,
                      std::size_t stride, uint8_t* out) {
    const auto pixel = [stride](const uint8_t* p, Resampler::Entry e, uint8_t* value) {
        const int fr = e.rowWeights;
        const int fc = e.columnWeights;
        for (int b = 0; b < Bytes; ++b) {
            const int a = p[b];
            const int c = p[stride + b];
            const int top = (a << kFractionBits) + (p[Bytes + b] - a) * fc;
            const int bottom = (c << kFractionBits) + (p[stride + Bytes + b] - c) * fc;
            value[b] = static_cast<uint8_t>(
                ((top << kFractionBits) + (bottom - top) * fr + kHalf) >> (2 * kFractionBits));
        }
    };
    resampleEntries<Bytes>(entry, count, source, out, pixel);
}

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define QUILTRA_BILINEAR3_AVX2 1

// Four bytes at p, the lowest address in the lowest bits (x86-64 is little-endian).
inline uint32_t load4(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Bilinear at 3 bytes per pixel for CPUs with AVX2, written so that GCC vectorises it across
// pixels (gathers, packed 32-bit multiplies); the same arithmetic as resampleBilinear, so the
// same bytes. No branch: a tap pair's 6 bytes are read as two overlapping words (bytes 0..3
// and 2..5, nothing beyond the pair), an outside entry reads the first pixel and is masked
// to 0. The buffers must not overlap.
__attribute__((target("avx2"), optimize("vect-cost-model=unlimited"))) void resampleBilinear3Avx2(
    const Resampler::Entry* __restrict entry, std::size_t count, const uint8_t* __restrict source,
    std::size_t stride, uint8_t* __restrict out) {
    const uint8_t* top = source;
    const uint8_t* topRight = source + 2;
    const uint8_t* bottom = source + stride;
    const uint8_t* bottomRight = source + stride + 2;
    for (std::size_t k = 0; k < count; ++k) {
        const Resampler::Entry e = entry[k];
        const int inside = e.offset < 0 ? 0 : 0xff;
        const int at = (e.offset < 0 ? 0 : e.offset) * 3;  // < 3 * 2^28
        const uint32_t t0 = load4(top + at);
        const uint32_t t1 = load4(topRight + at);
        const uint32_t b0 = load4(bottom + at);
        const uint32_t b1 = load4(bottomRight + at);
        const int fc = e.columnWeights;
        const int fr = e.rowWeights;
        const auto channel = [fc, fr, inside](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
            const int ai = static_cast<int>(a & 0xff);
            const int ci = static_cast<int>(c & 0xff);
            const int upper = (ai << kFractionBits) + (static_cast<int>(b & 0xff) - ai) * fc;
            const int lower = (ci << kFractionBits) + (static_cast<int>(d & 0xff) - ci) * fc;
            return static_cast<uint8_t>(
                (((upper << kFractionBits) + (lower - upper) * fr + kHalf) >> (2 * kFractionBits)) &
                inside);
        };
        out[3 * k] = channel(t0, t0 >> 24, b0, b0 >> 24);
        out[3 * k + 1] = channel(t0 >> 8, t1 >> 16, b0 >> 8, b1 >> 16);
        out[3 * k + 2] = channel(t0 >> 16, t1 >> 24, b0 >> 16, b1 >> 24);
    }
}
#endif

// Bilinear at 3 bytes per pixel: the AVX2 loop where the CPU has it (decided once), else the
// portable one.
void resampleBilinear3(const Resampler::Entry* entry, std::size_t count, const uint8_t* source,
                       std::size_t stride, uint8_t* out) {
#ifdef QUILTRA_BILINEAR3_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        resampleBilinear3Avx2(entry, count, source, stride, out);
        return;
    }
#endif
    resampleBilinear<3>(entry, count, source, stride, out);
}

// Bicubic: 4 x 4 taps, weights from the table (rows of 4), columns first.
template <int Bytes>
void resampleBicubic(const Resampler::Entry* entry, std::size_t count, const uint8_t* source,
                     std::size_t stride, const int16_t* weights, uint8_t* out) {
    const auto pixel = [stride, weights](const uint8_t* p, Resampler::Entry e, uint8_t* value) {
        const int16_t* wr = weights + static_cast<std::size_t>(e.rowWeights) * 4;
        const int16_t* wc = weights + static_cast<std::size_t>(e.columnWeights) * 4;
        const int r0 = wr[0], r1 = wr[1], r2 = wr[2], r3 = wr[3];
        const int c0 = wc[0], c1 = wc[1], c2 = wc[2], c3 = wc[3];
        const auto line = [&](const uint8_t* q) {
            return q[0] * c0 + q[Bytes] * c1 + q[2 * Bytes] * c2 + q[3 * Bytes] * c3;
        };
        for (int b = 0; b < Bytes; ++b) {
            const uint8_t* q = p + b;
            const int sum = line(q) * r0 + line(q + stride) * r1 + line(q + 2 * stride) * r2 +
                            line(q + 3 * stride) * r3;
            value[b] =
                static_cast<uint8_t>(std::clamp((sum + kHalf) >> (2 * kFractionBits), 0, 255));
        }
    };
    resampleEntries<Bytes>(entry, count, source, out, pixel);
}

}  // namespace

std::unique_ptr<Resampler::Map> Resampler::buildMap(const Geometry& geometry, int mode) {
    auto map = std::make_unique<Map>();
    map->mode = mode;
    map->taps = tapsOf(mode);
    map->paddedRows = std::max(geometry.rows, map->taps);
    map->paddedColumns = std::max(geometry.columns, map->taps);
    if (map->taps > 1) {
        map->weights = standardWeights(map->taps);
    }
    std::map<std::array<int16_t, 4>, int> merged;
    const AxisTaps axis(map->taps, map->weights, merged);
    map->entries.resize(static_cast<std::size_t>(geometry.outputRows) * geometry.outputColumns);
    Entry* entry = map->entries.data();
    const std::vector<double> dx = geometry.rowOffsets();
    const std::vector<double> dy = geometry.columnOffsets();
    for (double x : dx) {
        for (double y : dy) {
            Entry& e = *entry++;
            e = Entry{kOutside, 0, 0};
            int64_t row = 0;
            int64_t column = 0;
            if (!geometry.sample(x, y, row, column)) {
                continue;
            }
            int rowStart = 0;
            int columnStart = 0;
            if (!axis.resolve(row, geometry.rows, map->paddedRows, rowStart, e.rowWeights) ||
                !axis.resolve(column, geometry.columns, map->paddedColumns, columnStart,
                              e.columnWeights)) {
                return nullptr;
            }
            e.offset = rowStart * map->paddedColumns + columnStart;
        }
    }
    return map;
}

std::unique_ptr<Resampler> Resampler::create(const Field& field, std::string& error) {
    const auto sideOk = [](int n) { return n > 0 && n <= kMaxSide; };
    if (!sideOk(field.inputRows) || !sideOk(field.inputColumns) ||
        static_cast<int64_t>(field.inputRows) * field.inputColumns > kMaxInputPixels) {
        error = "input size " + std::to_string(field.inputRows) + " x " +
                std::to_string(field.inputColumns) + " is out of range";
        return nullptr;
    }
    if (!sideOk(field.outputRows) || !sideOk(field.outputColumns) ||
        static_cast<int64_t>(field.outputRows) * field.outputColumns > kMaxOutputPixels) {
        error = "output size " + std::to_string(field.outputRows) + " x " +
                std::to_string(field.outputColumns) + " is out of range";
        return nullptr;
    }
    for (float v : {field.centreX, field.centreY, field.sizeX, field.sizeY, field.angle}) {
        if (!std::isfinite(v)) {
            error = "the field's centre, size and angle must be finite numbers";
            return nullptr;
        }
    }
    if (!(field.sizeX > 0.0f) || !(field.sizeY > 0.0f)) {
        error = "the field's size must be > 0";
        return nullptr;
    }
    std::optional<calibration::Projection> projection;
    if (!field.calibFile.empty()) {
        calibration::Model model;
        if (!calibration::readFile(field.calibFile, model, error)) {
            return nullptr;
        }
        if (model.imageColumns != field.inputColumns || model.imageRows != field.inputRows) {
            error = "'" + field.calibFile + "' was made for images of " +
                    std::to_string(model.imageColumns) + " x " + std::to_string(model.imageRows) +
                    " pixels (columns x rows), the camera's are " +
                    std::to_string(field.inputColumns) + " x " + std::to_string(field.inputRows);
            return nullptr;
        }
        projection.emplace(model);
    }
    try {
        auto geometry = std::make_unique<Geometry>(field, std::move(projection));
        auto map = buildMap(*geometry, kBilinear);
        if (!map) {
            error = "the field needs more interpolation weights than a map can hold";
            return nullptr;
        }
        return std::unique_ptr<Resampler>(new Resampler(std::move(geometry), std::move(map)));
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the map";
        return nullptr;
    }
}

Resampler::Resampler(std::unique_ptr<Geometry> geometry, std::unique_ptr<Map> map)
    : geometry_(std::move(geometry)), map_(std::move(map)) {}

Resampler::~Resampler() = default;

bool Resampler::setMode(int mode) {
    if (mode != kNearest && mode != kBilinear && mode != kBicubic) {
        return false;
    }
    if (this->mode() == mode) {
        return true;
    }
    std::unique_ptr<Map> map;
    try {
        map = buildMap(*geometry_, mode);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!map) {
        return false;
    }
    std::lock_guard guard(mutex_);
    map_.swap(map);
    padded_.clear();
    return true;
}

int Resampler::mode() const {
    std::lock_guard guard(mutex_);
    return map_->mode;
}

bool Resampler::resample(const void* source, int rows, int columns, int bytesPerPixel,
                         void* destination, uint32_t* size) {
    if (size == nullptr) {
        return false;
    }
    const std::size_t outputBytes = static_cast<std::size_t>(geometry_->outputRows) *
                                    geometry_->outputColumns *
                                    static_cast<std::size_t>(bytesPerPixel == 3 ? 3 : 1);
    if (source == nullptr || destination == nullptr || rows != geometry_->rows ||
        columns != geometry_->columns || (bytesPerPixel != 1 && bytesPerPixel != 3) ||
        *size < outputBytes) {
        *size = 0;
        return false;
    }
    std::lock_guard guard(mutex_);
    const Map& map = *map_;
    const auto* in = static_cast<const uint8_t*>(source);
    if (map.paddedRows != rows || map.paddedColumns != columns) {
        // Too few rows or columns for the taps: repeat the last row and column.
        const std::size_t bpp = static_cast<std::size_t>(bytesPerPixel);
        padded_.resize(static_cast<std::size_t>(map.paddedRows) * map.paddedColumns * bpp);
        for (int r = 0; r < map.paddedRows; ++r) {
            const uint8_t* from =
                in + static_cast<std::size_t>(std::min(r, rows - 1)) * columns * bpp;
            uint8_t* to = padded_.data() + static_cast<std::size_t>(r) * map.paddedColumns * bpp;
            std::memcpy(to, from, columns * bpp);
            for (int c = columns; c < map.paddedColumns; ++c) {
                std::memcpy(to + c * bpp, from + (columns - 1) * bpp, bpp);
            }
        }
        in = padded_.data();
    }
    auto* out = static_cast<uint8_t*>(destination);
    const Entry* entries = map.entries.data();
    const std::size_t count = map.entries.size();
    const std::size_t stride = static_cast<std::size_t>(map.paddedColumns) * bytesPerPixel;
    const int16_t* weights = map.weights.data();
    const bool grey = bytesPerPixel == 1;
    switch (map.mode) {
        case kNearest:
            grey ? resampleNearest<1>(entries, count, in, out)
                 : resampleNearest<3>(entries, count, in, out);
            break;
        case kBilinear:
            grey ? resampleBilinear<1>(entries, count, in, stride, out)
                 : resampleBilinear3(entries, count, in, stride, out);
            break;
        default:
            grey ? resampleBicubic<1>(entries, count, in, stride, weights, out)
                 : resampleBicubic<3>(entries, count, in, stride, weights, out);
            break;
    }
    *size = static_cast<uint32_t>(outputBytes);
    return true;
}

}  // namespace quiltra::resample

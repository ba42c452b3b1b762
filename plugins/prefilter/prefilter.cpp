#include "prefilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

namespace quiltra::prefilter {
namespace {

// No prefilter file is anywhere near this size; a larger file is the wrong file.
constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::size_t kMaxImageFileBytes = std::size_t(kMaxPixels) * 3 + 4096;

// The pixel loops: plain loops over contiguous bytes that the compiler vectorises (the
// build asks for it on this file). In place, `in` and `out` are one pointer, so the loops
// that may run in place take it once.

template <bool kDark, bool kFactors>
inline uint8_t correctOne(uint8_t in, const uint8_t* dark, const uint16_t* factors, std::size_t i,
                          int32_t factor, int shift, int32_t bias) {
    int32_t v = in;
    if constexpr (kDark) {
        v = std::max(v - int32_t(dark[i]), 0);
    }
    if constexpr (kFactors) {
        factor = factors[i];
    }
    return uint8_t(std::clamp((v * factor + bias) >> shift, 0, 255));
}

// Loop bodies for both instruction sets: `out` apart from `in`, or `data` in place.
#define QUILTRA_CORRECT_APART                                                               \
    for (std::size_t i = 0; i < n; ++i) {                                                   \
        out[i] = correctOne<kDark, kFactors>(in[i], dark, factors, i, factor, shift, bias); \
    }
#define QUILTRA_CORRECT_IN_PLACE                                                               \
    for (std::size_t i = 0; i < n; ++i) {                                                      \
        data[i] = correctOne<kDark, kFactors>(data[i], dark, factors, i, factor, shift, bias); \
    }

template <bool kDark, bool kFactors>
void correctApart(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t n,
                  const uint8_t* __restrict dark, const uint16_t* __restrict factors,
                  int32_t factor, int shift, int32_t bias) {
    QUILTRA_CORRECT_APART
}

template <bool kDark, bool kFactors>
void correctInPlace(uint8_t* __restrict data, std::size_t n, const uint8_t* __restrict dark,
                    const uint16_t* __restrict factors, int32_t factor, int shift, int32_t bias) {
    QUILTRA_CORRECT_IN_PLACE
}

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define QUILTRA_CORRECT_AVX2 1
// Whether this CPU has AVX2, asked once for every loop that has an AVX2 form.
bool cpuHasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

// The same loops for CPUs with AVX2: packed 32-bit multiplies and minimum/maximum, which
// SSE2 (the x86-64 baseline) lacks; the same arithmetic, so the same bytes.
template <bool kDark, bool kFactors>
__attribute__((target("avx2"))) void correctApartAvx2(const uint8_t* __restrict in,
                                                      uint8_t* __restrict out, std::size_t n,
                                                      const uint8_t* __restrict dark,
                                                      const uint16_t* __restrict factors,
                                                      int32_t factor, int shift, int32_t bias) {
    QUILTRA_CORRECT_APART
}

template <bool kDark, bool kFactors>
__attribute__((target("avx2"))) void correctInPlaceAvx2(uint8_t* __restrict data, std::size_t n,
                                                        const uint8_t* __restrict dark,
                                                        const uint16_t* __restrict factors,
                                                        int32_t factor, int shift, int32_t bias) {
    QUILTRA_CORRECT_IN_PLACE
}
#endif

// The pass in 16-bit lanes, for a shift of 9 to 15 and a bias that is a whole multiple of 256
// (prepareCorrection makes it so). With v = max(in - dark, 0) and b = bias / 256,
//   (v x f + bias) >> shift  ==  ((v << 8) x f >> 16  +  b) >> (shift - 8),
// and (v << 8) x f >> 16 is the high half of one unsigned 16-bit multiply. Saturation gives
// the clamp to 0..255: a sum held at 65535 or at 0 lies beyond 255 or below 0 after the shift
// as well, and a shift of at least 1 leaves every sum a positive signed 16-bit value for the
// final pack. The same bytes as the 32-bit loops, in a third of the instructions.
constexpr int kHighHalfShift = 9;

struct HighHalf {
    uint16_t up = 0;    // b when it is positive
    uint16_t down = 0;  // -b when it is negative
    int shift = 0;      // the correction's shift - 8

    explicit HighHalf(const Prefilter::Correction& c)
        : up(uint16_t(c.bias > 0 ? c.bias / 256 : 0)),
          down(uint16_t(c.bias < 0 ? -(c.bias / 256) : 0)),
          shift(c.shift - 8) {}
};

#if defined(__SSE2__)
// 16 bytes a step; returns how many bytes it did (the rest is less than a step).
template <bool kDark, bool kFactors>
std::size_t correctHighSse2(const uint8_t* in, uint8_t* out, std::size_t n, const uint8_t* dark,
                            const uint16_t* factors, uint16_t factor, const HighHalf& h) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i up = _mm_set1_epi16(int16_t(h.up));
    const __m128i down = _mm_set1_epi16(int16_t(h.down));
    const __m128i shift = _mm_cvtsi32_si128(h.shift);
    const __m128i constant = _mm_set1_epi16(int16_t(factor));
    const auto lanes = [&](__m128i shifted, __m128i f) {
        const __m128i sum = _mm_subs_epu16(_mm_adds_epu16(_mm_mulhi_epu16(shifted, f), up), down);
        return _mm_srl_epi16(sum, shift);
    };
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if constexpr (kDark) {
            v = _mm_subs_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(dark + i)));
        }
        __m128i f0 = constant, f1 = constant;
        if constexpr (kFactors) {
            f0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(factors + i));
            f1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(factors + i + 8));
        }
        // Unpacked after a zero byte, each byte is its value << 8 in a 16-bit lane.
        const __m128i low = lanes(_mm_unpacklo_epi8(zero, v), f0);
        const __m128i high = lanes(_mm_unpackhi_epi8(zero, v), f1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    }
    return i;
}
#endif

#ifdef QUILTRA_CORRECT_AVX2
// 32 bytes a step. AVX2 unpacks and packs within 128-bit halves, so the bytes are put in
// the order [0-7, 16-23 | 8-15, 24-31] before the unpack, which then gives bytes 0-15 and
// 16-31 in order, and the packed result is put back in order before the store.
template <bool kDark, bool kFactors>
__attribute__((target("avx2"))) std::size_t correctHighAvx2(const uint8_t* in, uint8_t* out,
                                                            std::size_t n, const uint8_t* dark,
                                                            const uint16_t* factors,
                                                            uint16_t factor, const HighHalf& h) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i up = _mm256_set1_epi16(int16_t(h.up));
    const __m256i down = _mm256_set1_epi16(int16_t(h.down));
    const __m128i shift = _mm_cvtsi32_si128(h.shift);
    const __m256i constant = _mm256_set1_epi16(int16_t(factor));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        if constexpr (kDark) {
            v = _mm256_subs_epu8(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dark + i)));
        }
        v = _mm256_permute4x64_epi64(v, 0xD8);
        __m256i f0 = constant, f1 = constant;
        if constexpr (kFactors) {
            f0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(factors + i));
            f1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(factors + i + 16));
        }
        __m256i low = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, v), f0);
        __m256i high = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, v), f1);
        low = _mm256_srl_epi16(_mm256_subs_epu16(_mm256_adds_epu16(low, up), down), shift);
        high = _mm256_srl_epi16(_mm256_subs_epu16(_mm256_adds_epu16(high, up), down), shift);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
    }
    return i;
}
#endif

// The bytes the 16-bit lanes did, from the start; 0 where they do not apply.
template <bool kDark, bool kFactors>
std::size_t correctHigh(const uint8_t* in, uint8_t* out, std::size_t n, const uint8_t* dark,
                        const uint16_t* factors, const Prefilter::Correction& c) {
    if (c.shift < kHighHalfShift) {
        return 0;
    }
    const HighHalf h(c);
#ifdef QUILTRA_CORRECT_AVX2
    if (cpuHasAvx2()) {
        return correctHighAvx2<kDark, kFactors>(in, out, n, dark, factors, c.factor, h);
    }
#endif
#if defined(__SSE2__)
    return correctHighSse2<kDark, kFactors>(in, out, n, dark, factors, c.factor, h);
#else
    (void)in, (void)out, (void)n, (void)dark, (void)factors, (void)h;
    return 0;
#endif
}

template <bool kDark, bool kFactors>
void correct(const uint8_t* in, uint8_t* out, std::size_t n, const Prefilter::Correction& c) {
    const uint8_t* dark = c.dark.empty() ? nullptr : c.dark.data();
    const uint16_t* factors = c.factors.empty() ? nullptr : c.factors.data();
    // The 16-bit lanes where they apply, the 32-bit loops for what they leave.
    if (const std::size_t done = correctHigh<kDark, kFactors>(in, out, n, dark, factors, c)) {
        in += done;
        out += done;
        n -= done;
        dark = dark != nullptr ? dark + done : nullptr;
        factors = factors != nullptr ? factors + done : nullptr;
    }
#ifdef QUILTRA_CORRECT_AVX2
    if (cpuHasAvx2()) {
        if (in == out) {
            correctInPlaceAvx2<kDark, kFactors>(out, n, dark, factors, c.factor, c.shift, c.bias);
        } else {
            correctApartAvx2<kDark, kFactors>(in, out, n, dark, factors, c.factor, c.shift, c.bias);
        }
        return;
    }
#endif
    if (in == out) {
        correctInPlace<kDark, kFactors>(out, n, dark, factors, c.factor, c.shift, c.bias);
    } else {
        correctApart<kDark, kFactors>(in, out, n, dark, factors, c.factor, c.shift, c.bias);
    }
}

void threshold(uint8_t* __restrict data, std::size_t n, uint8_t level) {
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = data[i] >= level ? 255 : 0;
    }
}

// A row copied into `padded` with its first and last pixel repeated once on either side.
void loadRow(const uint8_t* row, uint8_t* padded, int columns, int bytesPerPixel) {
    const std::size_t rowBytes = std::size_t(columns) * bytesPerPixel;
    std::memcpy(padded + bytesPerPixel, row, rowBytes);
    std::memcpy(padded, row, std::size_t(bytesPerPixel));
    std::memcpy(padded + bytesPerPixel + rowBytes, row + rowBytes - bytesPerPixel,
                std::size_t(bytesPerPixel));
}

// Box: each padded column's sum of three rows, then three neighbouring sums, rounded / 9.
void boxRow(const uint8_t* __restrict up, const uint8_t* __restrict mid,
            const uint8_t* __restrict down, uint16_t* __restrict sums, uint8_t* __restrict out,
            std::size_t rowBytes, int b) {
    const std::size_t padded = rowBytes + 2 * std::size_t(b);
    for (std::size_t k = 0; k < padded; ++k) {
        sums[k] = uint16_t(up[k] + mid[k] + down[k]);
    }
    for (std::size_t k = 0; k < rowBytes; ++k) {
        out[k] = uint8_t((sums[k] + sums[k + b] + sums[k + 2 * b] + 4u) / 9u);
    }
}

inline uint8_t median3(uint8_t a, uint8_t b, uint8_t c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Median of nine: each padded column sorted into low, middle and high; the median is the
// median of (the largest of three neighbouring lows, the median of their middles, the
// smallest of their highs).
void medianRow(const uint8_t* __restrict up, const uint8_t* __restrict mid,
               const uint8_t* __restrict down, uint8_t* __restrict sorted, uint8_t* __restrict out,
               std::size_t rowBytes, int b) {
    const std::size_t padded = rowBytes + 2 * std::size_t(b);
    uint8_t* __restrict lo = sorted;
    uint8_t* __restrict me = sorted + padded;
    uint8_t* __restrict hi = sorted + 2 * padded;
    for (std::size_t k = 0; k < padded; ++k) {
        const uint8_t x = up[k], y = mid[k], z = down[k];
        lo[k] = std::min(std::min(x, y), z);
        hi[k] = std::max(std::max(x, y), z);
        me[k] = median3(x, y, z);
    }
    for (std::size_t k = 0; k < rowBytes; ++k) {
        const uint8_t l = std::max(std::max(lo[k], lo[k + b]), lo[k + 2 * b]);
        const uint8_t m = median3(me[k], me[k + b], me[k + 2 * b]);
        const uint8_t h = std::min(std::min(hi[k], hi[k + b]), hi[k + 2 * b]);
        out[k] = median3(l, m, h);
    }
}

// The fixed-point form of a factor table: the largest shift (0..15) that keeps the
// largest factor within 16 bits.
int shiftFor(double largest) {
    int shift = 15;
    while (shift > 0 && std::lround(largest * double(1 << shift)) > 65535) {
        --shift;
    }
    return shift;
}

std::filesystem::path beside(const std::string& file, const std::string& name) {
    const std::filesystem::path reference(name);
    if (reference.is_absolute()) {
        return reference;
    }
    return std::filesystem::path(file).parent_path() / reference;
}

bool readImage(const std::filesystem::path& path, const char* what, Image& image,
               std::string& error) {
    std::string bytes;
    if (!readBytes(path.string(), kMaxImageFileBytes, bytes, error) ||
        !parseImage(bytes, image, error)) {
        error = std::string(what) + " image " + path.string() + ": " + error;
        return false;
    }
    return true;
}

bool sameSize(const Image& a, const Image& b) {
    return a.rows == b.rows && a.columns == b.columns && a.channels == b.channels;
}

}  // namespace

std::unique_ptr<Prefilter> Prefilter::create(const char* type, const char* file,
                                             const char* options, std::string& error) {
    if (type != nullptr && type[0] != '\0' && std::strcmp(type, "f") != 0) {
        error = "unknown filter type '" + std::string(type) + "'";
        return nullptr;
    }
    if (file == nullptr || file[0] == '\0') {
        error = "no prefilter file";
        return nullptr;
    }
    std::string text;
    Settings settings;
    if (!readBytes(file, kMaxFileBytes, text, error) || !parse(text, settings, error)) {
        error = std::string(file) + ": " + error;
        return nullptr;
    }
    Image dark, flat;
    if ((!settings.dark.empty() &&
         !readImage(beside(file, settings.dark), "the dark", dark, error)) ||
        (!settings.flat.empty() &&
         !readImage(beside(file, settings.flat), "the flat", flat, error))) {
        return nullptr;
    }
    if (!settings.dark.empty() && !settings.flat.empty() && !sameSize(dark, flat)) {
        error = "the dark and flat images differ in size or channels";
        return nullptr;
    }
    const std::string optionsText = options == nullptr ? "" : options;
    Operations operations = settings.operations;
    if (!applyOptions(optionsText, operations, error)) {
        error = "options '" + optionsText + "': " + error;
        return nullptr;
    }
    std::unique_ptr<Prefilter> instance(new Prefilter(std::move(settings), std::move(dark),
                                                      std::move(flat), optionsText, operations));
    // The factors for the references' own pixel size, so that execute only multiplies.
    const Image& reference = instance->dark_.pixels.empty() ? instance->flat_ : instance->dark_;
    if (!reference.pixels.empty()) {
        instance->prepareCorrection(reference.channels);
    }
    return instance;
}

Prefilter::Prefilter(Settings settings, Image dark, Image flat, std::string options,
                     Operations operations)
    : settings_(std::move(settings)),
      dark_(std::move(dark)),
      flat_(std::move(flat)),
      optionsText_(std::move(options)),
      operations_(operations) {}

void Prefilter::prepareCorrection(int bytesPerPixel) {
    Correction& c = correction_;
    if (c.bytesPerPixel == bytesPerPixel && c.gain == operations_.gain &&
        c.offset == operations_.offset) {
        return;
    }
    c = Correction{};
    c.bytesPerPixel = bytesPerPixel;
    c.gain = operations_.gain;
    c.offset = operations_.offset;
    // A grey reference serves every byte of a colour pixel: its entry repeats.
    auto spread = [bytesPerPixel](const Image& image, std::size_t at) {
        return image.channels == bytesPerPixel ? at : at / std::size_t(bytesPerPixel);
    };
    const Image& reference = dark_.pixels.empty() ? flat_ : dark_;
    const std::size_t bytes = reference.pixels.empty()
                                  ? 0
                                  : std::size_t(reference.rows) * reference.columns * bytesPerPixel;
    if (!dark_.pixels.empty()) {
        c.dark.resize(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            c.dark[i] = dark_.pixels[spread(dark_, i)];
        }
    }
    double largest = std::min(c.gain, kMaxFactor);
    std::vector<double> factors;
    if (!flat_.pixels.empty()) {
        // Per channel of the flat field: the mean of (flat - dark) over the pixels where it
        // is above 0; a pixel where it is not keeps its value (a correction of 1).
        const int channels = flat_.channels;
        const std::size_t count = flat_.pixels.size();
        auto difference = [&](std::size_t i) {
            return int(flat_.pixels[i]) - (dark_.pixels.empty() ? 0 : int(dark_.pixels[i]));
        };
        std::vector<double> sum(std::size_t(channels), 0.0);
        std::vector<double> n(std::size_t(channels), 0.0);
        for (std::size_t i = 0; i < count; ++i) {
            if (difference(i) > 0) {
                sum[i % channels] += difference(i);
                n[i % channels] += 1;
            }
        }
        std::vector<double> own(count);
        for (std::size_t i = 0; i < count; ++i) {
            const int d = difference(i);
            const double mean = n[i % channels] > 0 ? sum[i % channels] / n[i % channels] : 0.0;
            own[i] = std::min(d > 0 ? c.gain * mean / d : c.gain, kMaxFactor);
            largest = std::max(largest, own[i]);
        }
        factors.resize(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            factors[i] = own[spread(flat_, i)];
        }
    }
    c.shift = shiftFor(largest);
    const double scale = double(1 << c.shift);
    c.factor = uint16_t(std::lround(std::min(c.gain, kMaxFactor) * scale));
    c.factors.resize(factors.size());
    for (std::size_t i = 0; i < factors.size(); ++i) {
        c.factors[i] = uint16_t(std::lround(factors[i] * scale));
    }
    // With 9 or more fraction bits the offset is kept in whole 256ths of a factor unit (at
    // worst a quarter of a grey level off), so the pass can run in 16-bit lanes.
    const int32_t half = c.shift > 0 ? 1 << (c.shift - 1) : 0;
    c.bias = c.shift >= kHighHalfShift
                 ? int32_t(std::lround(c.offset * double(1 << (c.shift - 8)))) * 256 + half
                 : int32_t(std::lround(c.offset * scale)) + half;
}

Result Prefilter::execute(const ImageDescriptor* in, ImageDescriptor* out, const char* options) {
    if (in == nullptr || out == nullptr || in->pixels == nullptr || out->pixels == nullptr ||
        in->rows <= 0 || in->columns <= 0 || (in->bytesPerPixel != 1 && in->bytesPerPixel != 3) ||
        out->rows != in->rows || out->columns != in->columns ||
        out->bytesPerPixel != in->bytesPerPixel) {
        return kRefused;
    }
    const int rows = in->rows, columns = in->columns, bytesPerPixel = in->bytesPerPixel;
    const uint64_t bytes64 = uint64_t(rows) * uint64_t(columns) * uint64_t(bytesPerPixel);
    if (bytes64 > std::numeric_limits<std::size_t>::max() / 2) {
        return kRefused;
    }
    const auto bytes = std::size_t(bytes64);
    const auto* source = static_cast<const uint8_t*>(in->pixels);
    auto* destination = static_cast<uint8_t*>(out->pixels);
    const auto from = reinterpret_cast<uintptr_t>(source);
    const auto to = reinterpret_cast<uintptr_t>(destination);
    if (from != to && from < to + bytes && to < from + bytes) {
        return kRefused;  // overlapping but not the same pixels: no order of writes is right
    }
    std::lock_guard guard(mutex_);
    const std::string_view text = options == nullptr ? "" : options;
    if (text != optionsText_) {
        // Another text than last time: read it over the file's keys.
        Operations operations = settings_.operations;
        std::string error;
        optionsText_ = text;
        optionsGood_ = applyOptions(text, operations, error);
        if (optionsGood_) {
            operations_ = operations;
        }
    }
    Result result = kFiltered;
    if (!optionsGood_) {
        result = kBadOptions;
    } else {
        for (const Image* reference : {&dark_, &flat_}) {
            if (!reference->pixels.empty() &&
                (reference->rows != rows || reference->columns != columns ||
                 (reference->channels != 1 && reference->channels != bytesPerPixel))) {
                result = kReferenceMismatch;
            }
        }
    }
    if (result != kFiltered) {
        if (source != destination) {
            std::memcpy(destination, source, bytes);
        }
        return result;
    }
    run(source, destination, rows, columns, bytesPerPixel);
    return kFiltered;
}

void Prefilter::run(const uint8_t* in, uint8_t* out, int rows, int columns, int bytesPerPixel) {
    const std::size_t rowBytes = std::size_t(columns) * bytesPerPixel;
    const std::size_t bytes = rowBytes * rows;
    const Operations& op = operations_;
    const bool hasDark = !dark_.pixels.empty();
    const bool hasFlat = !flat_.pixels.empty();
    if (hasDark || hasFlat || op.gain != 1.0 || op.offset != 0.0) {
        prepareCorrection(bytesPerPixel);
        if (hasDark && hasFlat) {
            correct<true, true>(in, out, bytes, correction_);
        } else if (hasDark) {
            correct<true, false>(in, out, bytes, correction_);
        } else if (hasFlat) {
            correct<false, true>(in, out, bytes, correction_);
        } else {
            correct<false, false>(in, out, bytes, correction_);
        }
    } else if (in != out) {
        std::memcpy(out, in, bytes);
    }
    if (op.filter != Filter::kNone) {
        // Runs in place on `out`: input rows r - 1, r and r + 1 are copied (edges repeated)
        // before output row r is written over input row r.
        const std::size_t padded = rowBytes + 2 * std::size_t(bytesPerPixel);
        rowBuffers_.resize(3 * padded);
        uint8_t* ring[3] = {rowBuffers_.data(), rowBuffers_.data() + padded,
                            rowBuffers_.data() + 2 * padded};
        if (op.filter == Filter::kMedian3) {
            sortedColumns_.resize(3 * padded);
        } else {
            columnSums_.resize(padded);
        }
        loadRow(out, ring[1], columns, bytesPerPixel);
        std::memcpy(ring[0], ring[1], padded);  // above row 0: row 0 again
        for (int r = 0; r < rows; ++r) {
            const int next = std::min(r + 1, rows - 1);
            loadRow(out + rowBytes * next, ring[2], columns, bytesPerPixel);
            uint8_t* row = out + rowBytes * r;
            if (op.filter == Filter::kMedian3) {
                medianRow(ring[0], ring[1], ring[2], sortedColumns_.data(), row, rowBytes,
                          bytesPerPixel);
            } else {
                boxRow(ring[0], ring[1], ring[2], columnSums_.data(), row, rowBytes, bytesPerPixel);
            }
            std::rotate(ring, ring + 1, ring + 3);
        }
    }
    if (op.threshold != kNoThreshold) {
        threshold(out, bytes, uint8_t(op.threshold));
    }
}

}  // namespace quiltra::prefilter

// The prefilter file and the options text: what a prefilter instance does, read from its
// versioned text form (docs/prefilter.md), and the reference images it names (binary PGM
// and PPM). Only the C++ standard library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quiltra::prefilter {

// The version this code reads.
inline constexpr int kFormatVersion = 1;

enum class Filter { kNone, kMedian3, kBox3 };

// The largest gain; with it every input above the dark frame saturates at any offset.
inline constexpr double kMaxGain = 255.0;
inline constexpr double kMaxOffset = 255.0;
inline constexpr int kNoThreshold = -1;

// The keys the options text may override; the file also names the reference images.
struct Operations {
    double gain = 1.0;
    double offset = 0.0;
    Filter filter = Filter::kNone;
    int threshold = kNoThreshold;  // 0..255, or kNoThreshold

    bool operator==(const Operations&) const = default;
};

struct Settings {
    std::string dark;  // reference image paths as written in the file; empty: none
    std::string flat;
    Operations operations;

    bool operator==(const Settings&) const = default;
};

// Reads the text of a prefilter file. On failure returns false with `error` naming the line
// and the reason ("line 3: unknown key 'gian'"); `settings` is then unspecified.
bool parse(std::string_view text, Settings& settings, std::string& error);

// Applies an options text ("gain=1.2;filter=median3") over `operations`. On failure returns
// false with `error` set; `operations` is then unspecified.
bool applyOptions(std::string_view options, Operations& operations, std::string& error);

// A reference image: rows x columns pixels of `channels` bytes (1 for PGM, 3 for PPM).
struct Image {
    int rows = 0;
    int columns = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

// The largest reference image: a side of 65536 pixels, 2^28 pixels.
inline constexpr int kMaxSide = 1 << 16;
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

// Reads a binary PGM (P5) or PPM (P6) with a maximum value of 255 from its bytes.
bool parseImage(std::string_view bytes, Image& image, std::string& error);

// Reads a whole file; a missing or unreadable file, or one larger than `limit`, is an error.
bool readBytes(const std::string& path, std::size_t limit, std::string& bytes, std::string& error);

}  // namespace quiltra::prefilter

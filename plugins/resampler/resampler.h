// One resampler instance: a field of one camera (centre, size, angle; in camera pixels, or in
// world units through a calibration file) sampled into an output image of rows x columns.
// The sample positions are computed once into a fixed-point map per mode; resampling is then
// a loop over that map.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quiltra::resample {

enum Mode { kNearest = 0, kBilinear = 1, kBicubic = 2 };

// Sample positions are kept to 1/1024 pixel; interpolation weights sum to 1024.
constexpr int kFractionBits = 10;
constexpr int kOne = 1 << kFractionBits;

// The largest images an instance accepts: a side of 65536 pixels, 2^28 input pixels and
// 2^26 output pixels (a map of 512 MiB).
constexpr int kMaxSide = 1 << 16;
constexpr int64_t kMaxInputPixels = int64_t{1} << 28;
constexpr int64_t kMaxOutputPixels = int64_t{1} << 26;

// What CreateResampler is given. x runs down the rows, y along the columns; angle in degrees.
struct Field {
    std::string calibFile;  // empty: the field is in camera pixels
    int inputRows = 0;
    int inputColumns = 0;
    float centreX = 0.0f;
    float centreY = 0.0f;
    float sizeX = 0.0f;
    float sizeY = 0.0f;
    float angle = 0.0f;
    int outputRows = 0;
    int outputColumns = 0;
};

class Resampler {
public:
    // The resampler of `field` in bilinear mode, or null with `error` saying why (a missing
    // or invalid calibration file, sizes out of range, numbers that are not finite).
    static std::unique_ptr<Resampler> create(const Field& field, std::string& error);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Switches to `mode` (building its map when it is not the current one). An unknown mode
    // keeps the current one and returns false; so does a map that cannot be allocated.
    bool setMode(int mode);
    int mode() const;

    // Resamples `source` (rows x columns x bytesPerPixel, no padding) into `destination`,
    // whose byte size is *size on entry; on return *size is the byte size written. Arguments
    // that do not fit this instance (rows, columns, bytes per pixel other than 1 or 3, a
    // destination smaller than the output, null pointers) write nothing, set *size to 0
    // (when size is not null) and return false.
    bool resample(const void* source, int rows, int columns, int bytesPerPixel, void* destination,
                  uint32_t* size);

    // One output pixel's taps: `offset` is the first tap's pixel index in the (padded)
    // source, or kOutside. Per axis, `rowWeights` and `columnWeights` are in bilinear mode
    // the second tap's weight (0 .. kOne), in bicubic mode the index of a row of the weight
    // table; nearest mode uses neither.
    struct Entry {
        int32_t offset;
        uint16_t rowWeights;
        uint16_t columnWeights;
    };
    static constexpr int32_t kOutside = -1;

private:
    class Geometry;
    struct Map;

    Resampler(std::unique_ptr<Geometry> geometry, std::unique_ptr<Map> map);
    // The taps of every output pixel in `mode`; null when the weight table overflows.
    static std::unique_ptr<Map> buildMap(const Geometry& geometry, int mode);

    std::unique_ptr<Geometry> geometry_;  // immutable after create
    // Guards map_ and padded_: one resample or mode switch of this instance at a time.
    mutable std::mutex mutex_;
    std::unique_ptr<Map> map_;
    std::vector<uint8_t> padded_;  // a tiny source with its edges repeated to the taps' reach
};

}  // namespace quiltra::resample

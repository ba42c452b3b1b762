// One prefilter instance: the operations of a prefilter file and its options text, and the
// reference images it names, applied to camera images of 1 or 3 bytes per pixel in a fixed
// order (dark frame, flat field, gain and offset, a 3x3 filter, a threshold). The dark frame,
// flat field, gain and offset are folded into one per-pixel pass over precomputed
// fixed-point factors.
#pragma once

#include <quiltra/plugin.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "prefilter_file.h"

namespace quiltra::prefilter {

// ExecuteFilter's results.
enum Result {
    kFiltered = 1,           // the output holds the filtered image
    kRefused = 0,            // unusable arguments: nothing written
    kBadOptions = -1,        // the options text is malformed: the output holds the input
    kReferenceMismatch = -2  // a reference image does not fit the image: output holds input
};

// The largest per-pixel factor of the corrected pass (gain x flat correction): beyond it
// every input above the dark frame gives 255 at any offset.
inline constexpr double kMaxFactor = 511.0;

class Prefilter {
public:
    // The instance of prefilter file `file` (type "f"; null or empty counts as "f") with
    // `options` over it, or null with `error` saying why: another type, no file, a file that
    // cannot be read or is malformed, a reference image that cannot be read or does not
    // match the other, malformed options.
    static std::unique_ptr<Prefilter> create(const char* type, const char* file,
                                             const char* options, std::string& error);
    Prefilter(const Prefilter&) = delete;
    Prefilter& operator=(const Prefilter&) = delete;

    // Filters `in` into `out` (the same pixels, or pixels apart) with `options` over the
    // file's keys; see Result and docs/prefilter.md.
    Result execute(const ImageDescriptor* in, ImageDescriptor* out, const char* options);

    // The per-pixel pass for images of `bytesPerPixel` under `operations`: out = clamp(
    // (max(in - dark, 0) x factor + bias) >> shift, 0, 255), where factor holds gain x the
    // flat correction in fixed point (one entry per byte when `factors` is not empty, else
    // `factor` for all) and bias the offset with the rounding.
    struct Correction {
        int bytesPerPixel = 0;
        double gain = 1.0;
        double offset = 0.0;
        std::vector<uint8_t> dark;  // one entry per byte of the image; empty: no dark frame
        std::vector<uint16_t> factors;
        uint16_t factor = 1;
        int shift = 0;
        int32_t bias = 0;
    };

private:
    Prefilter(Settings settings, Image dark, Image flat, std::string options,
              Operations operations);

    // Makes correction_ fit `bytesPerPixel` and the current operations.
    void prepareCorrection(int bytesPerPixel);
    void run(const uint8_t* in, uint8_t* out, int rows, int columns, int bytesPerPixel);

    // Immutable after create.
    const Settings settings_;
    const Image dark_;  // empty pixels: none
    const Image flat_;

    // Guards everything below: one execute of this instance at a time.
    std::mutex mutex_;
    std::string optionsText_;  // the options text operations_ was read from
    bool optionsGood_ = true;  // whether optionsText_ reads
    Operations operations_;
    Correction correction_;
    std::vector<uint8_t> rowBuffers_;     // the 3x3 filter's three padded input rows
    std::vector<uint8_t> sortedColumns_;  // median3: each column's low, middle, high byte
    std::vector<uint16_t> columnSums_;    // box3: each column's sum
};

}  // namespace quiltra::prefilter

// Checks a scanner's final images by the frame stamps of simulated cameras whose images are
// placed unchanged: each segment of each band carries the stamp of its own camera, the
// frames run on by one down the bands of a segment, and every final image continues the
// scan order of the one before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scanner_layout.h"

namespace quiltra::grab {

class FinalImageCheck {
public:
    // The segments' `camera` fields name the stamp each must carry (0: any camera). The
    // first image checked must start with frame 0: the cameras' first exposures since their
    // ports were opened.
    explicit FinalImageCheck(tools::ScannerLayout layout);

    // Checks the next final image of the scanner: width x height pixels of bytesPerPixel
    // bytes, rows packed. Returns one line per fault, naming band and segment; none when
    // the image is right.
    std::vector<std::string> check(const uint8_t* pixels, int width, int height, int bytesPerPixel);

    const tools::ScannerLayout& layout() const { return layout_; }

private:
    using Frames = std::vector<std::optional<uint32_t>>;  // per band; none: no valid stamp

    // Reads the stamps of segment i down the bands, reporting missing or foreign ones.
    Frames readSegment(std::size_t i, const uint8_t* pixels, int width, int bytesPerPixel,
                       std::vector<std::string>& faults) const;
    // Checks the frame order of segment i against its previous image.
    void checkOrder(std::size_t i, const Frames& frames, std::vector<std::string>& faults) const;
    // "segment 1 (Scanner0001.Camera2, port 1)".
    std::string segmentName(std::size_t i) const;

    tools::ScannerLayout layout_;
    // The frames of the previous final image, per segment; empty before the first.
    std::vector<Frames> previous_;
};

}  // namespace quiltra::grab

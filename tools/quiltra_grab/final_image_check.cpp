#include "final_image_check.h"

#include <cstddef>
#include <utility>

#include "console.h"
#include "frame_stamp.h"

namespace quiltra::grab {

FinalImageCheck::FinalImageCheck(tools::ScannerLayout layout) : layout_(std::move(layout)) {}

std::string FinalImageCheck::segmentName(std::size_t i) const {
    const int n = static_cast<int>(i);
    return format("segment %d (%s.Camera%d, port %d)", n, layout_.name.c_str(), n + 1,
                  layout_.segments[i].port);
}

std::vector<std::string> FinalImageCheck::check(const uint8_t* pixels, int width, int height,
                                                int bytesPerPixel) {
    std::vector<std::string> faults;
    const std::size_t segments = layout_.segments.size();
    const int bandHeight = layout_.bandHeight();
    if (segments == 0 || width != layout_.width() ||
        static_cast<long long>(height) != static_cast<long long>(layout_.scans) * bandHeight) {
        std::string columns;
        for (const tools::ScannerSegment& segment : layout_.segments) {
            if (!columns.empty()) {
                columns += '+';
            }
            columns += std::to_string(segment.columns);
        }
        faults.push_back(format(
            "the image is %d x %d pixels, but Quiltra.ini [%s] gives segments of %s columns and "
            "%d bands of %d rows; cannot find its segments",
            width, height, layout_.name.c_str(), columns.empty() ? "no" : columns.c_str(),
            layout_.scans, bandHeight));
    }
    for (std::size_t i = 0; faults.empty() && i < segments; ++i) {
        const tools::ScannerSegment& segment = layout_.segments[i];
        if (segment.columns < simcam::kStampWidth || segment.rows < simcam::kStampHeight) {
            faults.push_back(format("%s is %d x %d pixels, too small for a frame stamp (%d x %d)",
                                    segmentName(i).c_str(), segment.columns, segment.rows,
                                    simcam::kStampWidth, simcam::kStampHeight));
        }
    }
    if (!faults.empty()) {
        // The next image cannot be held against this one.
        previous_.assign(segments, Frames(static_cast<std::size_t>(layout_.scans)));
        return faults;
    }
    std::vector<Frames> frames;
    for (std::size_t i = 0; i < segments; ++i) {
        frames.push_back(readSegment(i, pixels, width, bytesPerPixel, faults));
        checkOrder(i, frames.back(), faults);
    }
    previous_ = std::move(frames);
    return faults;
}

FinalImageCheck::Frames FinalImageCheck::readSegment(std::size_t i, const uint8_t* pixels,
                                                     int width, int bytesPerPixel,
                                                     std::vector<std::string>& faults) const {
    const tools::ScannerSegment& segment = layout_.segments[i];
    const int x = layout_.segmentX(i);
    const std::ptrdiff_t rowStride = static_cast<std::ptrdiff_t>(width) * bytesPerPixel;
    Frames frames;
    for (int band = 0; band < layout_.scans; ++band) {
        const int y = band * layout_.bandHeight();
        const uint8_t* origin =
            pixels + y * rowStride + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
        const auto stamp =
            simcam::readFrameStamp(origin, segment.columns, segment.rows, rowStride, bytesPerPixel);
        if (!stamp) {
            faults.push_back(
                format("band %d, %s: no frame stamp at its top-left corner (x %d, y %d)", band,
                       segmentName(i).c_str(), x, y));
            frames.emplace_back();
        } else if (segment.camera != 0 && stamp->camera != segment.camera) {
            faults.push_back(
                format("band %d, %s: the stamp of camera %d (frame %u) where camera %d was due",
                       band, segmentName(i).c_str(), stamp->camera, stamp->frame, segment.camera));
            frames.emplace_back();
        } else {
            frames.emplace_back(stamp->frame);
        }
    }
    return frames;
}

void FinalImageCheck::checkOrder(std::size_t i, const Frames& frames,
                                 std::vector<std::string>& faults) const {
    const int scans = layout_.scans;
    // The bands this cycle wrote start at the overlap (at 0 in the first cycle), the first
    // with the frame after the previous image's last band; the bands above them are kept
    // from the previous image, moved up by the overlap.
    int first = 0;
    std::optional<uint32_t> due = 0u;
    if (!previous_.empty()) {
        const Frames& before = previous_[i];
        first = layout_.overlap;
        for (int band = 0; band < first; ++band) {
            const int source = band + first < scans ? band + first : band;
            const auto& frame = frames[static_cast<std::size_t>(band)];
            const auto& kept = before[static_cast<std::size_t>(source)];
            if (frame && kept && *frame != *kept) {
                faults.push_back(format(
                    "band %d, %s: frame %u where frame %u was due (band %d of the previous final "
                    "image, kept by the overlap %d)",
                    band, segmentName(i).c_str(), *frame, *kept, source, first));
            }
        }
        const auto& last = before[static_cast<std::size_t>(scans - 1)];
        due = last ? std::optional<uint32_t>(*last + 1) : std::nullopt;
    }
    for (int band = first; band < scans; ++band) {
        const auto& frame = frames[static_cast<std::size_t>(band)];
        if (frame && due && *frame != *due) {
            const auto& next = band + 1 < scans ? frames[static_cast<std::size_t>(band + 1)]
                                                : std::optional<uint32_t>();
            if (next && *next == *due && *frame == *due + 1) {
                faults.push_back(format("bands %d and %d, %s: swapped (frames %u and %u)", band,
                                        band + 1, segmentName(i).c_str(), *frame, *next));
                due = *frame + 1;
                ++band;
                continue;
            }
            const char* context = band != first       ? ""
                                  : previous_.empty() ? "the camera's first exposure; "
                                                      : "after the previous final image; ";
            faults.push_back(format(
                "band %d, %s: frame %u where frame %u was due (%s%s)", band, segmentName(i).c_str(),
                *frame, *due, context,
                *frame > *due ? "images were lost" : "an image repeats or bands are out of order"));
        }
        if (frame) {
            due = *frame + 1;
        } else if (due) {
            due = *due + 1;
        }
    }
}

}  // namespace quiltra::grab

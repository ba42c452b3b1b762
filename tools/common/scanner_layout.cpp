#include "scanner_layout.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "config/configuration_file.h"
#include "platform/private_profile.h"

namespace quiltra::tools {

namespace {

// A field size over a pitch in single precision, rounded halves away from zero, as Quiltra
// computes it; sizes no image can have read as 0.
int outputPixels(float size, float pitch) {
    const float pixels = std::round(size / pitch);
    return std::isfinite(pixels) && pixels > 0.0f && pixels < 1e9f ? static_cast<int>(pixels) : 0;
}

// More cameras than this make Quiltra refuse the scanner.
constexpr int kMaxCameras = 32;

}  // namespace

bool hasKey(const platform::ProfileReader& profile, const char* section, const char* key) {
    constexpr const char* kMissing = "\x7F";
    char text[2];
    profile.getString(section, key, kMissing, text, sizeof text);
    return std::string(text) != kMissing;
}

int ScannerLayout::width() const {
    int sum = 0;
    for (const ScannerSegment& segment : segments) {
        sum += segment.columns;
    }
    return sum;
}

int ScannerLayout::bandHeight() const {
    int tallest = 0;
    for (const ScannerSegment& segment : segments) {
        tallest = std::max(tallest, segment.rows);
    }
    return tallest;
}

int ScannerLayout::segmentX(std::size_t i) const {
    int x = 0;
    for (std::size_t left = 0; left < i && left < segments.size(); ++left) {
        x += segments[left].columns;
    }
    return x;
}

ScannerLayout readScannerLayout(const std::string& systemDir, const std::string& name) {
    const std::string path = configFilePath(systemDir, kPathSize);
    return readScannerLayout(platform::ProfileReader(path.c_str()), name);
}

ScannerLayout readScannerLayout(const platform::ProfileReader& profile, const std::string& name) {
    const char* section = name.c_str();
    ScannerLayout layout;
    layout.name = name;
    const int cameras = profile.getInt(section, "Cameras", 1);
    layout.scans = std::max(1, profile.getInt(section, "Scans", 1));
    const auto overlap = static_cast<unsigned>(profile.getInt(section, "Overlap", 0));
    layout.overlap = static_cast<int>(overlap % static_cast<unsigned>(layout.scans));
    const Point size = readPoint(profile, section, "Size", 100.0f, 120.0f);
    const Point pitch = readPoint(profile, section, "Pitch", 1.0f, 1.0f);
    const Point topLeft = readPoint(profile, section, "TopLeft", 0.0f, 0.0f);
    layout.cameras = cameras;
    layout.pitch = pitch;
    for (int n = 1; n <= std::min(cameras, kMaxCameras); ++n) {
        const std::string cameraSection = name + ".Camera" + std::to_string(n);
        ScannerSegment segment;
        segment.port = profile.getInt(cameraSection.c_str(), "Port", -1);
        const Point field = readPoint(profile, cameraSection.c_str(), "Size", size.x,
                                      size.y / static_cast<float>(cameras));
        segment.columns = outputPixels(field.y, pitch.y);
        segment.rows = outputPixels(field.x, pitch.x);
        segment.fieldSize = field;
        // Later cameras' defaults are not known here: only what their sections name counts.
        segment.corner = readPoint(profile, cameraSection.c_str(), "TopLeft", topLeft.x,
                                   n == 1 ? topLeft.y : 0.0f);
        segment.cornerYKnown = n == 1 || hasKey(profile, cameraSection.c_str(), "TopLeft_y");
        layout.segments.push_back(segment);
    }
    return layout;
}

}  // namespace quiltra::tools

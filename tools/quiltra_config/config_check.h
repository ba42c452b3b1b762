// quiltra-config check: reads a system folder's Quiltra.ini with the library's own readers,
// the way Quiltra builds its scanners, and reports every problem found (section, key, reason,
// what to do) and each scanner's final-image geometry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quiltra::config_check {

enum class Severity { error, warning };

struct Problem {
    Severity severity = Severity::error;
    std::string section;  // "Scanner0001.Camera2"; empty for the file itself
    std::string key;      // empty for a whole section
    std::string message;  // the reason, then what to do
};

// One camera of a scanner and its segment of the final image.
struct CameraGeometry {
    std::string section;  // "Scanner0001.Camera1"
    int port = -1;
    int rows = 0;  // output size: Size_x / Pitch_x and Size_y / Pitch_y, rounded
    int columns = 0;
    int x = 0;             // the segment's first column in the final image
    int fieldOverlap = 0;  // final-image pixels at the segment's left that repeat the field
                           // of the camera before (calibrated fields that overlap)
};

struct ScannerGeometry {
    std::string name;  // "Scanner0001"
    std::vector<CameraGeometry> cameras;
    int scans = 1;
    int overlap = 0;  // bands kept at the top of every final image but the first
    int bandHeight = 0;
    int64_t width = 0;
    int64_t height = 0;
    int bytesPerPixel = 1;
    bool bytesPerPixelAssumed = true;  // no pixel size given: 1 byte assumed
    double bytes = 0.0;
};

struct CheckOptions {
    std::string systemFolder;
    // The first folder the loader searches for a library name without a folder: on Linux the
    // folder of libquiltra.so (its run path), on Windows the host program's.
    std::string loaderFolder;
    // The cameras' PixelSize in bits as the driver reports it; 0: unknown (1 byte assumed).
    int pixelBits = 0;
    // A final image above this many bytes is a warning (as is one above physicalMemory).
    double largeImageBytes = 1024.0 * 1024.0 * 1024.0;
    double physicalMemory = 0.0;  // bytes; 0: unknown
};

struct CheckReport {
    std::string file;  // the Quiltra.ini read
    std::vector<Problem> problems;
    std::vector<ScannerGeometry> scanners;

    int count(Severity severity) const;
    // 0 without errors, 1 with.
    int exitCode() const;
};

CheckReport checkConfiguration(const CheckOptions& options);

// The known key of the section kind of `section` nearest to `key` by edit distance (ignoring
// case), for "did you mean"; empty when none is near.
std::string nearestKey(const std::string& section, const std::string& key);

// Levenshtein distance, ignoring ASCII case.
int editDistance(const std::string& a, const std::string& b);

}  // namespace quiltra::config_check

// Where each camera's image lies in a scanner's final image: one band per scan from the top,
// one segment per camera from the left, sized as Quiltra sizes them when it opens the
// scanner from its sections of Quiltra.ini.
#pragma once

#include <string>
#include <vector>

#include "config/configuration_file.h"

namespace quiltra::tools {

// One camera of a scanner and its segment.
struct ScannerSegment {
    int port = -1;    // [<scanner>.CameraN] Port: the real camera port it grabs
    int columns = 0;  // output columns: the camera's Size_y / Pitch_y, rounded
    int rows = 0;     // output rows: the camera's Size_x / Pitch_x, rounded
    int camera = 0;   // the frame-stamp camera number expected in the segment; 0: unknown
    // The camera's field of its first calibration entry (the camera section), in field units.
    Point fieldSize;
    Point corner;  // y as below; x as the section names it, else the scanner's TopLeft_x
    // Whether corner.y is known from the file alone: camera 1 starts at the scanner's
    // TopLeft, a later camera only where its section names TopLeft_y (its default, the
    // running corner, adds the image width in pixels of the camera before).
    bool cornerYKnown = false;
};

struct ScannerLayout {
    std::string name;                      // the scanner's section, "Scanner0001"
    int scans = 1;                         // bands per final image
    int overlap = 0;                       // the band at which every cycle but the first starts
    int cameras = 1;                       // Cameras as read (outside 0..32 Quiltra refuses)
    Point pitch;                           // the scanner's Pitch: field units per pixel
    std::vector<ScannerSegment> segments;  // camera order, left to right

    // The final image's width: the segments side by side.
    int width() const;
    // A band's height: the tallest camera output.
    int bandHeight() const;
    // The column at which segment i starts.
    int segmentX(std::size_t i) const;
};

// Whether `section` names `key`, also with an empty value (which reads as the key's 0).
bool hasKey(const platform::ProfileReader& profile, const char* section, const char* key);

// Reads the layout of scanner `name` from Quiltra.ini in systemDir the way Quiltra builds
// the scanner: Cameras, Scans, Overlap, the camera sections' Port, and each camera's field
// Size (default: the scanner's Size_x and Size_y / Cameras) over the scanner's Pitch, and
// its TopLeft. A missing file or key gives Quiltra's defaults.
ScannerLayout readScannerLayout(const std::string& systemDir, const std::string& name);
ScannerLayout readScannerLayout(const platform::ProfileReader& profile, const std::string& name);

}  // namespace quiltra::tools

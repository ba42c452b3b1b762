// The command line of quiltra-calibrate: where the target images come from (files, or grabbed
// through a driver library's camera ports), the target, the cameras' nominal views, the pitch
// of the final image and which scanner of Quiltra.ini to write.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model_fit.h"
#include "target_corners.h"

namespace quiltra::calibrate {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,          // bad command line
    kExitGrab = 3,           // the images could not be grabbed or read
    kExitTooLittle = 4,      // a camera sees too little of the target
    kExitNoTiling = 5,       // the cameras' views do not tile the covered width
    kExitWrite = 6,          // a calibration file or Quiltra.ini could not be written
    kExitRefused = 7,        // check: a calibration file is refused
    kExitBadReferences = 8,  // flatfield: the images make no dark and flat references
};

struct GrabbedCamera {
    std::string name;
    int port = 0;
};

struct CalibrateOptions {
    std::vector<std::string> images;     // per camera, in order along y
    std::vector<GrabbedCamera> grabbed;  // or grabbed through the library
    std::string library;                 // empty: Quiltra beside the program
    std::string systemDir = ".";
    std::string grabDir = "out/calibrate";
    TargetBoard target;
    std::string units = "mm";
    std::vector<NominalView> views;  // per camera, or one: the others beside it
    double pitch = 0.0;              // 0: the first view's pitch
    std::string scanner = "Scanner0001";
    std::vector<int> ports;  // per camera; default the grabbed ports, or 0, 1, ...
    DistortionTerms distortion = DistortionTerms::tangential;
    double minCoverage = 0.5;
    int minCorners = 12;
    double margin = 2.0;
};

struct ParsedCommandLine {
    CalibrateOptions options;
    std::optional<int> exitCode;
};

// Parses argv; on a bad command line the exit code with the reason already printed.
ParsedCommandLine parseCommandLine(int argc, char** argv);

}  // namespace quiltra::calibrate

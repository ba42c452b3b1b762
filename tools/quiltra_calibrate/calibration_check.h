// `quiltra-calibrate check`: reads calibration files the way the resampler plug-in does and
// says, per file, what it holds or why the plug-in refuses it (the plug-in itself stays quiet
// and gives no resampler, so the camera's field comes out black).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quiltra::calibrate {

struct CheckRequest {
    std::vector<std::string> files;
    // The camera image the files are for, columns and rows; 0: not checked.
    int cameraColumns = 0;
    int cameraRows = 0;
};

// One line per file on `out`, its verdict first ("ok:" or "refused:"), then the file; returns
// kExitOk when every file is usable, kExitRefused otherwise.
int checkCalibrationFiles(const CheckRequest& request, std::ostream& out);

// argv after the word "check": [--camera COLUMNS,ROWS] FILE...; the exit code of the check,
// or kExitUsage with the reason on `err`.
int runCheckCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace quiltra::calibrate

// One run of quiltra-calibrate: the target images in, the calibration files and the scanner's
// sections of Quiltra.ini out, a report per camera on the way.
#pragma once

#include <ostream>

#include "calibrate_options.h"

namespace quiltra::calibrate {

// Runs everything; the exit code. Results go to out, reasons for failing to err.
int runCalibration(const CalibrateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quiltra::calibrate

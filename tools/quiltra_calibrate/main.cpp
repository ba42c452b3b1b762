// quiltra-calibrate: calibrates the cameras of a scanner from one image of the checkerboard
// target per camera, and writes the calibration files and the scanner's sections of
// Quiltra.ini. `quiltra-calibrate check FILE...` says why a calibration file is refused;
// `quiltra-calibrate flatfield --dark ... --flat ...` makes a camera's prefilter references.
#include <cstring>
#include <exception>
#include <iostream>

#include "calibrate_options.h"
#include "calibration_check.h"
#include "calibration_run.h"
#include "flat_field.h"

int main(int argc, char** argv) {
    using namespace quiltra::calibrate;
    if (argc > 1 && std::strcmp(argv[1], "check") == 0) {
        return runCheckCommand(argc - 1, argv + 1, std::cout, std::cerr);
    }
    if (argc > 1 && std::strcmp(argv[1], "flatfield") == 0) {
        return runFlatFieldCommand(argc - 1, argv + 1, std::cout, std::cerr);
    }
    const ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (parsed.exitCode) {
        return *parsed.exitCode;
    }
    try {
        return runCalibration(parsed.options, std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "quiltra-calibrate: error: " << error.what() << "\n";
        return kExitGrab;
    }
}

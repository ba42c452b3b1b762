// quiltra-calibrate: calibrates the cameras of a scanner from one image of the checkerboard
// target per camera, and writes the calibration files and the scanner's sections of
// Quiltra.ini.
#include <exception>
#include <iostream>

#include "calibrate_options.h"
#include "calibration_run.h"

int main(int argc, char** argv) {
    using namespace quiltra::calibrate;
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

#include "calibration_check.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "calibrate_options.h"
#include "calibration_file.h"

namespace quiltra::calibrate {

namespace {

// What a usable file holds, in one line.
std::string describe(const calibration::Model& model) {
    std::string text = "world units " + model.units + ", made for camera images of " +
                       std::to_string(model.imageColumns) + " x " +
                       std::to_string(model.imageRows) + " pixels, homography";
    bool distorted = false;
    for (double term : model.distortion) {
        distorted = distorted || term != 0.0;
    }
    return text + (distorted ? " and lens distortion" : ", no lens distortion");
}

}  // namespace

int checkCalibrationFiles(const CheckRequest& request, std::ostream& out) {
    int result = kExitOk;
    for (const std::string& file : request.files) {
        calibration::Model model;
        std::string error;
        if (!calibration::readFile(file, model, error)) {
            out << "refused: " << error << "\n";  // the reader's reason names the file
            result = kExitRefused;
            continue;
        }
        if (request.cameraColumns > 0 && (model.imageColumns != request.cameraColumns ||
                                          model.imageRows != request.cameraRows)) {
            out << "refused: '" << file << "': made for camera images of " << model.imageColumns
                << " x " << model.imageRows << " pixels, but the camera gives "
                << request.cameraColumns << " x " << request.cameraRows << "\n";
            result = kExitRefused;
            continue;
        }
        out << "ok: '" << file << "': " << describe(model) << "\n";
    }
    return result;
}

int runCheckCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "quiltra-calibrate check: reads calibration files as the resampler plug-in does and "
        "prints, per file, what it holds or why it is refused.\n"
        "Exit codes: 0 every file usable, 2 bad command line, 7 a file is refused."};
    app.name("quiltra-calibrate check");
    CheckRequest request;
    std::string camera;
    app.add_option("--camera", camera,
                   "COLUMNS,ROWS: the camera image the files are for (checks the size too)");
    app.add_option("files", request.files, "calibration files")->required();
    try {
        app.parse(argc, argv);
        if (!camera.empty()) {
            char rest = 0;
            if (std::sscanf(camera.c_str(), "%d,%d%c", &request.cameraColumns, &request.cameraRows,
                            &rest) != 2 ||
                request.cameraColumns <= 0 || request.cameraRows <= 0) {
                throw CLI::ValidationError("--camera", camera + " is not COLUMNS,ROWS above 0");
            }
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error, out, err) == 0 ? kExitOk : kExitUsage;
    }
    return checkCalibrationFiles(request, out);
}

}  // namespace quiltra::calibrate

#include "calibration_run.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "camera_calibration.h"
#include "console.h"
#include "field_tiling.h"
#include "grab_session.h"
#include "platform/private_profile.h"
#include "scene_check.h"

namespace quiltra::calibrate {

namespace {

struct Camera {
    std::string source;  // the image file
    GreyImage image;
    NominalView view;
    TargetCorners corners;
    FitResult fit;
};

std::string describe(int number, const Camera& camera) {
    return "camera " + std::to_string(number) + " (" + camera.source + ")";
}

// A number for Quiltra.ini: on the pitch grid where it should be, at most 9 significant
// digits, '.' whatever the locale.
std::string iniNumber(double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 9);
    return std::string(text, result.ptr);
}

std::string percent(double share) {
    return std::to_string(static_cast<int>(std::lround(share * 100.0))) + "%";
}

// The grabbed or given image files, in camera order.
bool imageFiles(const CalibrateOptions& options, std::vector<std::string>& files,
                std::ostream& err) {
    if (options.grabbed.empty()) {
        files = options.images;
        return true;
    }
    grab::GrabOptions grabbing;
    grabbing.library = options.library;
    grabbing.systemDir = options.systemDir;
    grabbing.outDir = options.grabDir;
    grabbing.count = 1;
    for (const GrabbedCamera& camera : options.grabbed) {
        grabbing.cameras.push_back({camera.name, camera.port});
    }
    std::error_code error;
    std::filesystem::create_directories(options.grabDir, error);
    grab::Console console(false);
    if (grab::GrabSession(grabbing, console).run() != grab::kExitOk) {
        err << "quiltra-calibrate: error: the target images could not be grabbed (see above)\n";
        return false;
    }
    for (const GrabbedCamera& camera : options.grabbed) {
        files.push_back((std::filesystem::path(options.grabDir) /
                         grab::GrabSession::imageFileName(camera.name, camera.port, 0))
                            .string());
    }
    return true;
}

// What a camera saw of the target, and whether that is enough for a model.
bool seesEnough(const CalibrateOptions& options, const TargetCorners& corners,
                std::string& reason) {
    if (!corners.failure.empty()) {
        reason = "finds no target: " + corners.failure;
        return false;
    }
    const bool enough = static_cast<int>(corners.corners.size()) >= options.minCorners &&
                        corners.rowsSpanned >= 3 && corners.columnsSpanned >= 3 &&
                        corners.widthCovered >= options.minCoverage &&
                        corners.heightCovered >= options.minCoverage;
    if (!enough) {
        reason = "sees too little of the target: " + std::to_string(corners.corners.size()) +
                 " corners in " + std::to_string(corners.rowsSpanned) + " rows and " +
                 std::to_string(corners.columnsSpanned) + " columns, spanning " +
                 percent(corners.widthCovered) + " of the image width and " +
                 percent(corners.heightCovered) + " of its height; needs at least " +
                 std::to_string(options.minCorners) + " corners in 3 rows and 3 columns spanning " +
                 percent(options.minCoverage) + " of the width and of the height";
    }
    return enough;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return static_cast<bool>(file);
}

bool writeIni(const CalibrateOptions& options, const std::vector<Field>& fields,
              const std::vector<std::string>& calibFiles, double pitch, const std::string& ini) {
    platform::ProfileEdit edit(ini.c_str());
    const char* scanner = options.scanner.c_str();
    const Field& first = fields.front();
    double width = 0.0;
    for (const Field& field : fields) {
        width += field.sizeY;
    }
    bool ok = edit.writeString(scanner, "Cameras", std::to_string(fields.size()).c_str());
    const std::pair<const char*, double> scannerKeys[] = {{"TopLeft_x", first.topLeftX},
                                                          {"TopLeft_y", first.topLeftY},
                                                          {"Size_x", first.sizeX},
                                                          {"Size_y", width},
                                                          {"Pitch_x", pitch},
                                                          {"Pitch_y", pitch}};
    for (const auto& [key, value] : scannerKeys) {
        ok = edit.writeString(scanner, key, iniNumber(value).c_str()) && ok;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string section = options.scanner + ".Camera" + std::to_string(i + 1);
        const int port = !options.ports.empty()     ? options.ports[i]
                         : !options.grabbed.empty() ? options.grabbed[i].port
                                                    : static_cast<int>(i);
        ok = edit.writeString(section.c_str(), "Port", std::to_string(port).c_str()) && ok;
        const std::pair<const char*, double> cameraKeys[] = {{"TopLeft_x", fields[i].topLeftX},
                                                             {"TopLeft_y", fields[i].topLeftY},
                                                             {"Size_x", fields[i].sizeX},
                                                             {"Size_y", fields[i].sizeY}};
        for (const auto& [key, value] : cameraKeys) {
            ok = edit.writeString(section.c_str(), key, iniNumber(value).c_str()) && ok;
        }
        ok = edit.writeString(section.c_str(), "CalibFile", calibFiles[i].c_str()) && ok;
        ok = edit.writeString(section.c_str(), "Angle", "0") && ok;
        // A chained entry from an earlier set-up would resample this camera once more.
        ok = edit.writeString((section + ".Calib1").c_str(), nullptr, nullptr) && ok;
    }
    return edit.commit() && ok;
}

}  // namespace

int runCalibration(const CalibrateOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    if (!imageFiles(options, files, err)) {
        return kExitGrab;
    }
    std::vector<Camera> cameras(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        Camera& camera = cameras[i];
        camera.source = files[i];
        std::string reason;
        if (!loadGreyImage(files[i], camera.image, reason)) {
            err << "quiltra-calibrate: error: " << describe(static_cast<int>(i) + 1, camera)
                << ": cannot read the image (" << reason << ")\n";
            return kExitGrab;
        }
        if (options.views.size() == cameras.size()) {
            camera.view = options.views[i];
        } else if (i == 0) {
            camera.view = options.views.front();
        } else {
            const Camera& left = cameras[i - 1];
            camera.view = left.view;
            camera.view.originY += left.image.width * left.view.pitch;
        }
    }
    int exitCode = kExitOk;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        Camera& camera = cameras[i];
        camera.corners = findTargetCorners(camera.image, options.target, camera.view);
        std::string reason;
        if (!seesEnough(options, camera.corners, reason)) {
            err << "quiltra-calibrate: error: " << describe(static_cast<int>(i) + 1, camera) << ": "
                << reason << "\n";
            exitCode = kExitTooLittle;
        }
    }
    if (exitCode != kExitOk) {
        return exitCode;
    }
    std::vector<CameraCalibration> calibrations;
    std::vector<WorldPoint> seen;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        Camera& camera = cameras[i];
        try {
            camera.fit = fitCamera(camera.corners.corners, camera.image.width, camera.image.height,
                                   options.distortion, options.units);
        } catch (const std::exception& error) {
            err << "quiltra-calibrate: error: " << describe(static_cast<int>(i) + 1, camera)
                << ": no model fits its corners (" << error.what() << ")\n";
            return kExitTooLittle;
        }
        const FitResult& fit = camera.fit;
        out << describe(static_cast<int>(i) + 1, camera) << ": " << fit.used << " corners in "
            << camera.corners.rowsSpanned << " rows and " << camera.corners.columnsSpanned
            << " columns";
        if (fit.dropped > 0) {
            out << " (" << fit.dropped << " more left out, more than 1 pixel off)";
        }
        out << "; reprojection error rms " << fit.rmsPixels << " px (" << fit.rmsWorld << " "
            << options.units << "), max " << fit.maxPixels << " px (" << fit.maxWorld << " "
            << options.units << ")\n";
        calibrations.push_back(fit.calibration);
        WorldPoint mean;
        for (const Correspondence& c : camera.corners.corners) {
            mean.x += c.world.x / static_cast<double>(camera.corners.corners.size());
            mean.y += c.world.y / static_cast<double>(camera.corners.corners.size());
        }
        seen.push_back(mean);
    }
    const double pitch = options.pitch > 0.0 ? options.pitch : cameras.front().view.pitch;
    const Tiling tiling = tileFields(calibrations, seen, pitch, options.margin);
    if (tiling.fields.empty()) {
        err << "quiltra-calibrate: error: the cameras' fields cannot tile the covered width at "
               "pitch "
            << pitch << " " << options.units << ": " << tiling.failure << "\n";
        return kExitNoTiling;
    }
    std::vector<std::string> calibFiles;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const std::string name = options.scanner + ".Camera" + std::to_string(i + 1) + ".cal";
        const std::string path = (std::filesystem::path(options.systemDir) / name).string();
        const std::string comment = "camera " + std::to_string(i + 1) +
                                    ", fitted by quiltra-calibrate to " +
                                    std::to_string(cameras[i].fit.used) + " target corners";
        if (!writeFile(path,
                       "# " + comment + "\n" + calibration::format(toModel(calibrations[i])))) {
            err << "quiltra-calibrate: error: " << describe(static_cast<int>(i) + 1, cameras[i])
                << ": cannot write " << path << "\n";
            return kExitWrite;
        }
        calibFiles.push_back(name);
        const Field& f = tiling.fields[i];
        out << describe(static_cast<int>(i) + 1, cameras[i]) << ": field at (" << f.topLeftX << ", "
            << f.topLeftY << ") " << options.units << ", " << f.sizeX << " x " << f.sizeY << " "
            << options.units << " (" << std::lround(f.sizeX / pitch) << " x "
            << std::lround(f.sizeY / pitch) << " pixels); " << path << "\n";
    }
    const std::string ini = (std::filesystem::path(options.systemDir) / "Quiltra.ini").string();
    if (!writeIni(options, tiling.fields, calibFiles, pitch, ini)) {
        err << "quiltra-calibrate: error: cannot write the [" << options.scanner << "] sections of "
            << ini << "\n";
        return kExitWrite;
    }
    out << "wrote [" << options.scanner << "] and its camera sections to " << ini << "\n";
    return kExitOk;
}

}  // namespace quiltra::calibrate

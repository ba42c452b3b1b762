#include "calibrate_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>

#include "grab_options.h"

namespace quiltra::calibrate {

namespace {

// "X,Y,PITCH" into a view; nothing when malformed or the pitch is not positive.
std::optional<NominalView> parseView(const std::string& text) {
    NominalView view;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%lf,%lf,%lf%c", &view.originX, &view.originY, &view.pitch,
                    &rest) != 3 ||
        !(view.pitch > 0.0)) {
        return std::nullopt;
    }
    return view;
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    ParsedCommandLine parsed;
    CalibrateOptions& o = parsed.options;
    CLI::App app{
        "quiltra-calibrate: fits each camera's model to one image of the checkerboard target, "
        "writes one calibration file per camera and the scanner's sections of Quiltra.ini so "
        "that the cameras' fields tile the covered width at the chosen pitch.\n"
        "The target's outer corner is at world (0, 0), x down the image rows; each camera's "
        "nominal view (--view) must put its image centre within half a square of where it "
        "really looks.\n"
        "Exit codes: 0 done, 2 bad command line, 3 images not grabbed or read, 4 a camera sees "
        "too little of the target, 5 the views do not tile, 6 a file could not be written.\n"
        "`quiltra-calibrate check [--camera COLUMNS,ROWS] FILE...` says whether calibration "
        "files are usable, and why not; `quiltra-calibrate flatfield --dark IMAGE... --flat "
        "IMAGE... [--camera N]` makes a camera's dark and flat references for the prefilter."};
    app.add_option("--image", o.images,
                   "PNG/PGM image of the target, one per camera in order along y (repeatable)");
    std::vector<std::string> grabs;
    app.add_option(
        "--grab", grabs,
        "NAME@PORT: grab camera NAME on PORT through --library instead of --image (repeatable)");
    app.add_option("--library", o.library,
                   "driver library for --grab (default: Quiltra beside the program)");
    app.add_option(
           "--system-dir", o.systemDir,
           "system folder: Quiltra.ini is updated and the calibration files are written there")
        ->capture_default_str();
    app.add_option("--grab-dir", o.grabDir, "where the grabbed images are kept")
        ->capture_default_str();
    app.add_option("--square", o.target.square, "target square size in world units")
        ->required()
        ->check(CLI::PositiveNumber);
    app.add_option("--rows", o.target.rows, "target squares down (along x)")
        ->required()
        ->check(CLI::Range(2, 100000));
    app.add_option("--columns", o.target.columns, "target squares across (along y)")
        ->required()
        ->check(CLI::Range(2, 100000));
    app.add_option("--units", o.units, "name of the world unit (1 to 15 letters)")
        ->capture_default_str();
    std::vector<std::string> views;
    app.add_option("--view", views,
                   "X,Y,PITCH: a camera's nominal view, the world point of its image's top-left "
                   "corner and world units per pixel (one per camera, or one for the first and "
                   "the others side by side along y)")
        ->required();
    app.add_option("--pitch", o.pitch,
                   "final image pitch in world units per pixel (default: the first view's)")
        ->check(CLI::PositiveNumber);
    app.add_option("--scanner", o.scanner, "scanner section to write")->capture_default_str();
    app.add_option(
        "--port", o.ports,
        "Quiltra port of each camera, in camera order (default: the --grab ports, or 0, 1, ...)");
    const std::map<std::string, DistortionTerms> terms{{"none", DistortionTerms::none},
                                                       {"radial", DistortionTerms::radial},
                                                       {"tangential", DistortionTerms::tangential},
                                                       {"full", DistortionTerms::full}};
    app.add_option(
           "--distortion", o.distortion,
           "lens terms fitted: none, radial (k1 k2), tangential (k1 k2 p1 p2), full (and k3)")
        ->transform(CLI::CheckedTransformer(terms, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("--min-coverage", o.minCoverage,
                   "share of the image width and height the found corners must span")
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    app.add_option("--margin", o.margin, "pixels kept free at each image border")
        ->check(CLI::Range(0.0, 100.0))
        ->capture_default_str();
    try {
        app.parse(argc, argv);
        for (const std::string& text : grabs) {
            const auto request = grab::parsePortRequest(text);
            if (!request) {
                throw CLI::ValidationError("--grab", text + " is not NAME@PORT");
            }
            o.grabbed.push_back({request->name, request->port});
        }
        for (const std::string& text : views) {
            const auto view = parseView(text);
            if (!view) {
                throw CLI::ValidationError("--view",
                                           text + " is not X,Y,PITCH with a positive pitch");
            }
            o.views.push_back(*view);
        }
        const std::size_t cameras = o.images.size() + o.grabbed.size();
        if (o.images.empty() == o.grabbed.empty()) {
            throw CLI::ValidationError("--image/--grab",
                                       "give either --image or --grab per camera");
        }
        if (o.views.size() != 1 && o.views.size() != cameras) {
            throw CLI::ValidationError(
                "--view", "give one view, or one per camera (" + std::to_string(cameras) + ")");
        }
        if (!o.ports.empty() && o.ports.size() != cameras) {
            throw CLI::ValidationError(
                "--port", "give one port per camera (" + std::to_string(cameras) + ")");
        }
        const bool unitsOk =
            !o.units.empty() && o.units.size() <= 15 &&
            o.units.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") ==
                std::string::npos;
        if (!unitsOk) {
            throw CLI::ValidationError("--units", o.units + " is not 1 to 15 letters");
        }
    } catch (const CLI::ParseError& error) {
        parsed.exitCode = app.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    return parsed;
}

}  // namespace quiltra::calibrate

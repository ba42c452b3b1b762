#include "config_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "layout_picture.h"
#include "tool_system.h"

namespace quiltra::config_check {

namespace {

const char* severityName(Severity severity) {
    return severity == Severity::error ? "error" : "warning";
}

std::string where(const Problem& problem) {
    std::string text;
    if (!problem.section.empty() || !problem.key.empty()) {
        text = problem.section.empty() ? "(before the first section)" : "[" + problem.section + "]";
        if (!problem.key.empty()) {
            text += " " + problem.key;
        }
        text += ": ";
    }
    return text;
}

std::string plural(int count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

void printText(const CheckReport& report, std::ostream& out) {
    for (const Problem& problem : report.problems) {
        out << report.file << ": " << severityName(problem.severity) << ": " << where(problem)
            << problem.message << "\n";
    }
    for (const ScannerGeometry& scanner : report.scanners) {
        out << scanner.name << ": " << plural(static_cast<int>(scanner.cameras.size()), "camera")
            << "\n";
        for (const CameraGeometry& camera : scanner.cameras) {
            out << "  [" << camera.section << "] port " << camera.port << ": " << camera.rows
                << " rows x " << camera.columns << " columns from column " << camera.x << "\n";
        }
        out << "  band " << scanner.bandHeight << " rows, " << plural(scanner.scans, "scan") << " ("
            << scanner.overlap << " kept by Overlap): final image " << scanner.width << " x "
            << scanner.height << " pixels, " << plural(scanner.bytesPerPixel, "byte")
            << " per pixel"
            << (scanner.bytesPerPixelAssumed
                    ? " (assumed: the driver's PixelSize is not known; give --pixel-size)"
                    : "");
        char bytes[96];
        std::snprintf(bytes, sizeof bytes, ", %.0f bytes (%.1f MB)\n", scanner.bytes,
                      scanner.bytes / 1000000.0);
        out << bytes;
    }
    out << report.file << ": " << plural(report.count(Severity::error), "error") << ", "
        << plural(report.count(Severity::warning), "warning") << "\n";
}

void printJson(const CheckReport& report, std::ostream& out) {
    nlohmann::json json;
    json["file"] = report.file;
    json["errors"] = report.count(Severity::error);
    json["warnings"] = report.count(Severity::warning);
    json["problems"] = nlohmann::json::array();
    for (const Problem& problem : report.problems) {
        json["problems"].push_back({{"severity", severityName(problem.severity)},
                                    {"section", problem.section},
                                    {"key", problem.key},
                                    {"message", problem.message}});
    }
    json["scanners"] = nlohmann::json::array();
    for (const ScannerGeometry& scanner : report.scanners) {
        nlohmann::json cameras = nlohmann::json::array();
        for (const CameraGeometry& camera : scanner.cameras) {
            cameras.push_back({{"section", camera.section},
                               {"port", camera.port},
                               {"rows", camera.rows},
                               {"columns", camera.columns},
                               {"x", camera.x},
                               {"fieldOverlap", camera.fieldOverlap}});
        }
        json["scanners"].push_back({{"name", scanner.name},
                                    {"cameras", cameras},
                                    {"scans", scanner.scans},
                                    {"overlap", scanner.overlap},
                                    {"bandHeight", scanner.bandHeight},
                                    {"width", scanner.width},
                                    {"height", scanner.height},
                                    {"bytesPerPixel", scanner.bytesPerPixel},
                                    {"bytesPerPixelAssumed", scanner.bytesPerPixelAssumed},
                                    {"bytes", scanner.bytes}});
    }
    out << json.dump(2) << "\n";
}

int runConfigCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "quiltra-config: checks Quiltra's configuration.\n"
        "Exit codes: 0 no error (warnings may be listed), 1 the configuration has errors, 2 bad "
        "command line or the picture could not be written."};
    app.name("quiltra-config");
    app.require_subcommand(1);
    CLI::App* check = app.add_subcommand(
        "check",
        "reads SYSTEM_FOLDER/Quiltra.ini as Quiltra does and reports every problem (section, "
        "key, reason, what to do) and each scanner's final image");
    CheckOptions options;
    options.loaderFolder = defaultLoaderFolder();
    options.physicalMemory = physicalMemoryBytes();
    std::string picture;
    bool json = false;
    check
        ->add_option("SYSTEM_FOLDER", options.systemFolder,
                     "the host's system folder, which holds Quiltra.ini")
        ->required();
    check->add_option("--picture", picture,
                      "FILE.png: draws each scanner's final image (bands, segments, cameras)");
    check->add_flag("--json", json, "prints the report as JSON");
    check
        ->add_option("--pixel-size", options.pixelBits,
                     "BITS: the cameras' PixelSize as the driver reports it (8 grey, 24 colour); "
                     "default: unknown, 1 byte per pixel assumed")
        ->check(CLI::Range(1, 64));
    check
        ->add_option("--loader-dir", options.loaderFolder,
                     "DIR: the folder where the loader looks first for a library named without "
                     "a folder: that of libquiltra.so on Linux, the host program's on Windows; "
                     "default: that of libquiltra.so beside quiltra-config or installed with it")
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error, out, err) == 0 ? kExitOk : kExitUsage;
    }
    const CheckReport report = checkConfiguration(options);
    if (json) {
        printJson(report, out);
    } else {
        printText(report, out);
    }
    if (!picture.empty()) {
        if (report.scanners.empty()) {
            err << "quiltra-config: no picture: " << report.file << " has no scanner section\n";
            return kExitUsage;
        }
        if (!writePicture(drawLayout(report.scanners), picture)) {
            err << "quiltra-config: could not write the picture " << picture << "\n";
            return kExitUsage;
        }
    }
    return report.exitCode();
}

}  // namespace quiltra::config_check

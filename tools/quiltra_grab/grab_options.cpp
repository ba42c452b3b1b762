#include "grab_options.h"

#include <CLI/CLI.hpp>
#include <charconv>

namespace quiltra::grab {

namespace {

std::optional<int> parseNumber(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || last != end) {
        return std::nullopt;
    }
    return value;
}

constexpr const char* kFooter =
    R"(Ports: a real camera's images are saved when no scanner is opened; with --scanner the
scanners are grabbed and their final images saved. Images are named
<name>_port<P>_<index>.png (index from 0000) in the --out folder. --verify checks a final
image segment by segment, with the bands and segments of the scanner's Quiltra.ini sections.

Exit codes: 0 all images saved (read, with --no-save); 2 bad command line; 3 library not loaded or not initialised;
4 a port could not be opened or a property was refused; 5 a grab was refused; 6 no image
within --timeout-ms; 7 an image could not be read, saved or verified; 130 interrupted
(Ctrl-C) - the images so far are kept.)";

}  // namespace

std::optional<PortRequest> parsePortRequest(const std::string& text) {
    const std::size_t at = text.rfind('@');
    if (at == std::string::npos || at == 0) {
        return std::nullopt;
    }
    const auto port = parseNumber(text.substr(at + 1));
    if (!port || *port < 0) {
        return std::nullopt;
    }
    return PortRequest{text.substr(0, at), *port};
}

std::optional<PropertyRequest> parsePropertyRequest(const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::size_t equals = text.find('=', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || equals == std::string::npos || equals == colon + 1) {
        return std::nullopt;
    }
    const auto port = parseNumber(text.substr(0, colon));
    const auto value = parseNumber(text.substr(equals + 1));
    if (!port || *port < 0 || !value) {
        return std::nullopt;
    }
    return PropertyRequest{*port, text.substr(colon + 1, equals - colon - 1), *value};
}

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    ParsedCommandLine parsed;
    GrabOptions& options = parsed.options;
    CLI::App app{
        "quiltra-grab: loads a camera driver library as a host application does (Quiltra by "
        "default), opens camera and scanner ports, grabs images and saves them as PNG files."};
    app.footer(kFooter);
    std::vector<std::string> cameras;
    std::vector<std::string> scanners;
    std::vector<std::string> properties;
    app.add_option("--library", options.library,
                   "camera driver library to load (default: the Quiltra library beside this "
                   "program)");
    app.add_option("--system-dir", options.systemDir,
                   "system folder handed to initialize; holds Quiltra.ini")
        ->capture_default_str();
    auto* cameraOption =
        app.add_option("--camera", cameras, "NAME@PORT: open camera NAME on PORT (repeatable)");
    app.add_option("--ports", options.ports,
                   "open the first N cameras of the driver's list on ports 0..N-1 (default: all "
                   "cameras that are not scanners)")
        ->check(CLI::Range(1, 128))
        ->excludes(cameraOption);
    app.add_option("--scanner", scanners,
                   "NAME@PORT: open scanner NAME on PORT after the cameras and grab it "
                   "(repeatable)");
    app.add_option("--set", properties,
                   "PORT:NAME=VALUE: set a property of an opened port before grabbing "
                   "(repeatable)");
    app.add_option("--count", options.count, "images to grab per port")
        ->check(CLI::Range(1, 100000000))
        ->capture_default_str();
    app.add_option("--timeout-ms", options.timeoutMs, "longest wait for one image")
        ->check(CLI::Range(1, 3600000))
        ->capture_default_str();
    auto* out =
        app.add_option("--out", options.outDir, "folder for the PNG files")->capture_default_str();
    auto* quiet = app.add_flag("--quiet", options.quiet,
                               "print only errors and the summary (no progress, no file list)");
    app.add_flag("--progress", options.progress, "show progress even when not on a terminal")
        ->excludes(quiet);
    app.add_flag("--verify", options.verify,
                 "check the simulated cameras' frame stamps: no image lost, repeated or "
                 "misplaced");
    app.add_flag("--no-save", options.noSave,
                 "read every image but write no PNG file: the grab rate without the encoding")
        ->excludes(out);
    app.add_flag("--list", options.listOnly, "list the driver's cameras and ports, then stop");
    try {
        app.parse(argc, argv);
        for (const std::string& text : cameras) {
            auto request = parsePortRequest(text);
            if (!request) {
                throw CLI::ValidationError("--camera", "expected NAME@PORT, got '" + text + "'");
            }
            options.cameras.push_back(*request);
        }
        for (const std::string& text : scanners) {
            auto request = parsePortRequest(text);
            if (!request) {
                throw CLI::ValidationError("--scanner", "expected NAME@PORT, got '" + text + "'");
            }
            options.scanners.push_back(*request);
        }
        for (const std::string& text : properties) {
            auto request = parsePropertyRequest(text);
            if (!request) {
                throw CLI::ValidationError("--set", "expected PORT:NAME=VALUE, got '" + text + "'");
            }
            options.properties.push_back(*request);
        }
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        parsed.exitCode = code == 0 ? kExitOk : kExitUsage;
    }
    return parsed;
}

}  // namespace quiltra::grab

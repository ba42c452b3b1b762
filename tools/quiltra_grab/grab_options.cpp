#include "grab_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
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

Properties and commands: --set, --get and --cmd run on opened ports (scanners too) in the
order given, before grabbing; those that follow --after N run once after the N-th image of
every grabbed port, those that follow --every K after every K-th image. For example
  --get 3:Width --every 2 --cmd "3:get value=imageStatus" --after 4 --set 3:Calib=1

Exit codes: 0 all images saved (read, with --no-save); 2 bad command line; 3 library not
loaded or not initialised; 4 a port could not be opened, or a property or command was
refused; 5 a grab was refused; 6 no image within --timeout-ms; 7 an image could not be read,
saved or verified; 130 interrupted (Ctrl-C) - the images so far are kept.)";

// The options that make up the control groups, in the order readControls is given them.
enum ControlOption : std::size_t {
    kSetOption,
    kGetOption,
    kCommandOption,
    kAfterOption,
    kEveryOption
};

// Splits the uses of --set, --get, --cmd, --after and --every into groups, in command-line
// order.
void readControls(const CLI::App& app, const std::vector<CLI::Option*>& control,
                  GrabOptions& options) {
    options.controls.assign(1, ControlGroup{});
    std::vector<std::size_t> used(control.size(), 0);
    for (const CLI::Option* option : app.parse_order()) {
        const auto found = std::find(control.begin(), control.end(), option);
        if (found == control.end()) {
            continue;
        }
        const auto which = static_cast<std::size_t>(found - control.begin());
        const std::string& text = option->results().at(used[which]++);
        const std::string name = option->get_name();
        if (which == kAfterOption || which == kEveryOption) {
            const auto images = parseNumber(text);
            if (!images || *images < 1) {
                throw CLI::ValidationError(
                    name, "expected a number of images from 1, got '" + text + "'");
            }
            if (which == kAfterOption && *images > options.count) {
                throw CLI::ValidationError(
                    name, "image " + text + " is beyond --count " + std::to_string(options.count));
            }
            ControlGroup group;
            (which == kAfterOption ? group.after : group.every) = *images;
            options.controls.push_back(group);
            continue;
        }
        const std::optional<ControlRequest> request =
            which == kSetOption   ? parsePropertyRequest(text)
            : which == kGetOption ? parseGetRequest(text)
                                  : parseCommandRequest(text);
        if (!request) {
            const char* expected = which == kSetOption   ? "PORT:NAME=VALUE"
                                   : which == kGetOption ? "PORT:NAME"
                                                         : "PORT:COMMAND or PORT:COMMAND ARGUMENTS";
            throw CLI::ValidationError(
                name, std::string("expected ") + expected + ", got '" + text + "'");
        }
        options.controls.back().requests.push_back(*request);
    }
}

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

std::optional<ControlRequest> parsePropertyRequest(const std::string& text) {
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
    return ControlRequest{ControlRequest::Kind::set, *port,
                          text.substr(colon + 1, equals - colon - 1), *value, ""};
}

std::optional<ControlRequest> parseGetRequest(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
        return std::nullopt;
    }
    const auto port = parseNumber(text.substr(0, colon));
    if (!port || *port < 0) {
        return std::nullopt;
    }
    return ControlRequest{ControlRequest::Kind::get, *port, text.substr(colon + 1), 0, ""};
}

std::optional<ControlRequest> parseCommandRequest(const std::string& text) {
    std::optional<ControlRequest> request = parseGetRequest(text);
    if (!request) {
        return std::nullopt;
    }
    request->kind = ControlRequest::Kind::command;
    const std::size_t space = request->name.find(' ');
    if (space == 0) {
        return std::nullopt;  // no command before the arguments
    }
    if (space != std::string::npos) {
        request->arguments = request->name.substr(space + 1);
        request->name.erase(space);
    }
    return request;
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
    std::vector<std::string> sets;
    std::vector<std::string> gets;
    std::vector<std::string> commands;
    std::vector<std::string> afters;
    std::vector<std::string> everys;
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
    // Each of these takes one value per use, so that their order on the command line is kept.
    auto* setOption = app.add_option("--set", sets,
                                     "PORT:NAME=VALUE: set a property of an opened port, before "
                                     "grabbing or, after --after/--every, between images "
                                     "(repeatable)")
                          ->allow_extra_args(false);
    auto* getOption = app.add_option("--get", gets,
                                     "PORT:NAME: print a property of an opened port (repeatable; "
                                     "when: as --set)")
                          ->allow_extra_args(false);
    auto* commandOption =
        app.add_option("--cmd", commands,
                       "PORT:COMMAND or \"PORT:COMMAND ARGUMENTS\": run a command on an opened "
                       "port (execCmd) and print its result and reply (repeatable; when: as "
                       "--set)")
            ->allow_extra_args(false);
    auto* afterOption = app.add_option("--after", afters,
                                       "N: the --set, --get and --cmd that follow run once, after "
                                       "the N-th image of every grabbed port")
                            ->allow_extra_args(false);
    auto* everyOption = app.add_option("--every", everys,
                                       "K: the --set, --get and --cmd that follow run after every "
                                       "K-th image of every grabbed port")
                            ->allow_extra_args(false);
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
        readControls(app, {setOption, getOption, commandOption, afterOption, everyOption}, options);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        parsed.exitCode = code == 0 ? kExitOk : kExitUsage;
    }
    return parsed;
}

}  // namespace quiltra::grab

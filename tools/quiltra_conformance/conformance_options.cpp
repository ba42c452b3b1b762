#include "conformance_options.h"

#include <CLI/CLI.hpp>

namespace quiltra::conformance {

namespace {

std::string footer() {
    std::string text = "Checks, in the order they run (required ones fail the run):\n";
    for (const CheckInfo& check : checkCatalogue()) {
        text += "  " + std::string(check.name) + (check.required ? "" : " (advisory)") + ": " +
                check.summary + "\n";
    }
    text +=
        "The checked camera is opened on grabber 0, port 0, the second camera of two-ports on "
        "port 1.\n"
        "A check that cannot run because an earlier one failed is skipped, naming it.\n\n"
        "Exit codes: 0 no required check failed; 1 a required check failed, or a driver call "
        "did not return within --timeout-ms; 2 bad command line; 3 the library could not be "
        "loaded.";
    return text;
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    ParsedCommandLine parsed;
    CommandLine& line = parsed.commandLine;
    ConformanceOptions& options = line.options;
    CLI::App app{
        "quiltra-conformance: checks a camera driver library against what Quiltra relies on "
        "when it is the underlying driver, and prints one line per check."};
    app.footer(footer());
    app.add_option("DRIVER_LIBRARY", options.library,
                   "the driver library file (passed to the loader as written)")
        ->required();
    app.add_flag("--json", line.json, "print the results as JSON instead of a table");
    app.add_option("--system-folder", options.systemFolder,
                   "the folder handed to the driver's initialize")
        ->capture_default_str();
    app.add_option("--camera", options.cameras,
                   "NAME: the camera to check (default: the driver's first); given twice, the "
                   "second is the other camera of two-ports")
        ->expected(0, 2)
        ->allow_extra_args(false);
    app.add_option("--timeout-ms", options.timeoutMs,
                   "longest wait for one image, and for one driver call to return")
        ->check(CLI::Range(1, 3600000))
        ->capture_default_str();
    app.add_option("--quiet-ms", options.quietMs,
                   "how long to watch for completions that should not come")
        ->check(CLI::Range(1, 600000))
        ->capture_default_str();
    app.add_option("--grabs", options.grabs, "grabs of one-completion-per-grab")
        ->check(CLI::Range(1, 10000))
        ->capture_default_str();
    app.add_flag("--quiet", line.quiet,
                 "leave out the driver's debug messages (otherwise on standard error, each "
                 "line beginning \"driver: \")");
    try {
        app.parse(argc, argv);
        if (options.cameras.size() > 2) {
            throw CLI::ValidationError("--camera", "at most two cameras");
        }
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        parsed.exitCode = code == 0 ? kExitConforms : kExitUsage;
    }
    return parsed;
}

}  // namespace quiltra::conformance

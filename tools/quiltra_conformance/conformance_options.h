// The command line of quiltra-conformance.
#pragma once

#include <optional>

#include "conformance.h"

namespace quiltra::conformance {

struct CommandLine {
    ConformanceOptions options;
    bool json = false;
    bool quiet = false;  // leave out the driver's debug messages
};

// Parses argv. Returns the command line, or an exit code (0 after --help, kExitUsage for a bad
// command line) with CLI11's message already printed.
struct ParsedCommandLine {
    CommandLine commandLine;
    std::optional<int> exitCode;
};
ParsedCommandLine parseCommandLine(int argc, char** argv);

}  // namespace quiltra::conformance

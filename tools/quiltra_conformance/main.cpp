// quiltra-conformance: checks that a camera driver library gives Quiltra what it relies on
// when Quiltra loads it as the underlying driver. See docs/drivers.md.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conformance.h"
#include "conformance_options.h"

int main(int argc, char** argv) {
    using namespace quiltra::conformance;
    ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (parsed.exitCode) {
        return *parsed.exitCode;
    }
    CommandLine& line = parsed.commandLine;
    if (!line.quiet) {
        line.options.debugMessages = [](const std::string& text) {
            std::string message = "driver: " + text;
            if (message.empty() || message.back() != '\n') {
                message += '\n';
            }
            std::fputs(message.c_str(), stderr);
        };
    }
    const ConformanceReport report = runConformance(line.options);
    const std::string text = line.json ? formatJson(report) : formatTable(report);
    std::fputs(text.c_str(), report.loaded || line.json ? stdout : stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    const int code = exitCodeOf(report);
    if (report.abandoned) {
        // A thread is still inside the driver: unloading it now could crash the program.
        std::_Exit(code);
    }
    return code;
}

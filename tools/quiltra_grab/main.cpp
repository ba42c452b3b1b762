// quiltra-grab: a command-line host for camera driver libraries. It loads Quiltra (or any
// driver with the sixteen entry points) as a host application does, grabs images of the
// requested cameras or scanners and saves them as PNG files.
#include <csignal>
#include <exception>
#include <string>

#include "console.h"
#include "grab_options.h"
#include "grab_session.h"

namespace {

extern "C" void onInterrupt(int) {
    quiltra::grab::GrabSession::requestStop();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quiltra::grab;
    ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (parsed.exitCode) {
        return *parsed.exitCode;
    }
    const GrabOptions& options = parsed.options;
    std::signal(SIGINT, onInterrupt);
    Console console(!options.quiet && (options.progress || standardErrorIsTerminal()));
    try {
        GrabSession session(options, console);
        return session.run();
    } catch (const std::exception& error) {
        console.err(std::string("quiltra-grab: error: ") + error.what());
        return kExitImage;
    }
}

// The command line of quiltra-grab: which driver library and system folder, which cameras
// and scanners on which ports, how many images, where to put them (or only read them).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quiltra::grab {

// Exit codes, also listed by --help.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,          // bad command line
    kExitLibrary = 3,        // library not loaded, entry missing, initialize failed
    kExitOpen = 4,           // a port could not be opened, or a property or command refused
    kExitGrabRefused = 5,    // doCVLGrab did not answer 1
    kExitTimeout = 6,        // no image within the time limit
    kExitImage = 7,          // an image could not be read, saved or verified
    kExitInterrupted = 130,  // stopped by Ctrl-C (SIGINT)
};

// A camera or scanner name and the port to open it on ("SimCam1@0").
struct PortRequest {
    std::string name;
    int port = 0;
};

// "NAME@PORT" into a request; nothing when it is malformed.
std::optional<PortRequest> parsePortRequest(const std::string& text);

// A property to set or read, or a command to run, on an opened port: --set
// "PORT:NAME=VALUE", --get "PORT:NAME", --cmd "PORT:COMMAND" or "PORT:COMMAND ARGUMENTS"
// (the arguments are all that follows the first space after the command, as written).
struct ControlRequest {
    enum class Kind { set, get, command };
    Kind kind = Kind::set;
    int port = 0;
    std::string name;       // the property or the command
    int value = 0;          // set
    std::string arguments;  // command
};
std::optional<ControlRequest> parsePropertyRequest(const std::string& text);
std::optional<ControlRequest> parseGetRequest(const std::string& text);
std::optional<ControlRequest> parseCommandRequest(const std::string& text);

// Requests in command-line order and when they run: before grabbing (the requests before any
// --after or --every), once after the `after`-th image of every grabbed port, or after every
// `every`-th one.
struct ControlGroup {
    int after = 0;
    int every = 0;
    std::vector<ControlRequest> requests;

    bool beforeGrabbing() const { return after == 0 && every == 0; }
    // Whether the group runs once `images` images of every grabbed port are in.
    bool runsAfter(int images) const {
        return images > 0 && (images == after || (every > 0 && images % every == 0));
    }
};

struct GrabOptions {
    std::string library;  // empty: the Quiltra library beside the program
    std::string systemDir = ".";
    std::vector<PortRequest> cameras;
    int ports = -1;  // open the first n cameras of the list on ports 0..n-1 (-1: all of them)
    std::vector<PortRequest> scanners;
    std::vector<ControlGroup> controls;  // the first group runs before grabbing
    int count = 1;
    int timeoutMs = 5000;
    std::string outDir = "out/grab";
    bool quiet = false;
    bool progress = false;  // forced on; otherwise on when standard error is a terminal
    bool verify = false;
    bool noSave = false;  // read every image, write no file
    bool listOnly = false;
};

// Parses argv. Returns the options, or an exit code (0 after --help) with CLI11's message
// already printed.
struct ParsedCommandLine {
    GrabOptions options;
    std::optional<int> exitCode;
};
ParsedCommandLine parseCommandLine(int argc, char** argv);

}  // namespace quiltra::grab

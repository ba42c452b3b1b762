// quiltra-conformance: checks an underlying camera driver library against what Quiltra relies
// on. Each check is one function; runConformance runs them in order on a worker thread that a
// watchdog abandons when the driver does not return from a call, so no driver hangs the run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quiltra::conformance {

// Exit codes of the program, also listed by --help and in docs/drivers.md.
enum ExitCode : int {
    kExitConforms = 0,        // every required check passed (or was skipped, see below)
    kExitRequiredFailed = 1,  // a required check failed
    kExitUsage = 2,           // bad command line
    kExitNotLoadable = 3,     // the library could not be loaded
};

struct ConformanceOptions {
    std::string library;             // the driver library file, handed to the loader as written
    std::string systemFolder = ".";  // handed to the driver's initialize
    // The cameras to check: the first for the single-port checks, the second for two-ports.
    // Empty: the first (and second) name of the driver's list.
    std::vector<std::string> cameras;
    int timeoutMs = 5000;  // longest wait for one image, and for one driver call to return
    int quietMs = 300;     // how long no further completion may come before "none came"
    int grabs = 5;         // grabs of one-completion-per-grab
    // Receives the driver's debug messages, on any thread (null: dropped).
    std::function<void(const std::string&)> debugMessages;
};

enum class Outcome { pass, fail, skip };
const char* outcomeName(Outcome outcome);  // "pass", "fail", "skip"

struct CheckResult {
    std::string check;  // the check's name, as in the catalogue
    Outcome result = Outcome::skip;
    // Whether a failure fails the run. From the catalogue; a check that cannot tell on this
    // driver's set-up (too short an exposure, one camera) reports an advisory skip.
    bool required = true;
    std::string reason;  // one line: camera and port, what was seen against what was expected
};

struct CheckInfo {
    const char* name;
    bool required;
    const char* summary;  // what Quiltra relies on, for --help and the docs
};
// Every check, in the order they run.
const std::vector<CheckInfo>& checkCatalogue();

struct ConformanceReport {
    bool loaded = false;  // false: loadError says why, and no check ran
    std::string loadError;
    std::vector<CheckResult> results;  // one per catalogue entry, in its order
    std::string finishNote;            // the driver hung while the checker closed up
    // A driver call did not return within the timeout: the run stopped there, the worker
    // thread was left inside the driver, and the library must stay loaded (a program should
    // end with std::_Exit rather than unload it).
    bool abandoned = false;
};

// Runs every check against options.library. One run at a time per process (the driver's
// callbacks carry no context, so they reach a process-wide record); a second concurrent call
// waits for the first.
ConformanceReport runConformance(const ConformanceOptions& options);

// kExitNotLoadable; kExitRequiredFailed when a required check failed or the run was
// abandoned; else kExitConforms (advisory failures and skips do not count).
int exitCodeOf(const ConformanceReport& report);

// The report as a table (check, required/advisory, result, reason), one line per check, and a
// summary line.
std::string formatTable(const ConformanceReport& report);
// The report as JSON: {"checks": [{"check", "result", "required", "reason"}...], "summary":
// {...}}.
std::string formatJson(const ConformanceReport& report);

}  // namespace quiltra::conformance

#include "conformance.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "checks.h"
#include "console.h"

namespace quiltra::conformance {

namespace {

// One run, shared by the caller's thread (the watchdog) and the worker that runs the checks.
// When the watchdog abandons the worker inside the driver, the worker keeps the run (and so
// the loaded library) alive for as long as it lives.
struct Run {
    Run(std::unique_ptr<tools::DriverLibrary> library, const ConformanceOptions& runOptions)
        : options(runOptions), session(std::move(library)), state(session, options) {}

    const ConformanceOptions options;
    DriverSession session;
    CheckState state;  // the worker's only

    std::mutex mutex;  // guards everything below
    std::condition_variable finished;
    std::vector<CheckResult> results;  // of the checks done so far
    bool done = false;                 // the worker is through, the driver finalized
    bool abandoned = false;            // the watchdog gave up on the worker
};

void runChecks(const std::shared_ptr<Run>& run) {
    for (const CheckEntry& entry : checkEntries()) {
        CheckResult result;
        try {
            result = entry.run(run->state);
        } catch (const std::exception& error) {
            result.result = Outcome::fail;
            result.reason = std::string("the check stopped: ") + error.what();
        }
        result.check = entry.info.name;
        result.required = entry.info.required && result.required;
        std::lock_guard lock(run->mutex);
        if (run->abandoned) {
            return;
        }
        run->results.push_back(std::move(result));
    }
    finishSession(run->state);
    std::lock_guard lock(run->mutex);
    run->done = true;
    run->finished.notify_all();
}

// Fills in the check that is stuck and skips the rest.
void abandon(Run& run, const char* entry, ConformanceReport& report) {
    const auto& entries = checkEntries();
    std::lock_guard lock(run.mutex);
    run.abandoned = true;
    report.results = run.results;
    const std::string stuck =
        grab::format("%s did not return within %d ms", entry, run.options.timeoutMs);
    if (report.results.size() < entries.size()) {
        CheckResult result;
        result.check = entries[report.results.size()].info.name;
        result.result = Outcome::fail;
        result.reason = stuck + ": no driver call may block that long; the run stopped here";
        report.results.push_back(result);
    } else {
        report.finishNote = stuck + " while the ports were closed and the driver finalized";
    }
    while (report.results.size() < entries.size()) {
        CheckResult result;
        result.check = entries[report.results.size()].info.name;
        result.required = entries[report.results.size()].info.required;
        result.reason = "not run: the driver is stuck in " + std::string(entry);
        report.results.push_back(result);
    }
}

}  // namespace

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::pass:
            return "pass";
        case Outcome::fail:
            return "fail";
        case Outcome::skip:
            break;
    }
    return "skip";
}

const std::vector<CheckInfo>& checkCatalogue() {
    static const std::vector<CheckInfo> catalogue = [] {
        std::vector<CheckInfo> infos;
        for (const CheckEntry& entry : checkEntries()) {
            infos.push_back(entry.info);
        }
        return infos;
    }();
    return catalogue;
}

ConformanceReport runConformance(const ConformanceOptions& options) {
    static std::mutex oneRunAtATime;
    std::lock_guard runLock(oneRunAtATime);
    ConformanceReport report;
    auto library = std::make_unique<tools::DriverLibrary>(options.library,
                                                          tools::DriverLibrary::Lacking::keep);
    if (!library->loaded()) {
        report.loadError = library->error();
        return report;
    }
    report.loaded = true;
    DriverEvents& events = DriverEvents::instance();
    events.reset(library->entries().getCVLGrabRow);
    events.setDebugSink(options.debugMessages);
    auto run = std::make_shared<Run>(std::move(library), options);
    std::thread worker([run] { runChecks(run); });
    // The watchdog: a driver call that has not returned after the timeout ends the run.
    const auto limit = std::chrono::milliseconds(options.timeoutMs);
    for (;;) {
        {
            std::unique_lock lock(run->mutex);
            if (run->finished.wait_for(lock, std::chrono::milliseconds(20),
                                       [&] { return run->done; })) {
                report.results = run->results;
                break;
            }
        }
        const auto [entry, since] = run->session.currentCall();
        if (entry != nullptr && Clock::now() - since > limit) {
            abandon(*run, entry, report);
            report.abandoned = true;
            break;
        }
    }
    if (report.abandoned) {
        worker.detach();
    } else {
        worker.join();
    }
    // From here on, a late callback only records; it reads no rows through the library.
    events.reset(nullptr);
    events.setDebugSink(nullptr);
    return report;
}

int exitCodeOf(const ConformanceReport& report) {
    if (!report.loaded) {
        return kExitNotLoadable;
    }
    for (const CheckResult& result : report.results) {
        if (result.required && result.result == Outcome::fail) {
            return kExitRequiredFailed;
        }
    }
    return report.abandoned ? kExitRequiredFailed : kExitConforms;
}

namespace {

struct Tally {
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    int requiredFailed = 0;
};

Tally tally(const ConformanceReport& report) {
    Tally t;
    for (const CheckResult& r : report.results) {
        t.passed += r.result == Outcome::pass ? 1 : 0;
        t.failed += r.result == Outcome::fail ? 1 : 0;
        t.skipped += r.result == Outcome::skip ? 1 : 0;
        t.requiredFailed += r.result == Outcome::fail && r.required ? 1 : 0;
    }
    return t;
}

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += grab::format("\\u%04x", static_cast<unsigned>(c));
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace

std::string formatTable(const ConformanceReport& report) {
    if (!report.loaded) {
        return "quiltra-conformance: " + report.loadError + "\n";
    }
    std::size_t width = 5;  // "check"
    for (const CheckResult& r : report.results) {
        width = std::max(width, r.check.size());
    }
    const int w = static_cast<int>(width);
    std::string out =
        grab::format("%-*s  %-8s  %-6s  %s\n", w, "check", "kind", "result", "reason");
    for (const CheckResult& r : report.results) {
        out += grab::format("%-*s  %-8s  %-6s  ", w, r.check.c_str(),
                            r.required ? "required" : "advisory", outcomeName(r.result));
        out += r.reason + "\n";
    }
    if (!report.finishNote.empty()) {
        out += "note: " + report.finishNote + "\n";
    }
    const Tally t = tally(report);
    const int code = exitCodeOf(report);
    out +=
        grab::format("summary: %d passed, %d failed (%d required), %d skipped: %s\n", t.passed,
                     t.failed, t.requiredFailed, t.skipped,
                     code == kExitConforms ? "the driver gives Quiltra what it relies on"
                                           : "the driver does not give Quiltra what it relies on");
    return out;
}

std::string formatJson(const ConformanceReport& report) {
    const Tally t = tally(report);
    std::string out = "{\n  \"checks\": [";
    for (std::size_t i = 0; i < report.results.size(); ++i) {
        const CheckResult& r = report.results[i];
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"check\": " + jsonText(r.check) +
               ", \"result\": " + jsonText(outcomeName(r.result)) +
               ", \"required\": " + (r.required ? "true" : "false") +
               ", \"reason\": " + jsonText(r.reason) + "}";
    }
    out += report.results.empty() ? "],\n" : "\n  ],\n";
    out += grab::format(
        "  \"summary\": {\"passed\": %d, \"failed\": %d, \"requiredFailed\": %d, \"skipped\": %d, "
        "\"exitCode\": %d",
        t.passed, t.failed, t.requiredFailed, t.skipped, exitCodeOf(report));
    if (!report.loaded) {
        out += ", \"error\": " + jsonText(report.loadError);
    }
    if (!report.finishNote.empty()) {
        out += ", \"note\": " + jsonText(report.finishNote);
    }
    return out + "}\n}\n";
}

}  // namespace quiltra::conformance

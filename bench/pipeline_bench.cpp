// quiltra-bench: the scanner path of Quiltra, from the camera driver's completion hook to
// the scanner's completion callback, driven through the C interface over an in-memory
// camera driver, with the yardsticks it is judged against measured in the same run.
//
//   quiltra-bench [--system-dir=DIR] [Google Benchmark options]
//
// Each Pipeline row grabs final images of Scanner0001 one after the other; the benchmark's
// thread is the driver's delivery thread (it calls Quiltra's hook for every camera image and
// times each call), and waits for the scanner's completion callback before the next grab.
// After the timed loop, the yardsticks are measured in seven rounds that alternate a stretch
// of the pipeline with them, so that both sides of a ratio see the same load on a shared
// machine; hook_us, row_us and the ratios are the median round. The counters:
//   final/s     final images per second (the timed loop)
//   hook_us     time the driver's thread spent in the hook per camera image
//   row_us      the same image read row by row through the driver, without Quiltra
//   hook/row    hook_us / row_us
//   vs_memcpy   pipeline throughput / plain memcpy of the same bytes, three times per image
//   vs_thread   pipeline throughput / the model with one new thread per camera image
//   allocs/img  operator new calls per final image in the timed loop (after warm-up)
//   msgs/img    debug messages per final image (a hook waiting for a busy worker sends one)
// The Memcpy, RowCopy and ThreadPerImage rows show the yardsticks on their own. At the end it
// prints both as Markdown tables, the pipeline rows marked against their targets.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "allocation_counter.h"
#include "bench_host.h"
#include "platform/file_path.h"
#include "scratch_folder.h"

namespace quiltra::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kPipelineMinTime = 0.5;
constexpr double kBaselineMinTime = 0.3;

// The targets on the reference machine (2 cores).
constexpr double kMemcpyTarget = 0.8;  // large images: at least this share of the memcpy bound
constexpr double kThreadTarget = 10;   // small images: at least this many times thread-per-image
constexpr double kHookTarget = 1.2;    // hook time: at most this many times the row copy

// Line-scan-like images: a few rows each.
bool isSmall(const Geometry& geometry) {
    return geometry.height <= 16;
}
// 640 x 480 and larger.
bool isLarge(const Geometry& geometry) {
    return geometry.imageBytes() >= 640 * 480;
}

const std::vector<Geometry>& geometries() {
    static const std::vector<Geometry> all = {
        {2, 640, 480, 1}, {4, 640, 480, 1}, {2, 2448, 2048, 1}, {4, 2448, 2048, 1},
        {2, 640, 480, 4}, {2, 4096, 1, 1},  {4, 4096, 1, 1},    {2, 8192, 16, 1},
        {4, 8192, 16, 1}, {2, 4096, 1, 4},
    };
    return all;
}

std::vector<PipelineCase> pipelineCases() {
    std::vector<PipelineCase> cases;
    for (const Geometry& geometry : geometries()) {
        cases.push_back(PipelineCase{geometry, true, 0});
        cases.push_back(PipelineCase{geometry, false, 0});
    }
    // A grab timeout re-arms the timer once per turn and kills it at completion.
    cases.push_back(PipelineCase{{2, 640, 480, 1}, true, 1000});
    cases.push_back(PipelineCase{{2, 4096, 1, 1}, true, 1000});
    return cases;
}

// Runs step(i) for i = 0, 1, ... up to `count` times, or until `budget` seconds have passed
// (at least once); the clock is read once per batch, so small steps are not swamped by it.
// Returns the mean seconds per step.
template <typename Step>
double secondsPerStep(Step&& step, std::int64_t count, double budget) {
    const auto start = Clock::now();
    std::int64_t done = 0;
    std::int64_t batch = 1;
    double elapsed = 0;
    while (done < std::max<std::int64_t>(count, 1)) {
        const std::int64_t end = std::min(done + batch, std::max<std::int64_t>(count, 1));
        for (; done < end; ++done) {
            step(done);
        }
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= budget) {
            break;
        }
        batch = std::min<std::int64_t>(batch * 2, 1024);
    }
    return elapsed / static_cast<double>(done);
}

CopyModels* modelsOrSkip(benchmark::State& state, QuiltraHost& host, const Geometry& geometry) {
    std::string error;
    CopyModels* models = host.models(geometry, error);
    if (models == nullptr) {
        state.SkipWithError(error.c_str());
    }
    return models;
}

// A yardstick whose step is one final image: every copy of the path, three per camera image.
void runFinalImageModel(benchmark::State& state, QuiltraHost& host, const Geometry& geometry,
                        void (CopyModels::*model)()) {
    CopyModels* models = modelsOrSkip(state, host, geometry);
    if (models == nullptr) {
        return;
    }
    (models->*model)();
    for (auto _ : state) {
        (models->*model)();
    }
    state.counters["final/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(state.iterations() * 3 *
                            static_cast<std::int64_t>(geometry.finalBytes()));
}

void runMemcpy(benchmark::State& state, QuiltraHost& host, const Geometry& geometry) {
    runFinalImageModel(state, host, geometry, &CopyModels::memcpyBound);
}

void runThreadPerImage(benchmark::State& state, QuiltraHost& host, const Geometry& geometry) {
    runFinalImageModel(state, host, geometry, &CopyModels::threadPerImage);
}

void runRowCopy(benchmark::State& state, QuiltraHost& host, const Geometry& geometry) {
    CopyModels* models = modelsOrSkip(state, host, geometry);
    if (models == nullptr) {
        return;
    }
    int camera = 0;
    for (auto _ : state) {
        models->rowCopy(camera);
        camera = camera + 1 == geometry.cameras ? 0 : camera + 1;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(geometry.imageBytes()));
}

// The middle value (the upper one of an even count).
double median(std::vector<double> values) {
    std::nth_element(values.begin(),
                     values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// A pipeline row's comparison with its yardsticks, each the median over rounds.
struct Ratios {
    double hookSeconds = 0;  // per camera image
    double rowSeconds = 0;   // per camera image
    double vsMemcpy = 0;
    double vsThread = 0;
    double hookRatio = 0;
};

// Measures the ratios in rounds that alternate a stretch of the pipeline with the
// yardsticks for as many images (or about as long), so that on a shared machine both sides
// of a ratio see the same load; a round disturbed by a burst of other work drops out in the
// median. `finals` final images in all; false, with `failure`, when a grab fails.
bool measureRatios(ScannerSession& session, CopyModels& models, MemoryDriverControl& driver,
                   std::int64_t finals, Ratios& ratios, const char*& failure) {
    constexpr int kRounds = 7;
    const Geometry& geometry = models.geometry();
    const std::int64_t perRound = std::max<std::int64_t>(1, finals / kRounds);
    std::vector<double> hook, rows, vsMemcpy, vsThread, hookRatio;
    for (int round = 0; round < kRounds; ++round) {
        const HookTiming before = driver.hookTiming();
        const auto start = Clock::now();
        for (std::int64_t i = 0; i < perRound; ++i) {
            if (!session.grabOne(failure)) {
                return false;
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const HookTiming after = driver.hookTiming();
        const double perFinal = seconds / static_cast<double>(perRound);
        const double budget = std::max(seconds, 0.002);
        const double memcpyPerFinal =
            secondsPerStep([&](std::int64_t) { models.memcpyBound(); }, perRound, budget);
        const double rowPerImage = secondsPerStep(
            [&](std::int64_t i) { models.rowCopy(static_cast<int>(i % geometry.cameras)); },
            perRound * geometry.cameraImagesPerFinal(), budget);
        const double threadPerFinal =
            secondsPerStep([&](std::int64_t) { models.threadPerImage(); }, perRound, budget);
        const double hookPerImage =
            static_cast<double>(after.nanoseconds - before.nanoseconds) * 1e-9 /
            static_cast<double>(std::max<std::uint64_t>(after.calls - before.calls, 1));
        hook.push_back(hookPerImage);
        rows.push_back(rowPerImage);
        vsMemcpy.push_back(memcpyPerFinal / perFinal);
        vsThread.push_back(threadPerFinal / perFinal);
        hookRatio.push_back(hookPerImage / rowPerImage);
    }
    ratios =
        Ratios{median(hook), median(rows), median(vsMemcpy), median(vsThread), median(hookRatio)};
    return true;
}

void runPipeline(benchmark::State& state, QuiltraHost& host, const PipelineCase& pipelineCase) {
    std::string error;
    ScannerSession* session = host.session(pipelineCase, error);
    CopyModels* models = session != nullptr ? host.models(pipelineCase.geometry, error) : nullptr;
    if (session == nullptr || models == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::uint64_t messagesBefore = QuiltraHost::debugMessages();
    const std::uint64_t allocationsBefore = allocationCount();
    const auto start = Clock::now();
    const char* failure = nullptr;
    for (auto _ : state) {
        if (!session->grabOne(failure)) {
            state.SkipWithError(failure);
            break;
        }
    }
    const auto end = Clock::now();
    const std::uint64_t allocations = allocationCount() - allocationsBefore;
    const std::uint64_t messages = QuiltraHost::debugMessages() - messagesBefore;
    if (failure != nullptr) {
        return;
    }
    const double finals = static_cast<double>(state.iterations());
    const double seconds = std::chrono::duration<double>(end - start).count();

    Ratios ratios;
    if (!measureRatios(*session, *models, host.driver(), state.iterations(), ratios, failure)) {
        state.SkipWithError(failure);
        return;
    }
    state.counters["final/s"] = finals / seconds;
    state.counters["hook_us"] = ratios.hookSeconds * 1e6;
    state.counters["row_us"] = ratios.rowSeconds * 1e6;
    state.counters["hook/row"] = ratios.hookRatio;
    state.counters["vs_memcpy"] = ratios.vsMemcpy;
    state.counters["vs_thread"] = ratios.vsThread;
    state.counters["allocs/img"] = static_cast<double>(allocations) / finals;
    state.counters["msgs/img"] = static_cast<double>(messages) / finals;
}

// What the summary needs of a run: the median of the repetitions when there are several,
// else the run itself.
struct Outcome {
    bool median = false;
    bool error = false;
    std::string message;
    double microseconds = 0;  // wall time per iteration
    std::map<std::string, double> counters;

    double counter(const char* name) const {
        auto found = counters.find(name);
        return found != counters.end() ? found->second : 0.0;
    }
};

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate;
            if (median && run.aggregate_name != "median") {
                continue;
            }
            Outcome& outcome = outcomes_[run.run_name.function_name];
            if (outcome.median && !median) {
                continue;
            }
            outcome.median = median;
            outcome.error = run.error_occurred;
            outcome.message = run.error_message;
            outcome.microseconds = run.GetAdjustedRealTime();
            outcome.counters.clear();
            for (const auto& [name, counter] : run.counters) {
                outcome.counters[name] = counter.value;
            }
        }
    }

    const Outcome* outcome(const std::string& name) const {
        auto found = outcomes_.find(name);
        return found != outcomes_.end() ? &found->second : nullptr;
    }

private:
    std::map<std::string, Outcome> outcomes_;
};

std::string pipelineName(const PipelineCase& pipelineCase) {
    return "Pipeline/" + pipelineCase.label();
}

// A figure with three significant digits or more.
std::string figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : "%.2f", value);
    return text;
}

// "0.91 met", "0.62 NOT met", or the bare figure where the target does not apply.
std::string judged(double value, bool applies, bool met) {
    return figure(value) + (applies ? (met ? " met" : " NOT met") : "");
}

// The yardsticks of every layout on their own, as a Markdown table.
void printYardsticks(const RecordingReporter& reporter) {
    std::printf(
        "\nYardsticks (median wall time; memcpy and thread per image per final image, row copy "
        "per camera image):\n\n"
        "| layout | memcpy us | memcpy GB/s | row copy us | thread per image us |\n"
        "|---|---:|---:|---:|---:|\n");
    for (const Geometry& geometry : geometries()) {
        const Outcome* memcpy = reporter.outcome("Memcpy/" + geometry.label());
        const Outcome* rows = reporter.outcome("RowCopy/" + geometry.label());
        const Outcome* threads = reporter.outcome("ThreadPerImage/" + geometry.label());
        if (memcpy == nullptr && rows == nullptr && threads == nullptr) {
            continue;  // filtered out
        }
        auto time = [](const Outcome* outcome) {
            return outcome != nullptr && !outcome->error ? figure(outcome->microseconds)
                                                         : std::string("-");
        };
        const std::string bandwidth = memcpy != nullptr && !memcpy->error
                                          ? figure(memcpy->counter("bytes_per_second") / 1e9)
                                          : std::string("-");
        std::printf("| %s | %s | %s | %s | %s |\n", geometry.label().c_str(), time(memcpy).c_str(),
                    bandwidth.c_str(), time(rows).c_str(), time(threads).c_str());
    }
}

// The pipeline rows against the targets, as a Markdown table.
void printTargets(const RecordingReporter& reporter, const std::vector<PipelineCase>& cases,
                  bool countsLibraryAllocations) {
    std::printf(
        "\nTargets (every ratio against yardsticks measured in the same run, right after the "
        "pipeline):\n"
        "  vs memcpy >= %.1f for 640x480 and larger; hook/row <= %.1f for 640x480 and larger "
        "with Threaded=1;\n"
        "  vs thread >= %.0f for the line-scan-like images with Threaded=1; no allocation per "
        "final image.\n",
        kMemcpyTarget, kHookTarget, kThreadTarget);
    if (!countsLibraryAllocations) {
        std::printf(
            "  WARNING: allocations inside libquiltra.so do not reach the counting operator "
            "new; allocs/img counts only the benchmark's own.\n");
    }
    std::printf(
        "\n| case | final/s | hook us | row us | vs memcpy | hook/row | vs thread | allocs/img "
        "| waits/img |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    int pending = 0;
    for (const PipelineCase& pipelineCase : cases) {
        const std::string name = pipelineCase.label();
        const Outcome* outcome = reporter.outcome(pipelineName(pipelineCase));
        if (outcome == nullptr) {
            continue;  // filtered out
        }
        if (outcome->error) {
            ++pending;
            std::printf("| %s | not run: %s |\n", name.c_str(), outcome->message.c_str());
            continue;
        }
        const Geometry& geometry = pipelineCase.geometry;
        const double vsMemcpy = outcome->counter("vs_memcpy");
        const double hookRatio = outcome->counter("hook/row");
        const double vsThread = outcome->counter("vs_thread");
        const double allocations = outcome->counter("allocs/img");
        const bool large = isLarge(geometry);
        std::printf(
            "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", name.c_str(),
            figure(outcome->counter("final/s")).c_str(),
            figure(outcome->counter("hook_us")).c_str(), figure(outcome->counter("row_us")).c_str(),
            judged(vsMemcpy, large, vsMemcpy >= kMemcpyTarget).c_str(),
            judged(hookRatio, large && pipelineCase.threaded, hookRatio <= kHookTarget).c_str(),
            judged(vsThread, isSmall(geometry) && pipelineCase.threaded, vsThread >= kThreadTarget)
                .c_str(),
            judged(allocations, true, allocations == 0).c_str(),
            figure(outcome->counter("msgs/img")).c_str());
    }
    if (pending != 0) {
        std::printf("\n%d pipeline case(s) could not run; their targets are pending.\n", pending);
    }
    const std::string last = QuiltraHost::lastDebugMessage();
    if (!last.empty()) {
        std::printf("\nQuiltra's last debug message: %s\n", last.c_str());
    }
}

// A row of the table, timed by the wall clock (the work runs on several threads).
template <typename Run>
void addRow(const std::string& name, double minTime, Run run) {
    benchmark::RegisterBenchmark(name.c_str(), std::move(run))
        ->UseRealTime()
        ->MinTime(minTime)
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace
}  // namespace quiltra::bench

int main(int argc, char** argv) {
    using namespace quiltra::bench;
    // Our own option, taken out before Google Benchmark reads the rest.
    std::string systemFolder;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--system-dir=", 0) == 0) {
            systemFolder = argument.substr(std::string("--system-dir=").size());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    // Quiltra's debugger output (the hook's wait messages among it) is counted through the
    // debug procedure; writing it to standard error as well would be timed with it.
    setenv("QUILTRA_DEBUG_OUTPUT", "none", 0);

    std::optional<ScratchFolder> scratch;
    if (systemFolder.empty()) {
        scratch.emplace("quiltra-bench");
        if (!scratch->ok()) {
            std::perror("quiltra-bench: the scratch folder");
            return 1;
        }
        systemFolder = scratch->path();
    } else {
        std::error_code error;
        std::filesystem::create_directories(systemFolder, error);
    }

    int status = 0;
    {
        QuiltraHost host(quiltra::platform::programFolder(), systemFolder);
        std::string error;
        if (!host.start(error)) {
            std::fprintf(stderr, "quiltra-bench: %s\n", error.c_str());
            status = 1;
        } else {
            using Yardstick = void (*)(benchmark::State&, QuiltraHost&, const Geometry&);
            const std::pair<const char*, Yardstick> yardsticks[] = {
                {"Memcpy/", &runMemcpy},
                {"RowCopy/", &runRowCopy},
                {"ThreadPerImage/", &runThreadPerImage},
            };
            for (const auto& [prefix, run] : yardsticks) {
                for (const Geometry& geometry : geometries()) {
                    addRow(prefix + geometry.label(), kBaselineMinTime,
                           [&host, run, geometry](benchmark::State& state) {
                               run(state, host, geometry);
                           });
                }
            }
            const std::vector<PipelineCase> cases = pipelineCases();
            for (const PipelineCase& pipelineCase : cases) {
                addRow(pipelineName(pipelineCase), kPipelineMinTime,
                       [&host, pipelineCase](benchmark::State& state) {
                           runPipeline(state, host, pipelineCase);
                       });
            }
            std::printf("allocation counting %s allocations inside libquiltra.so\n",
                        host.countsLibraryAllocations() ? "sees" : "does NOT see");
            RecordingReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            printYardsticks(reporter);
            printTargets(reporter, cases, host.countsLibraryAllocations());
        }
    }
    benchmark::Shutdown();
    return status;
}

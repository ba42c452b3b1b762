#include "checks.h"

#include <algorithm>
#include <set>
#include <thread>

#include "console.h"
#include "platform/no_destructor.h"

namespace quiltra::conformance {

using grab::format;

namespace {

constexpr int kNameListSize = QUILTRA_CAMERA_NAME_LIST_SIZE;
// Quiltra lists at most this many driver names, then its six scanners.
constexpr int kQuiltraDriverNames = 122;
constexpr const char* kScannerNames[] = {"Scanner0001", "Scanner0002", "Scanner0003",
                                         "Scanner0004", "Scanner0005", "Scanner0006"};
// A value getProperty is given before "PixelSize": still there afterwards, it was not written.
constexpr int kUnwritten = -0x5EED;
// Below this many ms from doCVLGrab to the image, the call's own time says nothing.
constexpr double kMeasurableImageMs = 3.0;
constexpr int kTimingGrabs = 3;
constexpr int kCloseRounds = 3;

CheckResult result(Outcome outcome, std::string reason) {
    CheckResult r;
    r.result = outcome;
    r.reason = std::move(reason);
    return r;
}
CheckResult passed(std::string reason) {
    return result(Outcome::pass, std::move(reason));
}
CheckResult failed(std::string reason) {
    return result(Outcome::fail, std::move(reason));
}
CheckResult skipped(std::string reason) {
    return result(Outcome::skip, std::move(reason));
}
// The check cannot tell on this driver's set-up: no failure of the run.
CheckResult cannotTell(std::string reason) {
    CheckResult r = skipped(std::move(reason));
    r.required = false;
    return r;
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::chrono::milliseconds timeout(const CheckState& state) {
    return std::chrono::milliseconds(state.options.timeoutMs);
}

void waitQuiet(const CheckState& state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(state.options.quietMs));
}

std::string onPort(const std::string& camera, int port) {
    return "camera " + camera + " on port " + std::to_string(port);
}

// The name list up to its first null entry or its documented size.
std::vector<std::string> listedNames(const char* const* list) {
    std::vector<std::string> names;
    for (int i = 0; list != nullptr && i < kNameListSize && list[i] != nullptr; ++i) {
        names.emplace_back(list[i]);
    }
    return names;
}

// openCVLPort as Quiltra calls it: once more when the first call does not answer 1.
int openAsQuiltra(CheckState& state, int port, const std::string& camera, int* size) {
    const auto& e = state.driver.entries();
    auto open = [&] {
        return state.driver.call(
            "openCVLPort", [&] { return e.openCVLPort(kGrabber, port, camera.c_str(), size); });
    };
    const int first = open();
    return first == 1 ? first : open();
}

// setCompleteCallback as Quiltra calls it, once more when the first call does not answer 1.
int handOverAsQuiltra(CheckState& state, int port) {
    const auto& e = state.driver.entries();
    auto handOver = [&] {
        return state.driver.call("setCompleteCallback", [&] {
            return e.setCompleteCallback(kGrabber, port, &DriverEvents::completeProc);
        });
    };
    const int first = handOver();
    return first == 1 ? first : handOver();
}

int grab(CheckState& state, int port) {
    return state.driver.call("doCVLGrab",
                             [&] { return state.driver.entries().doCVLGrab(kGrabber, port); });
}

void closePort(CheckState& state, int port) {
    state.driver.call("closeCVLPort", [&] { state.driver.entries().closeCVLPort(kGrabber, port); });
}

// Opens `camera` on `port` and hands over the callback; an empty text when both worked,
// else what went wrong.
std::string openWithCallback(CheckState& state, int port, const std::string& camera,
                             int* size = nullptr) {
    int ownSize[2] = {-1, -1};
    int* target = size != nullptr ? size : ownSize;
    const int opened = openAsQuiltra(state, port, camera, target);
    if (opened != 1) {
        return format("openCVLPort(%d, %d, \"%s\", size) returned %d twice", kGrabber, port,
                      camera.c_str(), opened);
    }
    const int handed = handOverAsQuiltra(state, port);
    if (handed != 1) {
        closePort(state, port);
        return format("setCompleteCallback(%d, %d, callback) returned %d twice", kGrabber, port,
                      handed);
    }
    return {};
}

// One grab on `port` and its first completion; an empty text when it came.
struct GrabOutcome {
    std::string problem;
    Clock::time_point started;
    Clock::time_point returned;
    Completion completion;
};
GrabOutcome grabAndWait(CheckState& state, int port) {
    GrabOutcome outcome;
    DriverEvents& events = DriverEvents::instance();
    const std::size_t mark = events.count();
    outcome.started = Clock::now();
    const int answer = grab(state, port);
    outcome.returned = Clock::now();
    if (answer != 1) {
        outcome.problem =
            format("doCVLGrab(%d, %d) returned %d, expected 1", kGrabber, port, answer);
        return outcome;
    }
    if (!events.waitForCount(mark + 1, timeout(state))) {
        outcome.problem = format("no completion within %d ms of doCVLGrab(%d, %d)",
                                 state.options.timeoutMs, kGrabber, port);
        return outcome;
    }
    outcome.completion = events.since(mark).front();
    return outcome;
}

// The reason a check that needs completions cannot run, or empty.
std::string needsCompletions(const CheckState& state) {
    if (!state.noPort.empty()) {
        return state.noPort;
    }
    return state.noCompletions;
}

// --- the checks ------------------------------------------------------------------------------

CheckResult entryPoints(CheckState& state) {
    const auto& missing = state.driver.missingEntries();
    if (missing.empty()) {
        return passed("all sixteen entry points are exported");
    }
    std::string names;
    for (const std::string& name : missing) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return failed("not exported: " + names +
                  "; Quiltra answers 0 for every call of a missing entry: export all sixteen, "
                  "undecorated");
}

CheckResult driverExtras(CheckState& state) {
    const auto& e = state.driver.entries();
    std::string missing;
    if (e.setDebugMsgProc == nullptr) {
        missing = "setDebugMsgProc";
    }
    if (e.setSystemPath == nullptr) {
        missing += (missing.empty() ? "" : ", ") + std::string("setSystemPath");
    }
    if (missing.empty()) {
        return passed("setDebugMsgProc and setSystemPath are exported");
    }
    return failed("not exported: " + missing +
                  "; Quiltra calls them only for a driver without initialize, so this matters "
                  "only there");
}

CheckResult initializeFinalize(CheckState& state) {
    const auto& e = state.driver.entries();
    const std::string& folder = state.options.systemFolder;
    if (e.initialize == nullptr) {
        // Hand the settings over as Quiltra does for such a driver, so the checks go on.
        if (e.setDebugMsgProc != nullptr) {
            state.driver.call("setDebugMsgProc",
                              [&] { e.setDebugMsgProc(&DriverEvents::debugProc); });
        }
        if (e.setSystemPath != nullptr) {
            state.driver.call("setSystemPath", [&] { e.setSystemPath(folder.c_str()); });
        }
        state.initialized = true;
        return skipped(e.setSystemPath != nullptr
                           ? "no initialize (see entry-points); the system folder was handed "
                             "over with setSystemPath, as Quiltra does"
                           : "no initialize (see entry-points)");
    }
    auto initialize = [&] {
        return state.driver.call(
            "initialize", [&] { return e.initialize(folder.c_str(), &DriverEvents::debugProc); });
    };
    auto cameraCount = [&] {
        return e.getCVLNoOfSupportedCameras == nullptr
                   ? -1
                   : state.driver.call("getCVLNoOfSupportedCameras",
                                       [&] { return e.getCVLNoOfSupportedCameras(); });
    };
    const int first = initialize();
    state.initialized = true;
    const int firstCount = cameraCount();
    if (first != 1) {
        return failed(
            format("initialize(\"%s\", proc) returned %d, expected 1: check that the "
                   "folder holds the driver's settings",
                   folder.c_str(), first));
    }
    if (e.finalize == nullptr) {
        return skipped("initialize returned 1; no finalize (see entry-points)");
    }
    const int finalized = state.driver.call("finalize", [&] { return e.finalize(); });
    state.initialized = false;
    const int second = initialize();
    state.initialized = true;
    const int secondCount = cameraCount();
    if (second != 1) {
        return failed(
            format("a second initialize after finalize returned %d, expected 1: "
                   "finalize must leave the driver ready to start again",
                   second));
    }
    if (secondCount != firstCount) {
        return failed(
            format("after finalize and a second initialize the driver lists %d "
                   "cameras, after the first %d: finalize must leave the driver "
                   "ready to start again",
                   secondCount, firstCount));
    }
    return passed(
        format("initialize(\"%s\") returned 1, finalize returned %d, a second "
               "initialize returned 1 with the same %d cameras",
               folder.c_str(), finalized, secondCount));
}

CheckResult cameraNames(CheckState& state) {
    const auto& e = state.driver.entries();
    state.noPort = "no camera name to open (see camera-names)";
    if (e.getCVLNoOfSupportedCameras == nullptr || e.getCVLCameraConfigNames == nullptr) {
        return skipped(
            "getCVLNoOfSupportedCameras or getCVLCameraConfigNames is not exported "
            "(see entry-points)");
    }
    const int count = state.driver.call("getCVLNoOfSupportedCameras",
                                        [&] { return e.getCVLNoOfSupportedCameras(); });
    const char** list =
        state.driver.call("getCVLCameraConfigNames", [&] { return e.getCVLCameraConfigNames(); });
    state.names = listedNames(list);
    if (count <= 0) {
        return failed(
            format("getCVLNoOfSupportedCameras returned %d: Quiltra lists no camera "
                   "of this driver; report the number of names",
                   count));
    }
    if (list == nullptr) {
        return failed(
            format("getCVLCameraConfigNames returned null while "
                   "getCVLNoOfSupportedCameras returned %d: return the list",
                   count));
    }
    const int listed = static_cast<int>(state.names.size());
    if (count > kNameListSize) {
        return failed(
            format("getCVLNoOfSupportedCameras returned %d, more than the list's %d "
                   "entries",
                   count, kNameListSize));
    }
    if (listed != count) {
        const std::string end = listed < kNameListSize
                                    ? format("entry %d is null", listed)
                                    : format("no null entry within its %d", kNameListSize);
        return failed(
            format("getCVLNoOfSupportedCameras returned %d but the list holds %d "
                   "names (%s): the count must equal the names before the null entry",
                   count, listed, end.c_str()));
    }
    if (count == kNameListSize) {
        return failed(
            format("the list holds %d names with no null entry after them: at most "
                   "%d names, then null",
                   count, kNameListSize - 1));
    }
    std::set<std::string> seen;
    for (int i = 0; i < count; ++i) {
        const std::string& name = state.names[static_cast<std::size_t>(i)];
        if (name.empty()) {
            return failed(format("entry %d of the name list is an empty name", i));
        }
        if (!seen.insert(name).second) {
            return failed(
                format("the name %s is listed twice: a host opens cameras by name", name.c_str()));
        }
        for (const char* scanner : kScannerNames) {
            if (name == scanner) {
                return failed(
                    format("entry %d is %s, a name of Quiltra's own scanners: through "
                           "Quiltra that camera cannot be opened; rename it",
                           i, scanner));
            }
        }
    }
    state.camera = state.options.cameras.empty() ? state.names.front() : state.options.cameras[0];
    state.noPort.clear();
    std::string shown;
    for (int i = 0; i < count && i < 4; ++i) {
        shown += (i == 0 ? "" : ", ") + state.names[static_cast<std::size_t>(i)];
    }
    if (count > 4) {
        shown += ", ...";
    }
    std::string note = count > kQuiltraDriverNames
                           ? format("; Quiltra lists only the first %d", kQuiltraDriverNames)
                           : std::string();
    return passed(format("%d names, then null, as getCVLNoOfSupportedCameras says: %s%s", count,
                         shown.c_str(), note.c_str()));
}

CheckResult openSize(CheckState& state) {
    if (!state.noPort.empty()) {
        return skipped(state.noPort);
    }
    state.noPort = "no open port (see open-size)";
    if (state.driver.entries().openCVLPort == nullptr) {
        return skipped("openCVLPort is not exported (see entry-points)");
    }
    int size[2] = {-1, -1};
    const int opened = openAsQuiltra(state, kPort, state.camera, size);
    if (opened != 1) {
        return failed(
            format("openCVLPort(%d, %d, \"%s\", size) returned %d, also when called "
                   "again as Quiltra does; expected 1",
                   kGrabber, kPort, state.camera.c_str(), opened));
    }
    state.portOpen = true;
    if (size[0] <= 0 || size[1] <= 0) {
        return failed(
            format("%s: openCVLPort returned 1 with size %d x %d; expected the width "
                   "in size[0] and the height in size[1], both above 0",
                   onPort(state.camera, kPort).c_str(), size[0], size[1]));
    }
    state.image.width = size[0];
    state.image.height = size[1];
    state.noPort.clear();
    return passed(
        format("%s: %d x %d pixels", onPort(state.camera, kPort).c_str(), size[0], size[1]));
}

CheckResult callbackHandOver(CheckState& state) {
    if (!state.noPort.empty()) {
        return skipped(state.noPort);
    }
    const auto& e = state.driver.entries();
    state.noCompletions = "no completions to count (see callback-hand-over)";
    if (e.setCompleteCallback == nullptr || e.doCVLGrab == nullptr) {
        return skipped("setCompleteCallback or doCVLGrab is not exported (see entry-points)");
    }
    const std::string where = onPort(state.camera, kPort);
    const int handed = handOverAsQuiltra(state, kPort);
    if (handed != 1) {
        return failed(
            format("%s: setCompleteCallback returned %d, also when called again as "
                   "Quiltra does; expected 1",
                   where.c_str(), handed));
    }
    const GrabOutcome outcome = grabAndWait(state, kPort);
    if (!outcome.problem.empty()) {
        return failed(where + ": " + outcome.problem +
                      "; each finished image must call the handed-over callback");
    }
    const Completion& c = outcome.completion;
    if (c.grabber != kGrabber || c.port != kPort) {
        return failed(
            format("%s: the callback was called with grabber %d, port %d; expected "
                   "the grabber and port of the image: %d, %d",
                   where.c_str(), c.grabber, c.port, kGrabber, kPort));
    }
    state.noCompletions.clear();
    return passed(
        format("%s: callback accepted and called with grabber %d, port %d, %.1f ms "
               "after doCVLGrab",
               where.c_str(), c.grabber, c.port, msBetween(outcome.started, c.at)));
}

CheckResult oneCompletionPerGrab(CheckState& state) {
    if (const std::string reason = needsCompletions(state); !reason.empty()) {
        return skipped(reason);
    }
    const std::string where = onPort(state.camera, kPort);
    DriverEvents& events = DriverEvents::instance();
    const std::size_t mark = events.count();
    const int grabs = state.options.grabs;
    for (int i = 1; i <= grabs; ++i) {
        const int answer = grab(state, kPort);
        if (answer != 1) {
            return failed(format("%s: grab %d of %d refused: doCVLGrab returned %d, expected 1",
                                 where.c_str(), i, grabs, answer));
        }
        if (!events.waitForCount(mark + static_cast<std::size_t>(i), timeout(state))) {
            return failed(
                format("%s: no completion for grab %d of %d within %d ms (%d for the "
                       "%d before it): every grab must end in one completion",
                       where.c_str(), i, grabs, state.options.timeoutMs,
                       static_cast<int>(events.count() - mark), i - 1));
        }
    }
    waitQuiet(state);
    const std::vector<Completion> completions = events.since(mark);
    std::set<std::thread::id> threads;
    for (const Completion& c : completions) {
        threads.insert(c.thread);
        if (c.grabber != kGrabber || c.port != kPort) {
            return failed(format("%s: a completion came with grabber %d, port %d", where.c_str(),
                                 c.grabber, c.port));
        }
    }
    if (completions.size() != static_cast<std::size_t>(grabs)) {
        return failed(format(
            "%s: %d grabs gave %d completions within %d ms after the last: "
            "expected exactly one per grab",
            where.c_str(), grabs, static_cast<int>(completions.size()), state.options.quietMs));
    }
    return passed(
        format("%s: %d grabs, %d completions (from %d thread%s), none more within "
               "%d ms",
               where.c_str(), grabs, grabs, static_cast<int>(threads.size()),
               threads.size() == 1 ? "" : "s", state.options.quietMs));
}

// Bytes per pixel as Quiltra takes them: "PixelSize" in bits with the value preset to 8 and
// the result not looked at; 0 to 7 bits count as one byte; no getProperty: one byte.
int quiltraBytesPerPixel(CheckState& state, int& bits) {
    const auto& e = state.driver.entries();
    bits = 8;
    if (e.getProperty == nullptr) {
        return 1;
    }
    state.driver.call("getProperty",
                      [&] { return e.getProperty(kGrabber, kPort, "PixelSize", &bits); });
    return bits >= 0 && bits < 8 ? 1 : bits / 8;
}

CheckResult rowsInCallback(CheckState& state) {
    if (const std::string reason = needsCompletions(state); !reason.empty()) {
        return skipped(reason);
    }
    if (state.driver.entries().getCVLGrabRow == nullptr) {
        return skipped("getCVLGrabRow is not exported (see entry-points)");
    }
    const std::string where = onPort(state.camera, kPort);
    int bits = 8;
    state.image.bytesPerPixel = quiltraBytesPerPixel(state, bits);
    if (state.image.bytesPerPixel <= 0) {
        return skipped(format("PixelSize %d gives no bytes per pixel (see pixel-size)", bits));
    }
    DriverEvents::instance().readRowsOnce(kPort, state.image);
    const GrabOutcome outcome = grabAndWait(state, kPort);
    if (!outcome.problem.empty()) {
        return failed(where + ": " + outcome.problem);
    }
    const ImageFormat& image = state.image;
    const RowReading& rows = outcome.completion.rows;
    if (!rows.done) {
        return failed(where + ": the completion came with another port; rows not read");
    }
    const std::string rowSize = format("%d x %d bits / 8 = %d bytes", image.width,
                                       image.bytesPerPixel * 8, static_cast<int>(image.rowBytes()));
    if (!rows.problem.empty()) {
        return failed(where + ": " + rows.problem + " (a row is " + rowSize +
                      "): inside the callback every whole row must be copied in full, and no "
                      "further");
    }
    state.callbackRows = rows;
    return passed(
        format("%s: all %d rows read inside the callback, each %s, written in full "
               "and no further",
               where.c_str(), image.height, rowSize.c_str()));
}

CheckResult rowsAfterCallback(CheckState& state) {
    if (!state.callbackRows.done || !state.callbackRows.problem.empty()) {
        return skipped("rows-in-callback did not pass: nothing to compare with");
    }
    const std::string where = onPort(state.camera, kPort);
    const ImageFormat& image = state.image;
    const RowReading again = state.driver.call("getCVLGrabRow", [&] {
        return readImageRows(state.driver.entries().getCVLGrabRow, kGrabber, kPort, image);
    });
    const char* why =
        "Quiltra's scanners read the rows again while they place the image, after the callback "
        "has returned: keep the last image readable until the next one is announced";
    if (!again.problem.empty()) {
        return failed(where + ": after the callback returned, " + again.problem + "; " + why);
    }
    if (again.pixels != state.callbackRows.pixels) {
        const auto differs = std::mismatch(again.pixels.begin(), again.pixels.end(),
                                           state.callbackRows.pixels.begin());
        const auto at = static_cast<std::size_t>(differs.first - again.pixels.begin());
        return failed(
            format("%s: after the callback returned, row %d differs from what the "
                   "callback read; %s",
                   where.c_str(), static_cast<int>(at / image.rowBytes()), why));
    }
    return passed(format("%s: after the callback returned, all %d rows read the same as inside it",
                         where.c_str(), image.height));
}

CheckResult pixelSize(CheckState& state) {
    if (!state.noPort.empty()) {
        return skipped(state.noPort);
    }
    const std::string where = onPort(state.camera, kPort);
    const auto& e = state.driver.entries();
    if (e.getProperty == nullptr) {
        return failed(where +
                      ": getProperty is not exported; Quiltra then takes 1 byte per "
                      "pixel for every camera");
    }
    int value = kUnwritten;
    const int answer = state.driver.call(
        "getProperty", [&] { return e.getProperty(kGrabber, kPort, "PixelSize", &value); });
    if (answer != 1) {
        return failed(
            format("%s: getProperty(%d, %d, \"PixelSize\") returned %d, expected 1 "
                   "with the bits per pixel",
                   where.c_str(), kGrabber, kPort, answer));
    }
    if (value == kUnwritten) {
        return failed(
            format("%s: getProperty \"PixelSize\" returned 1 but left the value "
                   "unwritten; Quiltra would take its preset 8 bits",
                   where.c_str()));
    }
    if (value < 8 || value > 64 || value % 8 != 0) {
        return failed(
            format("%s: PixelSize %d is not a whole number of bytes from 8 to 64 bits; "
                   "Quiltra reads %d byte(s) per pixel from it",
                   where.c_str(), value, value >= 0 && value < 8 ? 1 : value / 8));
    }
    return passed(format("%s: PixelSize %d (%d byte%s per pixel)", where.c_str(), value, value / 8,
                         value == 8 ? "" : "s"));
}

CheckResult grabReturnsEarly(CheckState& state) {
    if (const std::string reason = needsCompletions(state); !reason.empty()) {
        return skipped(reason);
    }
    const std::string where = onPort(state.camera, kPort);
    double callMs = 0;
    double imageMs = 0;
    int inside = 0;      // completions that came before doCVLGrab returned
    double longest = 0;  // the longest time to an image
    for (int i = 0; i < kTimingGrabs; ++i) {
        const GrabOutcome outcome = grabAndWait(state, kPort);
        if (!outcome.problem.empty()) {
            return failed(where + ": " + outcome.problem);
        }
        callMs = msBetween(outcome.started, outcome.returned);
        imageMs = msBetween(outcome.started, outcome.completion.at);
        longest = std::max(longest, imageMs);
        if (outcome.completion.at < outcome.returned) {
            ++inside;
            continue;
        }
        if (imageMs >= kMeasurableImageMs && callMs * 2 <= imageMs) {
            return passed(
                format("%s: doCVLGrab returned after %.2f ms, the image came after "
                       "%.1f ms",
                       where.c_str(), callMs, imageMs));
        }
    }
    if (inside == kTimingGrabs) {
        return failed(
            format("%s: in %d of %d grabs the completion came before doCVLGrab "
                   "returned (the call took %.1f ms): start the exposure and return; "
                   "announce the image later",
                   where.c_str(), inside, kTimingGrabs, callMs));
    }
    if (longest < kMeasurableImageMs) {
        return cannotTell(
            format("%s: images come within %.2f ms of doCVLGrab, too soon to tell "
                   "whether it waits for them; lengthen the exposure to check",
                   where.c_str(), longest));
    }
    return failed(
        format("%s: doCVLGrab took %.1f ms of the image's %.1f ms: start the exposure "
               "and return; announce the image later",
               where.c_str(), callMs, imageMs));
}

// A completion of `port` among `completions` that began, or was still running, after `after`.
const Completion* lateCompletion(const std::vector<Completion>& completions, int port,
                                 Clock::time_point after) {
    for (const Completion& c : completions) {
        if (c.port == port && c.returned > after) {
            return &c;
        }
    }
    return nullptr;
}

CheckResult closeAndFinalizeRounds(CheckState& state) {
    if (const std::string reason = needsCompletions(state); !reason.empty()) {
        return skipped(reason);
    }
    const auto& e = state.driver.entries();
    if (e.closeCVLPort == nullptr || e.finalize == nullptr || e.initialize == nullptr) {
        return skipped("closeCVLPort, initialize or finalize is not exported (see entry-points)");
    }
    const std::string where = onPort(state.camera, kPort);
    DriverEvents& events = DriverEvents::instance();
    int pending = 0;  // images still pending when the port closed (none came)
    for (int round = 0; round <= kCloseRounds; ++round) {
        const bool finalizing = round == kCloseRounds;
        const char* entry = finalizing ? "finalize" : "closeCVLPort";
        const std::size_t mark = events.count();
        const int answer = grab(state, kPort);
        if (answer != 1) {
            return failed(format("%s: doCVLGrab returned %d, expected 1", where.c_str(), answer));
        }
        if (finalizing) {
            state.driver.call("finalize", [&] { return e.finalize(); });
            state.initialized = false;
        } else {
            closePort(state, kPort);
        }
        const Clock::time_point closed = Clock::now();
        state.portOpen = false;
        waitQuiet(state);
        const std::vector<Completion> completions = events.since(mark);
        if (const Completion* late = lateCompletion(completions, kPort, closed)) {
            const bool began = late->at > closed;
            return failed(
                format("%s: a completion %s %.1f ms after %s returned (grab, then %s "
                       "at once): after it returns, no callback of the port may come",
                       where.c_str(), began ? "came" : "was still running",
                       msBetween(closed, began ? late->at : late->returned), entry, entry));
        }
        pending += completions.empty() ? 1 : 0;
        if (finalizing) {
            state.driver.call("initialize", [&] {
                return e.initialize(state.options.systemFolder.c_str(), &DriverEvents::debugProc);
            });
            state.initialized = true;
        }
        const std::string problem = openWithCallback(state, kPort, state.camera);
        if (!problem.empty()) {
            return failed(where + ": after " + entry + ", " + problem +
                          "; a closed port must open again");
        }
        state.portOpen = true;
    }
    if (pending == 0) {
        return cannotTell(
            format("%s: every image came before closeCVLPort or finalize "
                   "returned, none was pending to tell by; lengthen the exposure "
                   "to check",
                   where.c_str()));
    }
    return passed(
        format("%s: %d closes and a finalize right after doCVLGrab, no completion "
               "after they returned (%d of %d images were still pending)",
               where.c_str(), kCloseRounds, pending, kCloseRounds + 1));
}

// The rounds above; whatever they end with, the driver is initialised again and port 0 open
// for the checks after them, when it can be.
CheckResult quietAfterClose(CheckState& state) {
    CheckResult outcome = closeAndFinalizeRounds(state);
    const auto& e = state.driver.entries();
    if (!state.initialized && e.initialize != nullptr) {
        state.driver.call("initialize", [&] {
            return e.initialize(state.options.systemFolder.c_str(), &DriverEvents::debugProc);
        });
        state.initialized = true;
    }
    if (!state.portOpen && state.noPort.empty()) {
        state.portOpen = openWithCallback(state, kPort, state.camera).empty();
        if (!state.portOpen) {
            state.noPort = "port 0 could not be opened again after quiet-after-close";
        }
    }
    return outcome;
}

CheckResult twoPorts(CheckState& state) {
    if (const std::string reason = needsCompletions(state); !reason.empty()) {
        return skipped(reason);
    }
    std::string second;
    if (state.options.cameras.size() > 1) {
        second = state.options.cameras[1];
    } else {
        for (const std::string& name : state.names) {
            if (name != state.camera) {
                second = name;
                break;
            }
        }
    }
    if (second.empty()) {
        return cannotTell(
            "the driver lists one camera: give a second with --camera to check "
            "two ports at once");
    }
    const auto& e = state.driver.entries();
    const int ports =
        state.driver.call("getCVLMaxNoOfPorts", [&] { return e.getCVLMaxNoOfPorts(kGrabber); });
    if (ports < 2) {
        return cannotTell(
            format("getCVLMaxNoOfPorts(%d) returned %d: no second port to check", kGrabber, ports));
    }
    const std::string problem = openWithCallback(state, kSecondPort, second);
    if (!problem.empty()) {
        return failed(
            format("camera %s on port %d: %s; Quiltra's scanners need their cameras "
                   "open together",
                   second.c_str(), kSecondPort, problem.c_str()));
    }
    state.secondPortOpen = true;
    DriverEvents& events = DriverEvents::instance();
    const std::size_t mark = events.count();
    const Clock::time_point started = Clock::now();
    const int first = grab(state, kPort);
    const int other = grab(state, kSecondPort);
    if (first != 1 || other != 1) {
        return failed(
            format("doCVLGrab on ports %d and %d right after each other returned %d "
                   "and %d, expected 1 and 1",
                   kPort, kSecondPort, first, other));
    }
    events.waitForCount(mark + 2, timeout(state));
    waitQuiet(state);
    const std::vector<Completion> completions = events.since(mark);
    int counts[2] = {0, 0};
    double ms[2] = {0, 0};
    for (const Completion& c : completions) {
        if (c.grabber != kGrabber || (c.port != kPort && c.port != kSecondPort)) {
            return failed(format(
                "a completion came with grabber %d, port %d while ports %d "
                "(%s) and %d (%s) were grabbed: report each image's own port",
                c.grabber, c.port, kPort, state.camera.c_str(), kSecondPort, second.c_str()));
        }
        const int slot = c.port == kPort ? 0 : 1;
        ++counts[slot];
        ms[slot] = msBetween(started, c.at);
    }
    for (int slot = 0; slot < 2; ++slot) {
        if (counts[slot] != 1) {
            const int port = slot == 0 ? kPort : kSecondPort;
            const std::string& name = slot == 0 ? state.camera : second;
            return failed(
                format("%s: %d completions for its one grab within %d ms while port "
                       "%d grabbed too: expected exactly one, with its own port",
                       onPort(name, port).c_str(), counts[slot], state.options.timeoutMs,
                       slot == 0 ? kSecondPort : kPort));
        }
    }
    return passed(
        format("ports %d (%s) and %d (%s) grabbed together: one completion each, "
               "with its own port, after %.1f and %.1f ms",
               kPort, state.camera.c_str(), kSecondPort, second.c_str(), ms[0], ms[1]));
}

}  // namespace

const std::vector<CheckEntry>& checkEntries() {
    // Never destroyed: a run abandoned on a stuck driver call leaves its worker thread
    // behind, which may still be reading the entries when the program ends.
    static platform::NoDestructor<const std::vector<CheckEntry>> entries(std::vector<CheckEntry>{
        {{"entry-points", true, "the sixteen entry points are exported"}, entryPoints},
        {{"driver-extras", false, "setDebugMsgProc and setSystemPath are exported"}, driverExtras},
        {{"initialize-finalize", true,
          "initialize returns 1, finalize returns, initialize works again after finalize"},
         initializeFinalize},
        {{"camera-names", true,
          "the name list is null-terminated within 128 entries and the count equals its length"},
         cameraNames},
        {{"open-size", true, "openCVLPort returns 1 and fills width and height above 0"}, openSize},
        {{"callback-hand-over", true,
          "setCompleteCallback returns 1; the callback is called with the image's grabber and "
          "port"},
         callbackHandOver},
        {{"one-completion-per-grab", true,
          "every grab ends in exactly one completion, from any thread"},
         oneCompletionPerGrab},
        {{"rows-in-callback", true,
          "getCVLGrabRow inside the callback copies every whole row, width x PixelSize / 8 bytes"},
         rowsInCallback},
        {{"rows-after-callback", true,
          "the last image's rows stay readable, unchanged, after the callback returned"},
         rowsAfterCallback},
        {{"pixel-size", true, "getProperty \"PixelSize\" returns 1 with 8, 16, 24 ... 64 bits"},
         pixelSize},
        {{"grab-returns-early", true,
          "doCVLGrab starts the exposure and returns before the image comes"},
         grabReturnsEarly},
        {{"quiet-after-close", true,
          "no completion of a port once closeCVLPort or finalize has returned"},
         quietAfterClose},
        {{"two-ports", true,
          "two ports grabbed at once each get one completion with their own port"},
         twoPorts},
    });
    return entries.get();
}

void finishSession(CheckState& state) {
    const auto& e = state.driver.entries();
    if (state.secondPortOpen && e.closeCVLPort != nullptr) {
        closePort(state, kSecondPort);
    }
    if (state.portOpen && e.closeCVLPort != nullptr) {
        closePort(state, kPort);
    }
    state.portOpen = state.secondPortOpen = false;
    if (state.initialized && e.finalize != nullptr) {
        state.driver.call("finalize", [&] { return e.finalize(); });
    }
    state.initialized = false;
}

}  // namespace quiltra::conformance

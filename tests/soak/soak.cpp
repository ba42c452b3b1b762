// The soak: camera images from four driver threads into two scanners (one threaded, one not)
// while host threads read every final image, change properties, run commands and reopen
// scanner ports, with dropped images, stalls, failed row reads and a slow resampler
// injected. At the end every image the driver delivered must be accounted for, every
// completion callback must have matched the scanner's counters, no final image may hold a
// torn band, and resident memory must be flat. A watchdog fails the run when nothing moves.
#include <quiltra/camera_driver.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_driver_library.h"
#include "fake_plugin.h"
#include "frame_stamp.h"
#include "soak_platform.h"
#include "test_support.h"

namespace {

using namespace quiltra;
using Clock = std::chrono::steady_clock;

constexpr int kCameraWidth = 64;  // wide and high enough for a frame stamp
constexpr int kCameraHeight = 20;
constexpr int kCameraPorts = 5;
constexpr int kDriverThreads = 4;
constexpr int kFirstScannerPort = 10;

#if defined(QUILTRA_SOAK_SANITIZED)
constexpr const char* kMemoryUnchecked = "a sanitizer build: its allocator holds freed memory";
#else
constexpr const char* kMemoryUnchecked = nullptr;
#endif

// The camera number a port's frame stamps carry.
int stampCamera(int port) {
    return port + 1;
}

struct ScannerSetup {
    const char* name;
    int port;
    std::vector<int> cameraPorts;
    int scans;
    bool threaded;
    int minScans;
};

const std::array<ScannerSetup, 2> kScanners = {{
    {"Scanner0001", kFirstScannerPort, {0, 1}, 3, true, 2},
    {"Scanner0002", kFirstScannerPort + 1, {2, 3, 4}, 2, false, 1},
}};

// The camera ports each driver thread announces images of.
const std::array<std::vector<int>, kDriverThreads> kThreadPorts = {{{0, 4}, {1}, {2}, {3}}};

enum class FaultKind {
    drop,           // the driver drops the image: its frame number is skipped
    failedRowRead,  // every row read of the image fails
    stall,          // the driver thread stops for `param` ms, beyond the grab timeout
    slowResampler,  // every resample takes `param` ms for the next 50 ticks
};

// Each fault hits `port` on every tick t with t % every == offset.
struct Fault {
    const char* name;
    FaultKind kind;
    int port;
    int every;
    int offset;
    int param;
};

constexpr int kSlowSpanTicks = 50;

const std::array<Fault, 7> kFaults = {{
    {"dropped image", FaultKind::drop, 1, 97, 13, 0},
    {"dropped image", FaultKind::drop, 3, 131, 70, 0},
    {"failed row read", FaultKind::failedRowRead, 0, 89, 40, 0},
    {"failed row read", FaultKind::failedRowRead, 4, 113, 5, 0},
    {"stall", FaultKind::stall, 2, 1999, 150, 60},
    {"stall", FaultKind::stall, 1, 2503, 400, 60},
    {"slow resampler", FaultKind::slowResampler, 0, 1009, 300, 3},
}};

struct Options {
    long long images = 20000;
    int reopenEvery = 400;  // images between two scanner port reopens
    int watchdogSeconds = 10;
    bool checkMemory = true;
};

// --- counters ----------------------------------------------------------------------------

using Counter = std::atomic<long long>;

struct PortCounters {
    Counter delivered{0};  // a callback took the image
    Counter dropped{0};    // the driver dropped it
    Counter rowFaults{0};  // its rows were made to fail
    Counter placed{0};     // "image port" messages
    Counter passedOn{0};   // the host's callback of the camera port
    Counter passThru{0};   // the scanner's callback with this camera's port
};

struct ScannerCounters {
    Counter fullImages{0};
    Counter timeoutImages{0};
    Counter unread{0};  // its port was being closed while the host read it
    Counter reopens{0};
    // ScanCount or Calib changes begun and finished. Either may leave an empty band (a new
    // final image, or an image processed with the old calibration placed after the change).
    Counter geometryBegun{0};
    Counter geometryDone{0};
    // The open instance: callbacks of final images, the timeouts counted at the last one, and
    // the geometry changes finished by then. Touched by its callbacks (the scanner's lock
    // orders them) and by the reopening thread while the port is closed.
    Counter callbacks{0};
    Counter lastTimeouts{0};
    Counter lastGeometryDone{0};
    // Final images of the open instance completed before the host set its callback (opening
    // the port and setting the callback are two calls), as its first callback finds them.
    Counter uncalled{0};
    Counter uncalledTotal{0};  // the same over every instance
};

struct Counters {
    std::array<PortCounters, kCameraPorts> ports;
    std::array<ScannerCounters, kScanners.size()> scanners;
    Counter timeoutMessages{0};
    Counter waitedMessages{0};
    Counter otherMessages{0};
    Counter stalls{0};
    Counter slowSpans{0};
    Counter bandsChecked{0};
    Counter zeroSegments{0};
    Counter commands{0};
    Counter commandsRefused{0};
    Counter mismatches{0};
    Counter ticks{0};
};

Counters counters;

void printCounters(std::FILE* out) {
    for (int port = 0; port < kCameraPorts; ++port) {
        const PortCounters& c = counters.ports[port];
        std::fprintf(out,
                     "port %d: delivered %lld, dropped by the driver %lld, failed row reads "
                     "%lld, placed %lld, passed on %lld, pass-through %lld\n",
                     port, c.delivered.load(), c.dropped.load(), c.rowFaults.load(),
                     c.placed.load(), c.passedOn.load(), c.passThru.load());
    }
    for (std::size_t s = 0; s < kScanners.size(); ++s) {
        const ScannerCounters& c = counters.scanners[s];
        std::fprintf(out,
                     "%s: final images %lld complete, %lld by the grab timeout, %lld unread "
                     "(port closing), %lld before the callback was set; %lld reopens, %lld "
                     "geometry changes\n",
                     kScanners[s].name, c.fullImages.load(), c.timeoutImages.load(),
                     c.unread.load(), c.uncalledTotal.load(), c.reopens.load(),
                     c.geometryDone.load());
    }
    std::fprintf(out,
                 "ticks %lld, stalls %lld, slow resampler spans %lld, bands checked %lld, "
                 "zero segments %lld, timeout messages %lld, waited messages %lld, other "
                 "messages %lld, commands %lld (%lld refused), mismatches %lld\n",
                 counters.ticks.load(), counters.stalls.load(), counters.slowSpans.load(),
                 counters.bandsChecked.load(), counters.zeroSegments.load(),
                 counters.timeoutMessages.load(), counters.waitedMessages.load(),
                 counters.otherMessages.load(), counters.commands.load(),
                 counters.commandsRefused.load(), counters.mismatches.load());
}

// A broken promise: what and where. The first few are printed; all are counted.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void mismatch(const char* format, ...) {
    if (counters.mismatches.fetch_add(1) >= 20) {
        return;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "MISMATCH: %s\n", text);
}

// --- the host's side ---------------------------------------------------------------------

void QUILTRA_CALL onDebugMessage(const char* text) {
    if (text == nullptr) {
        return;
    }
    if (const char* at = std::strstr(text, ": image port ")) {
        const int port = std::atoi(at + std::strlen(": image port "));
        if (port >= 0 && port < kCameraPorts) {
            ++counters.ports[port].placed;
            return;
        }
    } else if (std::strstr(text, ": image timeout") != nullptr) {
        ++counters.timeoutMessages;
        return;
    } else if (std::strncmp(text, "Waited ", 7) == 0) {
        ++counters.waitedMessages;
        return;
    }
    ++counters.otherMessages;
}

void QUILTRA_CALL onCameraImage(int /*grabber*/, int port) {
    if (port < 0 || port >= kCameraPorts) {
        mismatch("camera callback for port %d, which no camera uses", port);
        return;
    }
    ++counters.ports[port].passedOn;
}

// One final image to read: the scanner's port, geometry and how it was completed.
struct ReadJob {
    std::size_t scanner = 0;
    int width = 0;
    int height = 0;
    int scans = 0;
    // By the grab timeout, or the first after a geometry change (one begun since the last
    // final image, or still going on then).
    bool zeroAllowed = false;
};

// Checks one band of one camera in a final image: a whole image of that camera's frame,
// or all zero when allowed. Returns the frame, or nothing for a zero segment.
std::optional<uint32_t> checkSegment(const uint8_t* segment, int rowStride, int port,
                                     const ReadJob& job, int band) {
    const char* name = kScanners[job.scanner].name;
    bool zero = true;
    for (int row = 0; row < kCameraHeight && zero; ++row) {
        for (int column = 0; column < kCameraWidth && zero; ++column) {
            zero = segment[row * rowStride + column] == 0;
        }
    }
    if (zero) {
        ++counters.zeroSegments;
        if (!job.zeroAllowed) {
            mismatch("%s: band %d of camera port %d is empty in a complete final image", name, band,
                     port);
        }
        return std::nullopt;
    }
    const std::optional<simcam::FrameStamp> stamp =
        simcam::readFrameStamp(segment, kCameraWidth, kCameraHeight, rowStride, 1);
    if (!stamp || stamp->camera != stampCamera(port)) {
        mismatch("%s: band %d of camera port %d has no frame stamp of camera %d", name, band, port,
                 stampCamera(port));
        return std::nullopt;
    }
    const int frame = static_cast<int>(stamp->frame);
    for (int row = 0; row < kCameraHeight; ++row) {
        for (int column = 0; column < kCameraWidth; ++column) {
            const uint8_t expected = fake::servedByte(
                port, row, column, 0, frame, stampCamera(port), kCameraWidth, kCameraHeight);
            if (segment[row * rowStride + column] != expected) {
                mismatch(
                    "%s: torn band %d of camera port %d: frame %d, but row %d column %d "
                    "holds %d instead of %d",
                    name, band, port, frame, row, column, segment[row * rowStride + column],
                    expected);
                return std::nullopt;
            }
        }
    }
    return stamp->frame;
}

// The host thread that reads every final image while its completion callback waits.
class FinalImageReader {
public:
    FinalImageReader() : thread_([this] { run(); }) {}
    ~FinalImageReader() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // Called by a completion callback: returns once the image has been read and checked.
    void read(const ReadJob& job) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !job_.has_value(); });
        job_ = job;
        done_ = false;
        changed_.notify_all();
        changed_.wait(lock, [&] { return done_; });
        job_.reset();
        changed_.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || (job_.has_value() && !done_); });
            if (stopping_) {
                return;
            }
            const ReadJob job = *job_;
            lock.unlock();
            check(job);
            lock.lock();
            done_ = true;
            changed_.notify_all();
        }
    }

    void check(const ReadJob& job) {
        const ScannerSetup& setup = kScanners[job.scanner];
        const std::size_t cameras = setup.cameraPorts.size();
        if (job.width != static_cast<int>(cameras) * kCameraWidth || job.scans < 1 ||
            job.height != job.scans * kCameraHeight) {
            mismatch("%s: final image %d x %d for %d scans", setup.name, job.width, job.height,
                     job.scans);
            return;
        }
        image_.assign(static_cast<std::size_t>(job.width) * job.height, 0);
        for (int row = 0; row < job.height; ++row) {
            if (getCVLGrabRow(0, setup.port, image_.data() + row * job.width, row, 0,
                              job.width - 1) != 1) {
                ++counters.scanners[job.scanner].unread;
                return;
            }
        }
        for (std::size_t i = 0; i < cameras; ++i) {
            const int port = setup.cameraPorts[i];
            std::optional<uint32_t> previous;
            for (int band = 0; band < job.scans; ++band) {
                const uint8_t* segment =
                    image_.data() + static_cast<std::size_t>(band) * kCameraHeight * job.width +
                    i * kCameraWidth;
                ++counters.bandsChecked;
                const std::optional<uint32_t> frame =
                    checkSegment(segment, job.width, port, job, band);
                if (frame && previous && *frame <= *previous) {
                    mismatch("%s: camera port %d shows frame %u in band %d after frame %u",
                             setup.name, port, *frame, band, *previous);
                }
                if (frame) {
                    previous = frame;
                }
            }
        }
    }

    std::mutex mutex_;  // guards job_, done_, stopping_
    std::condition_variable changed_;
    std::optional<ReadJob> job_;
    bool done_ = false;
    bool stopping_ = false;
    std::vector<uint8_t> image_;  // the reader thread's only
    std::thread thread_;
};

FinalImageReader* reader = nullptr;

// "'imageCount': N, 'activeGrabTimeoutCount': M" out of the "get value=imageStatus" reply.
bool readStatus(int port, long long& images, long long& timeouts) {
    char reply[1024] = {};
    if (execCmd(0, port, "get", "value=imageStatus", reply, sizeof reply) != 1) {
        return false;
    }
    int imageCount = 0;
    int timeoutCount = 0;
    if (std::sscanf(reply, "{'imageCount': %d, 'activeGrabTimeoutCount': %d", &imageCount,
                    &timeoutCount) != 2) {
        return false;
    }
    images = imageCount;
    timeouts = timeoutCount;
    return true;
}

// The scanners' completion callback. A final image runs with the scanner's lock held, so
// its counters read here are exactly those of this image.
void QUILTRA_CALL onScannerImage(int /*grabber*/, int port) {
    if (port >= 0 && port < kCameraPorts) {
        ++counters.ports[port].passThru;
        return;
    }
    const std::size_t s = static_cast<std::size_t>(port - kFirstScannerPort);
    if (port < kFirstScannerPort || s >= kScanners.size()) {
        mismatch("scanner callback for port %d", port);
        return;
    }
    ScannerCounters& c = counters.scanners[s];
    const long long callbacks = ++c.callbacks;
    long long images = 0;
    long long timeouts = 0;
    if (!readStatus(port, images, timeouts)) {
        ++c.unread;  // the port is being closed: its slot no longer answers
        return;
    }
    if (callbacks == 1) {
        c.uncalled = images + timeouts - 1;
        c.uncalledTotal += c.uncalled.load();
    }
    if (images + timeouts != c.uncalled.load() + callbacks) {
        mismatch(
            "%s: completion callback %lld (after %lld final images completed before the "
            "callback was set), but the scanner counts %lld images and %lld grab timeouts",
            kScanners[s].name, callbacks, c.uncalled.load(), images, timeouts);
    }
    const bool byTimeout = timeouts != c.lastTimeouts.exchange(timeouts);
    ++(byTimeout ? c.timeoutImages : c.fullImages);
    const bool geometryChanged =
        c.geometryBegun.load() != c.lastGeometryDone.exchange(c.geometryDone.load());

    ReadJob job;
    job.scanner = s;
    job.zeroAllowed = byTimeout || geometryChanged;
    if (getProperty(0, port, "Width", &job.width) != 1 ||
        getProperty(0, port, "Height", &job.height) != 1 ||
        getProperty(0, port, "ScanCount", &job.scans) != 1) {
        ++c.unread;
        return;
    }
    reader->read(job);
}

// --- the driver's side -------------------------------------------------------------------

// The driver threads' tick: each waits until all have arrived, then all go on. (A mutex and
// a condition variable: std::barrier of the MinGW runtime lost wake-ups under Wine.)
class Tick {
public:
    explicit Tick(int threads) : threads_(threads) {}

    void arriveAndWait() {
        std::unique_lock lock(mutex_);
        const long long generation = generation_;
        if (++arrived_ == threads_) {
            next();
            return;
        }
        changed_.wait(lock, [&] { return generation_ != generation; });
    }
    // A thread that has finished: the others no longer wait for it.
    void leave() {
        std::lock_guard lock(mutex_);
        --threads_;
        if (threads_ > 0 && arrived_ == threads_) {
            next();
        }
    }

private:
    void next() {
        arrived_ = 0;
        ++generation_;
        changed_.notify_all();
    }

    std::mutex mutex_;  // guards the three counts
    std::condition_variable changed_;
    int threads_;
    int arrived_ = 0;
    long long generation_ = 0;
};

class Soak {
public:
    Soak(const Options& options, fake::FakeDriverControl& driver, test::FakePlugin& resampler)
        : options_(options),
          driver_(driver),
          resampler_(resampler),
          ticks_((options.images + kCameraPorts - 1) / kCameraPorts),
          tick_(kDriverThreads) {}

    void driverThread(int index) {
        for (long long tick = 0; tick < ticks_ && !abandoned_.load(); ++tick) {
            tick_.arriveAndWait();
            for (int port : kThreadPorts[index]) {
                announce(tick, port);
            }
            if (index == 0) {
                ++counters.ticks;
            }
        }
        tick_.leave();
    }

    // Closes and reopens the scanner ports in turn, every reopenEvery images.
    void reopenThread() {
        long long next = options_.reopenEvery;
        std::size_t s = 0;
        while (!stopping_.load()) {
            if (announced() < next) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            next += options_.reopenEvery;
            const ScannerSetup& setup = kScanners[s];
            ScannerCounters& c = counters.scanners[s];
            closeCVLPort(0, setup.port);
            // No callback of the closed scanner runs any more: the next instance counts anew.
            c.callbacks = 0;
            c.uncalled = 0;
            c.lastTimeouts = 0;
            c.lastGeometryDone = c.geometryDone.load();
            openScanner(setup);
            ++c.reopens;
            s = (s + 1) % kScanners.size();
        }
    }

    // Sets properties and runs commands on both scanners, one every 10 ms (a "reset"
    // cancels the grab timeout, so resets must be rarer than stalls are long).
    void controlThread() {
        struct Action {
            std::size_t scanner;
            const char* name;       // a property, or a command when `arguments` is set
            const char* arguments;  // null for a property
            int value;
            bool geometry;  // changes the final image's geometry
        };
        static const Action kActions[] = {
            {0, "stat", "", 0, false},
            {1, "get", "value=imageStatus", 0, false},
            {0, "ActiveGrabTimeout", nullptr, 30, false},
            {1, "reset", "", 0, false},
            {0, "MinScanCount", nullptr, 1, false},
            {1, "Calib", nullptr, 0, true},
            {0, "clear", "fill=-1", 0, false},
            {1, "stat", "", 0, false},
            {0, "ActiveGrabTimeout", nullptr, 20, false},
            {0, "MinScanCount", nullptr, 2, false},
            {0, "Verbose", nullptr, 1, false},
            {1, "clear", "fill=0", 0, false},
            {0, "Calib", nullptr, 0, true},
            {1, "ActiveGrabTimeout", nullptr, 25, false},
        };
        constexpr std::size_t kActionCount = sizeof kActions / sizeof kActions[0];
        for (long long step = 0; !stopping_.load(); ++step) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            // Every so often the threaded scanner's scan count changes, and changes back.
            if (step % 100 == 50 || step % 100 == 99) {
                ScannerCounters& c = counters.scanners[0];
                ++c.geometryBegun;
                const int scans = step % 100 == 50 ? 2 : kScanners[0].scans;
                count(setProperty(0, kScanners[0].port, "ScanCount", scans));
                ++c.geometryDone;
                continue;
            }
            const Action& action = kActions[static_cast<std::size_t>(step) % kActionCount];
            const int port = kScanners[action.scanner].port;
            ScannerCounters& c = counters.scanners[action.scanner];
            if (action.geometry) {
                ++c.geometryBegun;
            }
            if (action.arguments == nullptr) {
                count(setProperty(0, port, action.name, action.value));
                int value = 0;
                count(getProperty(0, port, action.name, &value));
            } else {
                char reply[1024];
                count(execCmd(0, port, action.name, action.arguments, reply, sizeof reply));
            }
            if (action.geometry) {
                ++c.geometryDone;
            }
        }
    }

    void openScanner(const ScannerSetup& setup) {
        int size[2] = {0, 0};
        if (openCVLPort(0, setup.port, setup.name, size) != 1 ||
            setCompleteCallback(0, setup.port, &onScannerImage) != 1) {
            mismatch("%s does not open on port %d", setup.name, setup.port);
        }
    }

    long long announced() const {
        long long total = 0;
        for (const PortCounters& c : counters.ports) {
            total += c.delivered.load() + c.dropped.load();
        }
        return total;
    }

    void stop() { stopping_ = true; }
    void abandon() { abandoned_ = true; }

private:
    void count(int answer) {
        ++counters.commands;
        if (answer != 1) {
            ++counters.commandsRefused;  // the port is being reopened, say
        }
    }

    // One image of `port` at `tick`, with the faults the table puts there.
    void announce(long long tick, int port) {
        PortCounters& c = counters.ports[port];
        bool drop = false;
        bool failRows = false;
        for (const Fault& fault : kFaults) {
            if (fault.port != port) {
                continue;
            }
            const long long phase = tick % fault.every;
            switch (fault.kind) {
                case FaultKind::drop:
                    drop = drop || phase == fault.offset;
                    break;
                case FaultKind::failedRowRead:
                    failRows = failRows || phase == fault.offset;
                    break;
                case FaultKind::stall:
                    if (phase == fault.offset) {
                        ++counters.stalls;
                        std::this_thread::sleep_for(std::chrono::milliseconds(fault.param));
                    }
                    break;
                case FaultKind::slowResampler:
                    if (phase == fault.offset) {
                        ++counters.slowSpans;
                        resampler_.set("delayMs", fault.param);
                    } else if (phase == fault.offset + kSlowSpanTicks) {
                        resampler_.set("delayMs", 0);
                    }
                    break;
            }
        }
        if (drop) {
            driver_.dropImage(port);
            ++c.dropped;
            return;
        }
        if (failRows) {
            driver_.setPortResult("getCVLGrabRow", port, 0);
            ++c.rowFaults;
        }
        if (driver_.deliverHere(0, port)) {
            ++c.delivered;
        } else {
            mismatch("the driver had no callback for camera port %d", port);
        }
        if (failRows) {
            driver_.setPortResult("getCVLGrabRow", port, 1);
        }
    }

    const Options options_;
    fake::FakeDriverControl& driver_;
    test::FakePlugin& resampler_;
    const long long ticks_;
    Tick tick_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> abandoned_{false};
};

// --- the run -----------------------------------------------------------------------------

std::string sections(const std::string& driverPath, const std::string& resamplerPath) {
    std::string text =
        "[Config]\nCameraDriver=" + driverPath + "\nVerbose=1\nResampleDLL=" + resamplerPath + "\n";
    for (const ScannerSetup& setup : kScanners) {
        const int cameras = static_cast<int>(setup.cameraPorts.size());
        text += std::string("[") + setup.name + "]\nCameras=" + std::to_string(cameras) +
                "\nScans=" + std::to_string(setup.scans) +
                "\nThreaded=" + (setup.threaded ? "1" : "0") +
                "\nSize_x=" + std::to_string(kCameraHeight) +
                "\nSize_y=" + std::to_string(kCameraWidth * cameras) +
                "\nActiveGrabTimeout=20\nMinScans=" + std::to_string(setup.minScans) + "\n";
        for (int i = 0; i < cameras; ++i) {
            text += std::string("[") + setup.name + ".Camera" + std::to_string(i + 1) +
                    "]\nPort=" + std::to_string(setup.cameraPorts[i]) + "\n";
        }
    }
    return text;
}

// Lines of the debugger output that contain `text`.
long long countLines(const std::string& file, const char* text) {
    std::ifstream in(file);
    long long count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

long long sum(Counter PortCounters::*member) {
    long long total = 0;
    for (const PortCounters& c : counters.ports) {
        total += (c.*member).load();
    }
    return total;
}

// Progress as one number: it moves while images flow (host commands do not count: they go
// on while images may not).
long long progress() {
    return sum(&PortCounters::delivered) + sum(&PortCounters::dropped) +
           sum(&PortCounters::placed) + sum(&PortCounters::passedOn) + counters.bandsChecked.load();
}

// Waits until `done` is true, failing the run when progress() stands still for the
// watchdog's time. `idle` is called every 100 ms.
template <typename Done, typename Idle>
void watch(const Options& options, Done done, Idle idle) {
    long long last = progress();
    auto lastMove = Clock::now();
    while (!done()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        idle();
        const long long now = progress();
        if (now != last) {
            last = now;
            lastMove = Clock::now();
        } else if (Clock::now() - lastMove > std::chrono::seconds(options.watchdogSeconds)) {
            std::fprintf(stderr, "watchdog: nothing progressed for %d s\n",
                         options.watchdogSeconds);
            printCounters(stderr);
            std::fflush(stderr);
            std::_Exit(3);
        }
    }
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--images" && i + 1 < argc) {
            options.images = std::atoll(argv[++i]);
        } else if (arg == "--reopen-every" && i + 1 < argc) {
            options.reopenEvery = std::atoi(argv[++i]);
        } else if (arg == "--watchdog" && i + 1 < argc) {
            options.watchdogSeconds = std::atoi(argv[++i]);
        } else if (arg == "--no-memory-check") {
            options.checkMemory = false;
        } else {
            return false;
        }
    }
    return options.images > 0 && options.reopenEvery > 0 && options.watchdogSeconds > 0;
}

// The accounting at the end: every image delivered was placed, passed on, or dropped with a
// message on the debugger output (a failed collection: failing rows, or a full ring); the grab
// timeouts agree between the debugger output, the host's debug procedure and the final images they
// completed.
void account(const std::string& debugFile) {
    const long long collectFailures = countLines(debugFile, "collectImage returned 0");
    const long long processFailures = countLines(debugFile, "processImage returned 0");
    const long long closingDrops = countLines(debugFile, "BUSY:camera image dropped");
    const long long timeoutLines = countLines(debugFile, ": image timeout");
    const long long delivered = sum(&PortCounters::delivered);
    const long long placed = sum(&PortCounters::placed);
    const long long passedOn = sum(&PortCounters::passedOn);
    const long long withMessage = collectFailures + processFailures + closingDrops;
    std::printf(
        "accounting: %lld placed + %lld passed on + %lld dropped with a message "
        "(%lld failed collections, %lld failed processing, %lld while a scanner "
        "closed) = %lld of %lld delivered\n",
        placed, passedOn, withMessage, collectFailures, processFailures, closingDrops,
        placed + passedOn + withMessage, delivered);
    if (placed + passedOn + withMessage != delivered) {
        mismatch("%lld delivered images are not accounted for",
                 delivered - placed - passedOn - withMessage);
    }
    if (timeoutLines != counters.timeoutMessages.load()) {
        mismatch("%lld grab timeouts on the debugger output, %lld at the host", timeoutLines,
                 counters.timeoutMessages.load());
    }
    long long byTimeout = 0;
    for (const ScannerCounters& c : counters.scanners) {
        byTimeout += c.timeoutImages.load();
        if (c.unread.load() > c.reopens.load() + 1) {
            mismatch("%lld final images unread, more than the %lld reopens", c.unread.load(),
                     c.reopens.load());
        }
    }
    if (byTimeout > timeoutLines) {
        mismatch("%lld final images by the grab timeout, but %lld timeouts", byTimeout,
                 timeoutLines);
    }
}

int run(const Options& options) {
    test::TempDir dir;
    const std::string debugFile = dir.file("debug-output.txt");
    soak::setEnvironment("QUILTRA_DEBUG_OUTPUT", debugFile.c_str());

    fake::FakeDriverLibrary driver(test::libraryPath("fake_driver"));
    test::FakePlugin resampler("fake_resampler");
    resampler.set("log", 0);
    driver->setCallLog(false);
    driver->setImageSize(-1, kCameraWidth, kCameraHeight);
    driver->setPropertyValue(-1, "PixelSize", 8);
    for (int port = 0; port < kCameraPorts; ++port) {
        driver->setFrameStamp(port, stampCamera(port));
    }
    test::writeFile(dir.file("Quiltra.ini"),
                    sections(test::libraryPath("fake_driver"), resampler.path()));
    if (initialize(dir.str().c_str(), &onDebugMessage) != 1) {
        std::fprintf(stderr, "initialize failed\n");
        return 1;
    }
    for (int port = 0; port < kCameraPorts; ++port) {
        int size[2] = {0, 0};
        if (openCVLPort(0, port, "Camera", size) != 1 ||
            setCompleteCallback(0, port, &onCameraImage) != 1) {
            std::fprintf(stderr, "camera port %d does not open\n", port);
            return 1;
        }
    }
    FinalImageReader finalImages;
    reader = &finalImages;
    Soak soak(options, driver.control(), resampler);
    for (const ScannerSetup& setup : kScanners) {
        soak.openScanner(setup);
    }

    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < kDriverThreads; ++i) {
        threads.emplace_back([&soak, i] { soak.driverThread(i); });
    }
    std::thread reopening([&soak] { soak.reopenThread(); });
    std::thread control([&soak] { soak.controlThread(); });

    // Warm-up: the first tenth of the images, with every thread and cache in use.
    const long long warmUp = options.images / 10;
    std::optional<long long> warmRss;
    watch(
        options, [&] { return soak.announced() >= options.images; },
        [&] {
            if (!warmRss && soak.announced() >= warmUp) {
                warmRss = soak::residentBytes();
            }
        });
    const std::optional<long long> endRss = soak::residentBytes();
    for (std::thread& thread : threads) {
        thread.join();
    }
    soak.stop();
    reopening.join();
    control.join();
    // Threaded cameras may still be processing: wait until nothing moves for 300 ms.
    long long settled = -1;
    int quiet = 0;
    watch(
        options, [&] { return quiet >= 3; },
        [&] {
            const long long now = sum(&PortCounters::placed) + sum(&PortCounters::passedOn);
            quiet = now == settled ? quiet + 1 : 0;
            settled = now;
        });
    const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const ScannerSetup& setup : kScanners) {
        closeCVLPort(0, setup.port);
    }
    for (int port = 0; port < kCameraPorts; ++port) {
        closeCVLPort(0, port);
    }
    finalize();
    reader = nullptr;

    printCounters(stdout);
    std::printf("images: %lld announced, %lld delivered, %lld dropped by the driver\n",
                soak.announced(), sum(&PortCounters::delivered), sum(&PortCounters::dropped));
    account(debugFile);
    std::printf("duration: %.1f s, %.0f images/s\n", seconds,
                static_cast<double>(sum(&PortCounters::delivered)) / seconds);
    if (!options.checkMemory || kMemoryUnchecked != nullptr) {
        std::printf("memory: not checked (%s)\n",
                    kMemoryUnchecked != nullptr ? kMemoryUnchecked : "--no-memory-check");
    } else if (!warmRss || !endRss) {
        std::printf("memory: not checked (%s)\n", soak::residentBytesUnavailable());
    } else {
        const double growth =
            (static_cast<double>(*endRss) - static_cast<double>(*warmRss)) / *warmRss * 100.0;
        std::printf("memory: resident %.1f MB after warm-up, %.1f MB at the end (%+.1f%%)\n",
                    *warmRss / 1e6, *endRss / 1e6, growth);
        if (growth > 5.0 || growth < -5.0) {
            mismatch("resident size changed by %.1f%% after warm-up", growth);
        }
    }
    const long long failures = counters.mismatches.load();
    std::printf("%s: %lld mismatches\n", failures == 0 ? "PASS" : "FAIL", failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Unbuffered, so that a run killed from outside still shows how far it came.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: quiltra_soak [--images N] [--reopen-every N] [--watchdog SECONDS] "
                     "[--no-memory-check]\n");
        return 2;
    }
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "soak: %s\n", error.what());
        return 1;
    }
}

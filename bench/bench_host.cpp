#include "bench_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <utility>
#include <vector>

#include "allocation_counter.h"
#include "platform/thread_annotations.h"

namespace quiltra::bench {

namespace {

// The longest wait for one final image; far beyond any case's cycle time.
constexpr std::chrono::seconds kCompletionWait{10};

// The scanner completions the host has been told of, for the one open session.
struct Completions {
    std::mutex mutex;  // guards the fields below
    std::condition_variable arrived;
    std::uint64_t count QUILTRA_GUARDED_BY(mutex) = 0;  // of the scanner port
    int scannerPort QUILTRA_GUARDED_BY(mutex) = -1;
    std::uint64_t others QUILTRA_GUARDED_BY(mutex) = 0;  // calls for any other port
};

Completions& completions() {
    static Completions state;
    return state;
}

// The scanner port's completion callback; runs on Quiltra's threads or, for cameras that
// do not use a worker, inside the hook on the benchmark's thread.
void QUILTRA_CALL onComplete(int /*grabber*/, int port) {
    Completions& state = completions();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (port != state.scannerPort) {
            ++state.others;
            return;
        }
        ++state.count;
    }
    state.arrived.notify_one();
}

struct DebugMessages {
    std::atomic<std::uint64_t> count{0};
    std::mutex mutex;  // guards last
    char last[512] QUILTRA_GUARDED_BY(mutex) = {};
};

DebugMessages& debugMessageLog() {
    static DebugMessages log;
    return log;
}

// Quiltra's debug messages: counted (a wait of the hook for a busy camera worker is one),
// the last kept for error reports. Allocates nothing, since it may run inside the timing.
void QUILTRA_CALL onDebugMessage(const char* text) {
    DebugMessages& log = debugMessageLog();
    log.count.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(log.mutex);
    std::snprintf(log.last, sizeof log.last, "%s", text != nullptr ? text : "");
}

std::string cameraName(int camera) {
    return "MemCam" + std::to_string(camera + 1);
}

std::string withLastMessage(std::string text) {
    const std::string last = QuiltraHost::lastDebugMessage();
    if (!last.empty()) {
        text += " (last debug message: " + last + ")";
    }
    return text;
}

}  // namespace

std::string PipelineCase::label() const {
    std::string text = geometry.label() + "/threaded:" + (threaded ? "1" : "0");
    if (grabTimeoutMs != 0) {
        text += "/timeout:" + std::to_string(grabTimeoutMs);
    }
    return text;
}

// --- ScannerSession -------------------------------------------------------------------------

ScannerSession::ScannerSession(const tools::DriverEntryPoints& quiltra, MemoryDriverControl& driver,
                               const PipelineCase& pipelineCase)
    : quiltra_(quiltra), driver_(driver), case_(pipelineCase) {}

ScannerSession::~ScannerSession() {
    if (scannerOpen_) {
        quiltra_.closeCVLPort(0, scannerPort_);
    }
    for (int camera = openedCameras_ - 1; camera >= 0; --camera) {
        quiltra_.closeCVLPort(0, camera);
    }
    std::lock_guard<std::mutex> lock(completions().mutex);
    completions().scannerPort = -1;
}

bool ScannerSession::open(int warmUp, std::string& error) {
    const Geometry& geometry = case_.geometry;
    for (int camera = 0; camera < geometry.cameras; ++camera) {
        int size[2] = {0, 0};
        if (quiltra_.openCVLPort(0, camera, cameraName(camera).c_str(), size) != 1) {
            error = withLastMessage("Quiltra did not open " + cameraName(camera) + " on port " +
                                    std::to_string(camera));
            return false;
        }
        ++openedCameras_;
    }
    scannerPort_ = geometry.cameras;
    int size[2] = {0, 0};
    if (quiltra_.openCVLPort(0, scannerPort_, "Scanner0001", size) != 1) {
        error = withLastMessage("Quiltra did not open Scanner0001 on port " +
                                std::to_string(scannerPort_));
        return false;
    }
    scannerOpen_ = true;
    const int expectedWidth = geometry.cameras * geometry.width;
    const int expectedHeight = geometry.scans * geometry.height;
    if (size[0] != expectedWidth || size[1] != expectedHeight) {
        error = "Scanner0001 reports a final image of " + std::to_string(size[0]) + "x" +
                std::to_string(size[1]) + ", not " + std::to_string(expectedWidth) + "x" +
                std::to_string(expectedHeight);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(completions().mutex);
        completions().count = 0;
        completions().scannerPort = scannerPort_;
    }
    if (quiltra_.setCompleteCallback(0, scannerPort_, &onComplete) != 1) {
        error = "Quiltra refused the completion callback of the scanner port";
        return false;
    }
    for (int image = 0; image < warmUp; ++image) {
        const char* failure = nullptr;
        if (!grabOne(failure)) {
            error = withLastMessage(failure);
            return false;
        }
    }
    return verifyFinalImage(error);
}

bool ScannerSession::grabOne(const char*& error) {
    for (int scan = 0; scan < case_.geometry.scans; ++scan) {
        if (quiltra_.doCVLGrab(0, scannerPort_) != 1) {
            broken_ = true;
            error =
                "doCVLGrab on the scanner port answered 0 (a Quiltra without the scanner grab "
                "cycle answers so)";
            return false;
        }
    }
    driver_.deliverQueued();
    const std::uint64_t target = completed_ + 1;
    Completions& state = completions();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.arrived.wait_for(lock, kCompletionWait, [&] { return state.count >= target; })) {
        broken_ = true;
        error = "no final image within 10 s of the grab";
        return false;
    }
    if (state.count != target) {
        broken_ = true;
        error = "more than one final image for one image of every camera and scan";
        return false;
    }
    completed_ = target;
    return true;
}

bool ScannerSession::verifyFinalImage(std::string& error) {
    const Geometry& geometry = case_.geometry;
    const int width = geometry.cameras * geometry.width;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
    for (int y = 0; y < geometry.scans * geometry.height; ++y) {
        if (quiltra_.getCVLGrabRow(0, scannerPort_, row.data(), y, 0, width - 1) != 1) {
            error = "getCVLGrabRow of row " + std::to_string(y) + " of the final image failed";
            return false;
        }
        for (int x = 0; x < width; ++x) {
            const std::uint8_t expected =
                memoryPixel(x / geometry.width, y % geometry.height, x % geometry.width);
            if (row[static_cast<std::size_t>(x)] != expected) {
                error = "the final image differs from the cameras' images at column " +
                        std::to_string(x) + ", row " + std::to_string(y);
                return false;
            }
        }
    }
    return true;
}

// --- QuiltraHost ----------------------------------------------------------------------------

QuiltraHost::QuiltraHost(std::string programFolder, std::string systemFolder)
    : programFolder_(std::move(programFolder)), systemFolder_(std::move(systemFolder)) {}

QuiltraHost::~QuiltraHost() {
    session_.reset();
    models_.reset();
    if (initialized_) {
        quiltra_->entries().finalize();
    }
}

bool QuiltraHost::start(std::string& error) {
    quiltra_ = std::make_unique<tools::DriverLibrary>(programFolder_ + "/libquiltra.so");
    if (!quiltra_->loaded()) {
        error = quiltra_->error();
        return false;
    }
    const std::string driverPath = programFolder_ + "/libbench_memory_driver.so";
    driverLibrary_ = platform::DynamicLibrary::load(driverPath.c_str());
    auto controlEntry = driverLibrary_.function<MemoryDriverControlFn>(kMemoryDriverControlEntry);
    driverPorts_.openCVLPort = driverLibrary_.function<OpenCVLPortFn>("openCVLPort");
    driverPorts_.closeCVLPort = driverLibrary_.function<CloseCVLPortFn>("closeCVLPort");
    driverPorts_.getCVLGrabRow = driverLibrary_.function<GetCVLGrabRowFn>("getCVLGrabRow");
    if (controlEntry == nullptr || driverPorts_.openCVLPort == nullptr ||
        driverPorts_.closeCVLPort == nullptr || driverPorts_.getCVLGrabRow == nullptr) {
        error = driverPath + " is missing or is not the memory driver";
        return false;
    }
    control_ = controlEntry();
    if (!writeConfiguration(nullptr, error)) {
        return false;
    }
    // initialize makes the library's driver binding on its heap: the check that the
    // program's counting operator new sees allocations inside libquiltra.so.
    const std::uint64_t before = allocationCount();
    const int started = quiltra_->entries().initialize(systemFolder_.c_str(), &onDebugMessage);
    countsLibraryAllocations_ = allocationCount() > before;
    if (started != 1) {
        error = withLastMessage("Quiltra's initialize answered " + std::to_string(started));
        return false;
    }
    initialized_ = true;
    return true;
}

bool QuiltraHost::configure(const Geometry& geometry, std::string& error) {
    if (configured_ == geometry) {
        return true;
    }
    // The driver changes its cameras only while no port is open.
    session_.reset();
    models_.reset();
    configured_ = Geometry{};
    if (!control_->setCameras(geometry.cameras, geometry.width, geometry.height)) {
        error = "the memory driver refused " + geometry.label();
        return false;
    }
    configured_ = geometry;
    return true;
}

CopyModels* QuiltraHost::models(const Geometry& geometry, std::string& error) {
    if (!configure(geometry, error)) {
        return nullptr;
    }
    if (models_ == nullptr) {
        std::vector<const std::uint8_t*> sources;
        for (int camera = 0; camera < geometry.cameras; ++camera) {
            sources.push_back(control_->image(camera));
        }
        models_ = std::make_unique<CopyModels>(geometry, driverPorts_, std::move(sources));
        if (!models_->error().empty()) {
            error = models_->error();
            models_.reset();
            return nullptr;
        }
    }
    return models_.get();
}

ScannerSession* QuiltraHost::session(const PipelineCase& pipelineCase, std::string& error) {
    if (!configure(pipelineCase.geometry, error)) {
        return nullptr;
    }
    if (session_ != nullptr && session_->pipelineCase() == pipelineCase && !session_->broken()) {
        return session_.get();
    }
    session_.reset();
    if (!writeConfiguration(&pipelineCase, error)) {
        return nullptr;
    }
    // Every ring buffer used once before anything is timed.
    const int scans = pipelineCase.geometry.scans;
    const int warmUp = std::max(3, (CopyModels::kRingSize + scans - 1) / scans + 1);
    session_ = std::make_unique<ScannerSession>(quiltra_->entries(), *control_, pipelineCase);
    if (!session_->open(warmUp, error)) {
        session_.reset();
        return nullptr;
    }
    return session_.get();
}

std::uint64_t QuiltraHost::debugMessages() {
    return debugMessageLog().count.load(std::memory_order_relaxed);
}

std::string QuiltraHost::lastDebugMessage() {
    DebugMessages& log = debugMessageLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    std::string text = log.last;
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Quiltra.ini: the memory driver as the camera driver and, for a pipeline case,
// Scanner0001 over cameras 1..N on ports 0..N-1 at pitch 1, so that each camera's output
// image is its whole image; no pass-through notifications.
bool QuiltraHost::writeConfiguration(const PipelineCase* pipelineCase, std::string& error) const {
    const std::string path = systemFolder_ + "/Quiltra.ini";
    std::ofstream file(path, std::ios::trunc);
    file << "[Config]\n"
         << "CameraDriver=" << programFolder_ << "/libbench_memory_driver.so\n"
         << "Verbose=0\n";
    if (pipelineCase != nullptr) {
        const Geometry& geometry = pipelineCase->geometry;
        file << "[Scanner0001]\n"
             << "Cameras=" << geometry.cameras << "\n"
             << "Scans=" << geometry.scans << "\n"
             << "Overlap=0\n"
             << "ActiveGrabTimeout=" << pipelineCase->grabTimeoutMs << "\n"
             << "MinScans=0\n"
             << "TopLeft_x=0\nTopLeft_y=0\n"
             << "Size_x=" << geometry.height << "\n"
             << "Size_y=" << geometry.cameras * geometry.width << "\n"
             << "Pitch_x=1\nPitch_y=1\n"
             << "PassThru=-\n"
             << "Active=0\n"
             << "Threaded=" << (pipelineCase->threaded ? 1 : 0) << "\n";
        for (int camera = 0; camera < geometry.cameras; ++camera) {
            file << "[Scanner0001.Camera" << camera + 1 << "]\n"
                 << "Port=" << camera << "\n";
        }
    }
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace quiltra::bench

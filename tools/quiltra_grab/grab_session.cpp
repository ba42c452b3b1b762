#include "grab_session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "frame_stamp.h"
#include "png_file.h"

namespace quiltra::grab {

std::atomic<GrabSession*> GrabSession::current_{nullptr};
std::atomic<bool> GrabSession::stopRequested_{false};

void GrabSession::requestStop() {
    stopRequested_.store(true);
}

namespace {

using Clock = std::chrono::steady_clock;

// The reply buffer of a --cmd.
constexpr int kCommandReplySize = 4096;

bool isScannerName(const char* name) {
    return std::strncmp(name, "Scanner000", 10) == 0 && name[10] >= '1' && name[10] <= '6' &&
           name[11] == '\0';
}

// A name made safe for a file name.
std::string fileNamePart(const std::string& name) {
    std::string safe;
    for (char c : name) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
        safe += plain ? c : '_';
    }
    return safe.empty() ? "port" : safe;
}

}  // namespace

std::string GrabSession::imageFileName(const std::string& name, int port, int index) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "_port%d_%04d.png", port, index);
    return fileNamePart(name) + suffix;
}

GrabSession::GrabSession(const GrabOptions& options, Console& console)
    : options_(options), console_(console) {}

GrabSession::~GrabSession() {
    if (library_ == nullptr || !library_->loaded()) {
        return;
    }
    const tools::DriverEntryPoints& driver = library_->entries();
    for (auto port = ports_.rbegin(); port != ports_.rend(); ++port) {
        driver.closeCVLPort(0, port->port);
    }
    if (initialized_) {
        driver.finalize();
    }
    current_.store(nullptr);
}

void GrabSession::fail(int code, const std::string& message) {
    console_.err("quiltra-grab: error: " + message);
    ++failures_;
    if (exitCode_ == kExitOk) {
        exitCode_ = code;
    }
}

int GrabSession::run() {
    if (int code = initializeDriver(); code != kExitOk) {
        return code;
    }
    if (options_.listOnly) {
        return kExitOk;
    }
    if (int code = openPorts(); code != kExitOk) {
        return code;
    }
    for (const ControlGroup& group : options_.controls) {
        if (group.beforeGrabbing() && !runControls(group, 0)) {
            return exitCode_;
        }
    }
    prepareScanners();
    std::error_code error;
    if (!options_.noSave) {
        std::filesystem::create_directories(options_.outDir, error);
    }
    if (error) {
        fail(kExitImage,
             "cannot create the output folder " + options_.outDir + ": " + error.message());
        return exitCode_;
    }
    grabAll();
    return exitCode_;
}

int GrabSession::initializeDriver() {
    libraryPath_ = options_.library.empty() ? tools::defaultLibraryPath() : options_.library;
    library_ = std::make_unique<tools::DriverLibrary>(libraryPath_);
    if (!library_->loaded()) {
        fail(kExitLibrary, library_->error());
        return exitCode_;
    }
    const tools::DriverEntryPoints& driver = library_->entries();
    std::error_code error;
    systemDir_ = std::filesystem::absolute(options_.systemDir, error).string();
    current_.store(this);
    initialized_ = true;
    if (driver.initialize(systemDir_.c_str(), &GrabSession::onDebugMessage) != 1) {
        fail(kExitLibrary, "initialize(" + systemDir_ + ") of " + libraryPath_ +
                               " failed: no camera driver is loaded (for Quiltra: check "
                               "CameraDriver in section [Config] of Quiltra.ini there)");
        return exitCode_;
    }
    const int cameras = driver.getCVLNoOfSupportedCameras();
    const char** names = driver.getCVLCameraConfigNames();
    if (!options_.quiet || options_.listOnly) {
        console_.out(format("driver %s: %d cameras, %d ports", libraryPath_.c_str(), cameras,
                            driver.getCVLMaxNoOfPorts(0)));
        for (int i = 0; names != nullptr && i < cameras && i < QUILTRA_CAMERA_NAME_LIST_SIZE; ++i) {
            console_.out(format("  camera %d: %s", i, names[i] != nullptr ? names[i] : "(none)"));
        }
    }
    return kExitOk;
}

int GrabSession::openPorts() {
    const tools::DriverEntryPoints& driver = library_->entries();
    std::vector<PortRequest> cameras = options_.cameras;
    if (cameras.empty()) {
        const int count = driver.getCVLNoOfSupportedCameras();
        const char** names = driver.getCVLCameraConfigNames();
        for (int i = 0; names != nullptr && i < count && i < QUILTRA_CAMERA_NAME_LIST_SIZE; ++i) {
            const int wanted = options_.ports < 0 ? QUILTRA_CAMERA_NAME_LIST_SIZE : options_.ports;
            if (names[i] != nullptr && !isScannerName(names[i]) &&
                static_cast<int>(cameras.size()) < wanted) {
                cameras.push_back(PortRequest{names[i], static_cast<int>(cameras.size())});
            }
        }
        if (cameras.empty()) {
            fail(kExitOpen, "the driver lists no camera to open");
            return exitCode_;
        }
    }
    for (const PortRequest& request : cameras) {
        if (int code = openOne(request, false); code != kExitOk) {
            return code;
        }
    }
    for (const PortRequest& request : options_.scanners) {
        if (int code = openOne(request, true); code != kExitOk) {
            return code;
        }
    }
    // The scanners are grabbed when there are any; otherwise the cameras.
    std::lock_guard lock(mutex_);
    for (OpenPort& port : ports_) {
        port.target = options_.scanners.empty() || port.scanner;
    }
    return kExitOk;
}

int GrabSession::openOne(const PortRequest& request, bool scanner) {
    const tools::DriverEntryPoints& driver = library_->entries();
    const char* kind = scanner ? "scanner" : "camera";
    for (const OpenPort& open : ports_) {
        if (open.port == request.port) {
            fail(kExitOpen, format("port %d is given twice (%s and %s)", request.port,
                                   open.name.c_str(), request.name.c_str()));
            return exitCode_;
        }
    }
    int size[2] = {0, 0};
    const int opened = driver.openCVLPort(0, request.port, request.name.c_str(), size);
    if (opened != 1) {
        std::string hint = scanner ? " (is the scanner configured in Quiltra.ini, and were its "
                                     "cameras opened first?)"
                                   : " (see the driver's messages above)";
        fail(kExitOpen, format("cannot open %s %s on port %d: openCVLPort returned %d%s", kind,
                               request.name.c_str(), request.port, opened, hint.c_str()));
        return exitCode_;
    }
    OpenPort port;
    port.name = request.name;
    port.port = request.port;
    port.scanner = scanner;
    port.width = size[0];
    port.height = size[1];
    const char** names = driver.getCVLCameraConfigNames();
    for (int i = 0; !scanner && names != nullptr && i < QUILTRA_CAMERA_NAME_LIST_SIZE; ++i) {
        if (names[i] != nullptr && request.name == names[i]) {
            port.listNumber = i + 1;
            break;
        }
    }
    if (scanner) {
        port.layout = tools::readScannerLayout(systemDir_, request.name);
    }
    int bits = 8;
    if (driver.getProperty(0, request.port, "PixelSize", &bits) != 1 && scanner &&
        !port.layout.segments.empty()) {
        // A scanner that does not report its pixel size has that of its first camera.
        std::lock_guard lock(mutex_);
        if (const OpenPort* first = findPort(port.layout.segments.front().port)) {
            bits = first->bytesPerPixel * 8;
        }
    }
    {
        std::lock_guard lock(mutex_);
        ports_.push_back(std::move(port));  // from here on it is closed at the end
    }
    const int bytesPerPixel = bits <= 8 ? 1 : (bits + 7) / 8;
    if (size[0] < 1 || size[1] < 1 || (bytesPerPixel != 1 && bytesPerPixel != 3)) {
        fail(kExitOpen, format("%s %s on port %d has an image of %d x %d pixels of %d bits; "
                               "only 8-bit grey and 24-bit colour images can be saved",
                               kind, request.name.c_str(), request.port, size[0], size[1], bits));
        return exitCode_;
    }
    {
        std::lock_guard lock(mutex_);
        ports_.back().bytesPerPixel = bytesPerPixel;
    }
    const int accepted = driver.setCompleteCallback(0, request.port, &GrabSession::onComplete);
    if (accepted != 1) {
        fail(kExitOpen, format("%s %s on port %d: setCompleteCallback returned %d", kind,
                               request.name.c_str(), request.port, accepted));
        return exitCode_;
    }
    driver.setCmdCallback(0, request.port, &GrabSession::onCommandText);
    if (!options_.quiet) {
        console_.out(format("opened %s %s on port %d: %d x %d, %d bits", kind, request.name.c_str(),
                            request.port, size[0], size[1], bits));
    }
    return kExitOk;
}

bool GrabSession::runControls(const ControlGroup& group, int images) {
    const tools::DriverEntryPoints& driver = library_->entries();
    const std::string when = images > 0 ? format("after image %d: ", images) : "";
    bool ok = true;
    for (const ControlRequest& request : group.requests) {
        const char* name = request.name.c_str();
        int result = 0;
        switch (request.kind) {
            case ControlRequest::Kind::set:
                result = driver.setProperty(0, request.port, name, request.value);
                if (result == 1 && !options_.quiet) {
                    console_.out(when +
                                 format("port %d: set %s = %d", request.port, name, request.value));
                } else if (result != 1) {
                    fail(kExitOpen, when + format("port %d: setProperty %s = %d returned %d",
                                                  request.port, name, request.value, result));
                }
                break;
            case ControlRequest::Kind::get: {
                int value = 0;
                result = driver.getProperty(0, request.port, name, &value);
                if (result == 1) {
                    console_.out(when + format("port %d: %s = %d", request.port, name, value));
                } else {
                    fail(kExitOpen, when + format("port %d: getProperty %s returned %d",
                                                  request.port, name, result));
                }
                break;
            }
            case ControlRequest::Kind::command: {
                std::vector<char> reply(kCommandReplySize, '\0');
                result = driver.execCmd(0, request.port, name, request.arguments.c_str(),
                                        reply.data(), kCommandReplySize);
                reply.back() = '\0';  // whatever the driver left there
                const std::string text = request.arguments.empty()
                                             ? request.name
                                             : request.name + " " + request.arguments;
                console_.out(when +
                             format("port %d: %s -> %d", request.port, text.c_str(), result) +
                             (reply[0] != '\0' ? std::string(": ") + reply.data() : ""));
                if (result != 1) {
                    fail(kExitOpen, when + format("port %d: execCmd %s returned %d", request.port,
                                                  name, result));
                }
                break;
            }
        }
        if (result != 1) {
            ok = false;
            if (images == 0) {
                return false;  // before grabbing the run stops at the first refusal
            }
        }
    }
    return ok;
}

void GrabSession::readScannerSettings(OpenPort& port) {
    // The scanner's own count and overlap, when it reports them, hold over the file's.
    const tools::DriverEntryPoints& driver = library_->entries();
    tools::ScannerLayout& layout = port.layout;
    int value = 0;
    if (driver.getProperty(0, port.port, "ScanCount", &value) == 1 && value > 0) {
        layout.scans = value;
    }
    if (driver.getProperty(0, port.port, "Overlap", &value) == 1 && value >= 0) {
        layout.overlap = value;
    }
    layout.overlap %= layout.scans;
}

void GrabSession::prepareScanners() {
    for (OpenPort& port : ports_) {
        if (!port.scanner) {
            continue;
        }
        readScannerSettings(port);
        tools::ScannerLayout& layout = port.layout;
        {
            std::lock_guard lock(mutex_);
            for (tools::ScannerSegment& segment : layout.segments) {
                const OpenPort* camera = findPort(segment.port);
                segment.camera = camera != nullptr && !camera->scanner ? camera->listNumber : 0;
            }
        }
        if (options_.verify) {
            port.check = std::make_unique<FinalImageCheck>(layout);
        }
    }
}

int GrabSession::scannerTriggers(const OpenPort& port, int round) const {
    // One trigger per scan the final image still lacks: all of them in the first cycle, the
    // scans less the overlap in every later one, or less the "Count" of bands the cycle
    // holds already when the scanner reports it (it reports all scans until the completed
    // cycle has restarted).
    int filled = round == 0 ? 0 : port.layout.overlap;
    int count = 0;
    if (library_->entries().getProperty(0, port.port, "Count", &count) == 1 && count >= 0 &&
        count < port.layout.scans) {
        filled = count;
    }
    return port.layout.scans - filled;
}

int GrabSession::grabAll() {
    const tools::DriverEntryPoints& driver = library_->entries();
    const char* keptVerb = options_.noSave ? "read" : "saved";
    const auto start = Clock::now();
    auto lastProgress = start - std::chrono::seconds(1);
    int targets = 0;
    for (const OpenPort& port : ports_) {
        targets += port.target ? 1 : 0;
    }
    for (int round = 0; round < options_.count; ++round) {
        std::vector<std::size_t> triggered;
        const auto roundStart = Clock::now();
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            OpenPort& port = ports_[i];
            if (!port.target || !port.active) {
                continue;
            }
            const int triggers = port.scanner ? scannerTriggers(port, round) : 1;
            int result = 1;
            for (int trigger = 0; trigger < triggers && result == 1; ++trigger) {
                result = driver.doCVLGrab(0, port.port);
            }
            if (result != 1) {
                fail(kExitGrabRefused,
                     format("port %d (%s): grab %d of %d refused: doCVLGrab "
                            "returned %d",
                            port.port, port.name.c_str(), round + 1, options_.count, result));
                std::lock_guard lock(mutex_);
                port.active = false;
                continue;
            }
            triggered.push_back(i);
        }
        const auto deadline = roundStart + std::chrono::milliseconds(options_.timeoutMs);
        for (std::size_t i : triggered) {
            std::unique_lock lock(mutex_);
            OpenPort& port = ports_[i];
            // Short slices, so that an interruption (Ctrl-C) is seen within 100 ms.
            bool arrived = port.received > round;
            while (!arrived && !stopRequested_.load() && Clock::now() < deadline) {
                const auto slice =
                    std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
                arrived = arrived_.wait_until(lock, slice, [&] { return port.received > round; });
            }
            if (!arrived && stopRequested_.load()) {
                break;
            }
            if (!arrived) {
                port.active = false;
                lock.unlock();
                ++timeouts_;
                fail(kExitTimeout,
                     format("port %d (%s): no image within %d ms (grab %d of %d)", port.port,
                            port.name.c_str(), options_.timeoutMs, round + 1, options_.count));
            }
        }
        saveImages();
        runControlsAfter(round + 1);
        const auto now = Clock::now();
        if (now - lastProgress >= std::chrono::milliseconds(100) || round + 1 == options_.count) {
            lastProgress = now;
            const double seconds = std::chrono::duration<double>(now - start).count();
            int images = 0;
            {
                std::lock_guard lock(mutex_);
                for (const OpenPort& port : ports_) {
                    images += port.kept;
                }
            }
            console_.progress(format("grab %d/%d, %d images %s, %.1f images/s", round + 1,
                                     options_.count, images, keptVerb,
                                     seconds > 0 ? images / seconds : 0.0));
        }
        bool anyActive = false;
        for (const OpenPort& port : ports_) {
            anyActive = anyActive || (port.target && port.active);
        }
        if (stopRequested_.load()) {
            console_.endProgress();
            console_.err(format("quiltra-grab: interrupted during grab %d of %d", round + 1,
                                options_.count));
            if (exitCode_ == kExitOk) {
                exitCode_ = kExitInterrupted;
            }
            break;
        }
        if (!anyActive) {
            break;
        }
    }
    console_.endProgress();
    saveImages();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    int images = 0;
    int late = 0;
    int passThrough = 0;
    {
        std::lock_guard lock(mutex_);
        for (const OpenPort& port : ports_) {
            images += port.kept;
            late += port.late;
            passThrough += port.passThrough;
        }
    }
    // The driver's own view of each port, when it answers a "status" command.
    for (const OpenPort& port : ports_) {
        char status[128] = "";
        if (!options_.quiet &&
            driver.execCmd(0, port.port, "status", "", status, sizeof status) == 1) {
            console_.out(
                format("status of port %d (%s): %s", port.port, port.name.c_str(), status));
        }
    }
    std::string where = images > 0 && !options_.noSave ? " in " + options_.outDir : "";
    console_.out(format(
        "summary: %d images %s%s from %d ports in %.2f s (%.1f images/s), "
        "%d time-outs, %d failures%s%s",
        images, keptVerb, where.c_str(), targets, seconds, seconds > 0 ? images / seconds : 0.0,
        timeouts_, failures_, late > 0 ? format(", %d late images ignored", late).c_str() : "",
        passThrough > 0 ? format(", %d pass-through notifications", passThrough).c_str() : ""));
    return exitCode_;
}

void GrabSession::runControlsAfter(int images) {
    bool ran = false;
    for (const ControlGroup& group : options_.controls) {
        if (!stopRequested_.load() && group.runsAfter(images)) {
            console_.endProgress();
            runControls(group, images);
            ran = true;
        }
    }
    // A scanner's scan count or overlap may have changed: the next grabs follow them.
    for (OpenPort& port : ports_) {
        if (ran && port.scanner) {
            readScannerSettings(port);
        }
    }
}

bool GrabSession::saveImages() {
    std::deque<Image> images;
    std::vector<std::string> readFailures;
    {
        std::lock_guard lock(mutex_);
        images.swap(images_);
        readFailures.swap(readFailures_);
    }
    bool ok = true;
    for (const std::string& message : readFailures) {
        fail(kExitImage, message);
        ok = false;
    }
    const bool listFiles = !options_.quiet && !options_.noSave &&
                           options_.count * static_cast<int>(ports_.size()) <= 32;
    for (const Image& image : images) {
        OpenPort& port = ports_[image.portIndex];
        if (options_.verify && !verifyImage(port, image)) {
            ok = false;
        }
        if (!options_.noSave) {
            const std::string path = (std::filesystem::path(options_.outDir) /
                                      imageFileName(port.name, port.port, image.index))
                                         .string();
            if (!tools::writePngFile(path, image.width, image.height, port.bytesPerPixel,
                                     image.pixels)) {
                fail(kExitImage, "cannot write " + path);
                ok = false;
                continue;
            }
            if (listFiles) {
                console_.out("saved " + path);
            }
        }
        std::lock_guard lock(mutex_);
        ++port.kept;
    }
    return ok;
}

bool GrabSession::verifyImage(OpenPort& port, const Image& image) {
    if (port.check != nullptr) {
        const std::vector<std::string> faults =
            port.check->check(image.pixels.data(), image.width, image.height, port.bytesPerPixel);
        // A final image that is wholly wrong would give a fault per band and segment.
        constexpr std::size_t kShown = 8;
        for (std::size_t i = 0; i < faults.size() && i < kShown; ++i) {
            fail(kExitImage, format("port %d (%s) final image %d: %s", port.port, port.name.c_str(),
                                    image.index, faults[i].c_str()));
        }
        if (faults.size() > kShown) {
            console_.err(format("quiltra-grab: error: port %d (%s) final image %d: %d more faults",
                                port.port, port.name.c_str(), image.index,
                                static_cast<int>(faults.size() - kShown)));
        }
        return faults.empty();
    }
    const auto stamp = simcam::readFrameStamp(
        image.pixels.data(), image.width, image.height,
        static_cast<std::ptrdiff_t>(image.width) * port.bytesPerPixel, port.bytesPerPixel);
    if (!stamp) {
        fail(kExitImage, format("port %d image %d: no frame stamp in the top-left corner (only "
                                "simulated cameras with Stamp=1 carry one)",
                                port.port, image.index));
        return false;
    }
    const uint32_t expected = port.lastFrame ? *port.lastFrame + 1 : 0;
    bool ok = true;
    if (stamp->frame != expected) {
        fail(kExitImage, format("port %d image %d: frame %u where frame %u was due (%s)", port.port,
                                image.index, stamp->frame, expected,
                                stamp->frame > expected ? "images were lost" : "an image repeats"));
        ok = false;
    }
    if (port.lastFrame && stamp->camera != port.stampCamera) {
        fail(kExitImage,
             format("port %d image %d: comes from camera %d, earlier ones from camera %d",
                    port.port, image.index, stamp->camera, port.stampCamera));
        ok = false;
    }
    port.lastFrame = stamp->frame;
    port.stampCamera = stamp->camera;
    return ok;
}

GrabSession::OpenPort* GrabSession::findPort(int port) {
    for (OpenPort& open : ports_) {
        if (open.port == port) {
            return &open;
        }
    }
    return nullptr;
}

void QUILTRA_CALL GrabSession::onDebugMessage(const char* text) {
    GrabSession* session = current_.load();
    if (session == nullptr || text == nullptr) {
        return;
    }
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    session->console_.err("debug: " + line);
}

void QUILTRA_CALL GrabSession::onCommandText(int /*grabber*/, int port, const char* text) {
    GrabSession* session = current_.load();
    if (session == nullptr || text == nullptr || session->options_.quiet) {
        return;
    }
    session->console_.err(format("command text, port %d: %s", port, text));
}

void QUILTRA_CALL GrabSession::onComplete(int grabber, int port) {
    GrabSession* session = current_.load();
    if (session != nullptr) {
        session->complete(grabber, port);
    }
}

// Runs on the driver's thread: reads the image row by row at once, as a host must before
// the driver reuses its buffer, and queues it for saving.
void GrabSession::complete(int grabber, int port) {
    std::size_t index = 0;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    {
        std::lock_guard lock(mutex_);
        OpenPort* open = findPort(port);
        if (open == nullptr) {
            return;
        }
        if (open->target && !open->active) {
            ++open->late;
            return;
        }
        // A camera of a grabbed scanner passes its image through to the host (the scanner's
        // PassThru list). By now the camera may have the next image, so it is not read.
        if (!open->target) {
            ++open->passThrough;
            return;
        }
        index = static_cast<std::size_t>(open - ports_.data());
        width = open->width;
        height = open->height;
        bytesPerPixel = open->bytesPerPixel;
    }
    // The size may have changed since the port was opened (a scanner's "ScanCount", a
    // camera's "Width"): a port that reports its size is read with that.
    const tools::DriverEntryPoints& driver = library_->entries();
    int reported = 0;
    if (driver.getProperty(grabber, port, "Width", &reported) == 1 && reported > 0) {
        width = reported;
    }
    if (driver.getProperty(grabber, port, "Height", &reported) == 1 && reported > 0) {
        height = reported;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    Image image;
    image.portIndex = index;
    image.width = width;
    image.height = height;
    image.pixels.resize(rowBytes * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        const int result = driver.getCVLGrabRow(grabber, port, image.pixels.data() + rowBytes * row,
                                                row, 0, width - 1);
        if (result != 1) {
            std::lock_guard lock(mutex_);
            readFailures_.push_back(
                format("port %d: getCVLGrabRow of row %d returned %d", port, row, result));
            ++ports_[index].received;
            arrived_.notify_all();
            return;
        }
    }
    std::lock_guard lock(mutex_);
    image.index = ports_[index].received++;
    images_.push_back(std::move(image));
    arrived_.notify_all();
}

}  // namespace quiltra::grab

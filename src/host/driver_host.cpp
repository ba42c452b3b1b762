#include "host/driver_host.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "config/configuration_file.h"
#include "config/first_start.h"
#include "config/scanner_builder.h"
#include "control/scanner_commands.h"
#include "control/scanner_properties.h"
#include "platform/debug_output.h"
#include "platform/file_path.h"
#include "platform/fixed_text.h"
#include "platform/message_box.h"
#include "platform/no_destructor.h"
#include "platform/one_shot_timer.h"
#include "platform/private_profile.h"
#include "scanner/library_frame.h"
#include "scanner/scanner.h"

namespace quiltra {

namespace {

// Buffers of initialize: the configuration file path and the driver file name.
constexpr int kConfigPathSize = 2048;
constexpr int kDriverFileSize = 2048;
// The configuration file path that configureCamera shows.
constexpr int kMessageBoxTextSize = 512;

// The images one hook run collected: few, so they live on the stack unless there are many.
class CollectedImages {
public:
    struct Image {
        std::shared_ptr<Scanner> scanner;
        ScanCamera* camera;
    };

    void add(const std::shared_ptr<Scanner>& scanner, ScanCamera* camera) {
        if (count_ < inline_.size()) {
            inline_[count_++] = Image{scanner, camera};
        } else {
            overflow_.push_back(Image{scanner, camera});
        }
    }
    template <typename Visit>
    void forEach(Visit visit) {
        for (std::size_t i = 0; i < count_; ++i) {
            visit(inline_[i]);
        }
        for (Image& image : overflow_) {
            visit(image);
        }
    }

private:
    std::array<Image, 8> inline_{};
    std::size_t count_ = 0;
    std::vector<Image> overflow_;
};

// The completion callback Quiltra hands the driver for every real camera port it opens.
// Called on the driver's own threads; nothing may leave it as an exception.
void QUILTRA_CALL driverCompleteHook(int grabber, int port) {
    try {
        LibraryFrame frame;
        DriverHost::instance().onImageComplete(grabber, port);
    } catch (...) {
        // A failure here loses this one image; the driver's thread goes on.
    }
}

// A slot reserved for an open, emptied again unless the open commits it.
class PortReservation {
public:
    PortReservation(PortTable& ports, platform::RecursiveLock& lock, int port)
        : ports_(ports), lock_(lock), port_(port) {}
    PortReservation(const PortReservation&) = delete;
    PortReservation& operator=(const PortReservation&) = delete;
    ~PortReservation() {
        if (!committed_) {
            std::lock_guard<platform::RecursiveLock> guard(lock_);
            ports_.release(port_);
        }
    }
    void commit() { committed_ = true; }

private:
    PortTable& ports_;
    platform::RecursiveLock& lock_;
    int port_;
    bool committed_ = false;
};

// Calls a driver entry that answers 1 on success; any other answer gets one more call with
// the same arguments, whose answer counts.
template <typename Fn, typename... Args>
int callWithRetry(Fn entry, Args... args) {
    int result = entry(args...);
    if (result != 1) {
        result = entry(args...);
    }
    return result;
}

// The saveScannerHook of every scanner opened on a port: writes its sections under its own
// name.
void saveScanner(Scanner& scanner) {
    writeConfiguration(scanner, scanner.name.c_str());
}

}  // namespace

DriverHost& DriverHost::instance() {
    static platform::NoDestructor<DriverHost> host{ConstructionKey{}};
    return host.get();
}

int DriverHost::initialize(const char* systemPath, DebugMsgProc debugMsgProc) {
    if (DriverBinding* existing = binding()) {
        return existing->loaded() ? 1 : 0;
    }
    std::lock_guard<platform::RecursiveLock> lifecycle(lifecycleLock_);
    if (DriverBinding* existing = binding()) {  // another thread's initialize came first
        return existing->loaded() ? 1 : 0;
    }
    if (systemPath == nullptr) {
        return 0;
    }

    char configFile[kConfigPathSize];
    platform::formatText(configFile, sizeof configFile, "%s%c%s", systemPath,
                         platform::kPathSeparator, kConfigFileName);
    char driverFile[kDriverFileSize];
    platform::getPrivateProfileString("Config", "CameraDriver", "", driverFile, sizeof driverFile,
                                      configFile);

    // The driver is loaded before the file is looked for, so the start that creates the
    // file runs without a driver.
    auto binding = std::make_unique<DriverBinding>(driverFile, systemPath, debugMsgProc);
    if (!platform::fileExists(configFile)) {
        writeFirstStartContent(*binding, configFile);
    }
    binding->setVerbose(platform::getPrivateProfileInt("Config", "Verbose", 0, configFile));

    std::lock_guard<platform::RecursiveLock> lock(driverLock_);
    ports_.clear();
    binding_ = std::move(binding);
    current_.store(binding_.get(), std::memory_order_release);
    return binding_->loaded() ? 1 : 0;
}

int DriverHost::finalize() {
    std::lock_guard<platform::RecursiveLock> lifecycle(lifecycleLock_);
    if (binding() == nullptr) {
        return 1;
    }
    // Ports still open are closed first: scanner ports, then real camera ports through the
    // driver, each with the grabber it was opened with.
    for (int port = 0; port < PortTable::kSize; ++port) {
        closeScannerPort(port);
    }
    for (int port = 0; port < PortTable::kSize; ++port) {
        if (std::optional<CameraPortView> view = ports_.camera(port)) {
            closeCameraPort(view->grabber, port);
        }
    }
    // Then the library's own threads: the camera workers went with their scanners; the
    // timer thread is the last.
    platform::stopTimerService();

    std::unique_ptr<DriverBinding> detached;
    {
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        detached = std::move(binding_);
        current_.store(nullptr, std::memory_order_release);
    }
    // The driver's finalize and the unloading run without the DriverLock: a driver that
    // joins its delivery thread there may have that thread waiting for the lock in the hook.
    detached.reset();
    return 1;
}

int DriverHost::configureCamera(void* ownerWindow, const char* cameraName) {
    if (cameraName == nullptr) {
        return 0;
    }
    std::shared_ptr<Scanner> scanner;
    {
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        scanner = scanners_.find(cameraName);
    }
    if (scanner != nullptr) {
        // The first scanner open under that name: its sections are written (never under the
        // DriverLock: that takes a while), then the file is shown.
        writeConfiguration(*scanner, cameraName);
        char text[kMessageBoxTextSize];
        const std::string& systemPath = scanner->binding->systemPath();
        platform::formatText(text, sizeof text, "%s%c%s", systemPath.c_str(),
                             platform::kPathSeparator, kConfigFileName);
        platform::showMessageBox(ownerWindow, text, "Quiltra configuration");
        return 1;
    }
    DriverBinding* driver = binding();
    if (driver == nullptr || driver->entries().configureCamera == nullptr) {
        return 0;
    }
    return driver->entries().configureCamera(ownerWindow, cameraName);
}

int DriverHost::getCVLMaxNoOfPorts(int grabber) {
    constexpr std::int64_t kScannerPorts = static_cast<std::int64_t>(kScannerNames.size());
    DriverBinding* driver = binding();
    if (driver == nullptr || driver->entries().getCVLMaxNoOfPorts == nullptr) {
        return static_cast<int>(kScannerPorts);
    }
    // At most the PortTable's size: ports beyond it cannot be opened.
    std::int64_t ports = driver->entries().getCVLMaxNoOfPorts(grabber) + kScannerPorts;
    return static_cast<int>(std::min<std::int64_t>(ports, PortTable::kSize));
}

int DriverHost::getCVLNoOfSupportedCameras() {
    DriverBinding* driver = binding();
    return CameraNameList::supportedCameras(
        CameraNameList::fetchDriverNames(driver != nullptr ? &driver->entries() : nullptr));
}

const char** DriverHost::getCVLCameraConfigNames() {
    DriverBinding* driver = binding();
    return names_.rebuild(
        CameraNameList::fetchDriverNames(driver != nullptr ? &driver->entries() : nullptr));
}

int DriverHost::openCVLPort(int grabber, int port, const char* cameraName, int* size) {
    DriverBinding* driver = binding();
    if (driver == nullptr || !PortTable::inRange(port) || cameraName == nullptr ||
        size == nullptr) {
        return 0;
    }
    {
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        if (!ports_.reserve(port)) {
            return 0;  // open, or being opened or closed by another thread
        }
    }
    PortReservation reservation(ports_, driverLock_, port);
    if (isScannerName(cameraName)) {
        if (openScannerPort(grabber, port, cameraName, size) != 1) {
            return 0;
        }
        reservation.commit();
        return 1;
    }
    int result = openCameraPort(*driver, grabber, port, cameraName, size);
    if (result == 1) {
        reservation.commit();
    }
    return result;
}

int DriverHost::openScannerPort(int grabber, int port, const char* name, int* size) {
    std::shared_ptr<Scanner> scanner;
    try {
        scanner = std::make_shared<Scanner>(binding(), name, grabber, port);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // The scanner is seen by no other thread until it enters the slot.
    if (!buildScanner(*scanner, name, ports_)) {
        return 0;
    }
    int width = 0;
    int height = 0;
    {
        std::lock_guard<platform::RecursiveLock> scannerLock(scanner->lock);
        width = scanner->width;
        height = scanner->height;
    }
    size[0] = width;
    size[1] = height;
    // Complete before any other thread can reach the scanner.
    scanner->saveScannerHook = &saveScanner;
    std::lock_guard<platform::RecursiveLock> lock(driverLock_);
    ports_.fillScanner(port, scanner, width, height);
    scanners_.append(std::move(scanner));
    return 1;
}

int DriverHost::openCameraPort(DriverBinding& binding, int grabber, int port, const char* name,
                               int* size) {
    const DriverEntries& driver = binding.entries();
    if (driver.openCVLPort == nullptr) {
        return 0;
    }
    int result = callWithRetry(driver.openCVLPort, grabber, port, name, size);
    if (result != 1) {
        return result;
    }
    // From here the driver holds the port open; when the hand-over of our hook fails it is
    // closed again, since the host, told the open failed, will not close it.
    result = driver.setCompleteCallback != nullptr
                 ? callWithRetry(driver.setCompleteCallback, grabber, port, &driverCompleteHook)
                 : 0;
    if (result != 1) {
        if (driver.closeCVLPort != nullptr) {
            driver.closeCVLPort(grabber, port);
        }
        return result;
    }
    bool usedByScanner = false;
    {
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        usedByScanner = scannerCameraOn(grabber, port);
    }
    // The pixel size is asked again only for a port that scanner cameras use, and not under
    // the DriverLock (the driver is called).
    const int32_t bytesPerPixel = usedByScanner ? ScanCamera::bytesPerPixelOf(&binding, port) : 0;
    std::lock_guard<platform::RecursiveLock> lock(driverLock_);
    ports_.fillCamera(port, &binding, grabber, size[0], size[1]);
    if (usedByScanner) {
        resetCheck(grabber, port, size[0], size[1], bytesPerPixel);
    }
    return 1;
}

bool DriverHost::scannerCameraOn(int grabber, int port) const {
    for (const auto& scanner : scanners_.scanners()) {
        for (const auto& camera : scanner->cameras) {
            if (camera->grabber == grabber && camera->port == port) {
                return true;
            }
        }
    }
    return false;
}

void DriverHost::resetCheck(int grabber, int port, int width, int height, int32_t bytesPerPixel) {
    // Every camera on the port learns whether its ring still fits the driver's rows, also
    // in the scanners after the one where the check below ends.
    for (const auto& scanner : scanners_.scanners()) {
        for (const auto& camera : scanner->cameras) {
            if (camera->grabber == grabber && camera->port == port) {
                camera->pixelSizeMismatch.store(bytesPerPixel != camera->bytesPerPixel,
                                                std::memory_order_release);
            }
        }
    }
    for (const auto& scanner : scanners_.scanners()) {
        int32_t finalBytesPerPixel = 0;
        {
            std::shared_lock imageGuard(scanner->imageLock);
            finalBytesPerPixel = scanner->bytesPerPixel;
        }
        bool required = false;
        for (const auto& camera : scanner->cameras) {
            if (required) {
                break;
            }
            if (camera->grabber == grabber && camera->port == port) {
                required = camera->height != height || camera->width != width ||
                           finalBytesPerPixel != scanner->cameras.front()->bytesPerPixel ||
                           camera->pixelSizeMismatch.load(std::memory_order_acquire);
            }
        }
        scanner->resetRequired.store(required, std::memory_order_release);
        if (required) {
            scanner->binding->verboseMessage("%s: reset required due to camera changes\n",
                                             scanner->name.c_str());
            return;  // later scanners are not visited and keep their flags
        }
    }
}

void DriverHost::closeCVLPort(int grabber, int port) {
    if (!closeScannerPort(port)) {
        closeCameraPort(grabber, port);
    }
}

bool DriverHost::closeScannerPort(int port) {
    std::shared_ptr<Scanner> scanner;
    {
        // Waits for a collection in progress; once unlinked, no hook reaches the scanner.
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        scanner = ports_.beginCloseScanner(port);
        if (scanner == nullptr) {
            return false;
        }
        scanners_.remove(scanner.get());
    }
    if (LibraryFrame::nested()) {
        // Inside a host callback, perhaps one of this scanner's own, on a thread the
        // shutdown may have to wait for. The scanner stops calling back now when that
        // needs no waiting (its lock is free, or this thread holds it); the rest follows
        // when the callback has returned and its locks are released.
        std::unique_lock<platform::RecursiveLock> scannerLock(scanner->lock, std::try_to_lock);
        if (scannerLock.owns_lock()) {
            scanner->beginClose();
        }
        LibraryFrame::defer([this, scanner, port] { finishScannerClose(*scanner, port); });
        return true;
    }
    finishScannerClose(*scanner, port);
    return true;
}

void DriverHost::finishScannerClose(Scanner& scanner, int port) {
    scanner.shutdown();
    std::lock_guard<platform::RecursiveLock> lock(driverLock_);
    ports_.release(port);
}

void DriverHost::closeCameraPort(int grabber, int port) {
    std::optional<CameraPortView> view;
    {
        // Waits for a hook in progress; once the slot is busy no image of this port reaches
        // the host's callback any more.
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        view = ports_.beginClose(port);
    }
    if (!view) {
        return;  // free, out of range, or opened or closed by another thread right now
    }
    if (CloseCVLPortFn closeEntry = view->binding->entries().closeCVLPort) {
        closeEntry(grabber, port);
    }
    // No host callback of the port starts any more; those running elsewhere end first.
    ports_.waitForCallbacks(port);
    std::lock_guard<platform::RecursiveLock> lock(driverLock_);
    ports_.release(port);
}

const DriverEntries* DriverHost::cameraEntries(int port) const {
    std::optional<CameraPortView> view = ports_.camera(port);
    return view ? &view->binding->entries() : nullptr;
}

template <typename Fn, typename... Args>
int DriverHost::forward(Fn DriverEntries::*member, int grabber, int port, Args... args) const {
    const DriverEntries* entries = cameraEntries(port);
    if (entries == nullptr || entries->*member == nullptr) {
        return 0;
    }
    return (entries->*member)(grabber, port, args...);
}

// The port-addressed calls on a real camera port go to the driver unchanged; on a scanner
// port they go to the scanner (properties and commands to its handlers; getPropertyRange
// and setCmdCallback answer 0 there), which the call holds a reference to while it runs; a
// free port answers 0.

int DriverHost::doCVLGrab(int grabber, int port) {
    if (const std::shared_ptr<Scanner> scanner = ports_.scanner(port)) {
        return scanner->grab();
    }
    return forward(&DriverEntries::doCVLGrab, grabber, port);
}

int DriverHost::getCVLGrabRow(int grabber, int port, void* buffer, int row, int firstColumn,
                              int lastColumn) {
    if (const std::shared_ptr<Scanner> scanner = ports_.scanner(port)) {
        return scanner->readRow(grabber, port, buffer, row, firstColumn, lastColumn);
    }
    return forward(&DriverEntries::getCVLGrabRow, grabber, port, buffer, row, firstColumn,
                   lastColumn);
}

int DriverHost::setCompleteCallback(int /*grabber*/, int port, CompleteCallback callback) {
    if (const std::shared_ptr<Scanner> scanner = ports_.scanner(port)) {
        scanner->completeCallback.store(callback, std::memory_order_release);
        return 1;
    }
    // Kept for the hook; the driver keeps calling the hook. An image being handed over right
    // now may still reach the previous callback.
    return ports_.setCompleteCallback(port, callback) ? 1 : 0;
}

int DriverHost::getPropertyRange(int grabber, int port, const char* name, int* minValue,
                                 int* maxValue) {
    return forward(&DriverEntries::getPropertyRange, grabber, port, name, minValue, maxValue);
}

int DriverHost::getProperty(int grabber, int port, const char* name, int* value) {
    if (const std::shared_ptr<Scanner> scanner = ports_.scanner(port)) {
        return getScannerProperty(*scanner, name, value);
    }
    return forward(&DriverEntries::getProperty, grabber, port, name, value);
}

int DriverHost::setProperty(int grabber, int port, const char* name, int value) {
    if (const std::shared_ptr<Scanner> scanner = ports_.scanner(port)) {
        return setScannerProperty(*scanner, name, value);
    }
    return forward(&DriverEntries::setProperty, grabber, port, name, value);
}

int DriverHost::setCmdCallback(int grabber, int port, CmdCallback callback) {
    return forward(&DriverEntries::setCmdCallback, grabber, port, callback);
}

int DriverHost::execCmd(int grabber, int port, const char* command, const char* arguments,
                        char* result, int resultSize) {
    if (const std::shared_ptr<Scanner> scanner = ports_.scanner(port)) {
        return execScannerCommand(*scanner, command, arguments, result, resultSize);
    }
    return forward(&DriverEntries::execCmd, grabber, port, command, arguments, result, resultSize);
}

void DriverHost::onImageComplete(int grabber, int port) {
    CollectedImages collected;
    bool used = false;
    {
        std::lock_guard<platform::RecursiveLock> lock(driverLock_);
        for (const auto& scanner : scanners_.scanners()) {
            for (const auto& camera : scanner->cameras) {
                if (camera->grabber != grabber || camera->port != port) {
                    continue;
                }
                used = true;
                if (camera->collectImage() == 0) {
                    platform::outputDebugString("BUSY:camera collectImage returned 0\n");
                    continue;
                }
                collected.add(scanner, camera.get());
            }
        }
    }
    if (!used) {
        // An image that no scanner camera uses goes to the host's callback of its port, with
        // the grabber and port the driver reported. A port being opened or closed, or one
        // the driver reports outside the table, has no callback.
        ports_.callHost(grabber, port);
        return;
    }
    collected.forEach(
        [&](CollectedImages::Image& image) { processCollected(image.scanner, *image.camera); });
}

void DriverHost::processCollected(const std::shared_ptr<Scanner>& scanner, ScanCamera& camera) {
    if (!camera.threaded) {
        if (camera.processImage() != 0) {
            placeOrPassOn(*scanner, camera);
        }
        return;
    }
    // A worker still busy with earlier images gets a little time, so that a slow camera
    // does not pile up images in its ring; the driver's thread is never held for long.
    const uint32_t limitMs = camera.resampleTime / 1000 + 2;
    const CameraWorker::Wait wait = camera.worker.waitUntilIdle(limitMs);
    if (wait.wasBusy && (wait.waitedMs > 2 || wait.becameIdle) && camera.binding != nullptr) {
        camera.binding->systemMessage("Waited %d ms for camera processing port %u\n", wait.waitedMs,
                                      static_cast<unsigned>(camera.port));
    }
    if (!camera.worker.handOver(&DriverHost::processOnWorker)) {
        platform::outputDebugString(kImageDroppedNoWorkerText);
    }
}

void DriverHost::processOnWorker(ScanCamera& camera) {
    // A close requested by a host callback of this step completes when the step ends.
    LibraryFrame frame;
    const uint32_t processed = camera.processImage();
    camera.worker.processingDone();
    if (processed == 0) {
        platform::outputDebugString("BUSY:camera processImage returned 0\n");
        return;
    }
    instance().placeOrPassOn(camera.scanner, camera);
}

void DriverHost::placeOrPassOn(Scanner& scanner, ScanCamera& camera) {
    switch (scanner.placeImage(camera)) {
        case Placement::placed:
            break;
        case Placement::refused:
            ports_.callHost(camera.grabber, camera.port);
            break;
        case Placement::closed:
            platform::outputDebugString(kImageDroppedClosingText);
            break;
    }
}

}  // namespace quiltra

#include "sim_driver.h"

#include <cctype>
#include <cstring>
#include <map>

#include "platform/file_path.h"
#include "platform/fixed_text.h"
#include "platform/thread_name.h"

namespace quiltra::simcam {

SimDriver& SimDriver::instance() {
    static SimDriver driver;
    return driver;
}

SimDriver::~SimDriver() {
    shutdown();
}

int SimDriver::initialize(const char* systemPath, DebugMsgProc debugMsgProc) {
    debugMsgProc_.store(debugMsgProc);
    Notices notices;
    int result = 1;
    {
        std::lock_guard lock(mutex_);
        if (systemPath == nullptr) {
            notices.debug("initialize: no system folder given");
            result = 0;
        } else if (!initialized_) {
            loadSettings(systemPath, notices);
        }
    }
    send(notices);
    return result;
}

void SimDriver::setSystemPath(const char* systemPath) {
    Notices notices;
    {
        std::lock_guard lock(mutex_);
        bool anyOpen = false;
        for (const auto& port : ports_) {
            anyOpen = anyOpen || port != nullptr;
        }
        if (systemPath == nullptr) {
            notices.debug("setSystemPath: no system folder given");
        } else if (anyOpen) {
            notices.debug("setSystemPath: ports are open; keeping the settings of %s",
                          settings_.file.c_str());
        } else {
            loadSettings(systemPath, notices);
        }
    }
    send(notices);
}

void SimDriver::loadSettings(const std::string& systemPath, Notices& notices) {
    systemPath_ = systemPath;
    settings_ = readSimSettings(systemPath, notices);
    scenes_.assign(settings_.cameras.size(), nullptr);
    std::map<std::string, std::shared_ptr<const Scene>> loaded;
    for (std::size_t i = 0; i < settings_.cameras.size(); ++i) {
        const std::string& scene = settings_.cameras[i].scene;
        if (equalsIgnoringCase(scene.c_str(), kPatternScene) ||
            equalsIgnoringCase(scene.c_str(), kTargetScene) ||
            plainSceneLevel(settings_.cameras[i]) >= 0) {
            continue;
        }
        const std::string path = platform::isAbsolutePath(scene.c_str())
                                     ? scene
                                     : systemPath + platform::kPathSeparator + scene;
        auto found = loaded.find(path);
        if (found == loaded.end()) {
            std::string error;
            found = loaded.emplace(path, Scene::load(path, error)).first;
            if (found->second == nullptr) {
                notices.debug(
                    "%s [Camera%d] Scene %s: cannot read %s (%s); showing the test pattern",
                    settings_.file.c_str(), static_cast<int>(i) + 1, scene.c_str(), path.c_str(),
                    error.c_str());
            }
        }
        scenes_[i] = found->second;
    }
    ports_.assign(settings_.cameras.size(), nullptr);
    nameList_.fill(nullptr);
    for (std::size_t i = 0; i < settings_.cameras.size() && i < nameList_.size(); ++i) {
        platform::copyText(nameTexts_[i].data(), nameTexts_[i].size(),
                           settings_.cameras[i].name.c_str());
        nameList_[i] = nameTexts_[i].data();
    }
    initialized_ = true;
}

int SimDriver::finalize() {
    if (deliveryId_.load() == std::this_thread::get_id()) {
        Notices notices;
        notices.debug(
            "finalize called from a simcam callback; refused (call it from a host thread)");
        send(notices);
        return 0;
    }
    shutdown();
    return 1;
}

void SimDriver::shutdown() {
    std::lock_guard threadLock(threadMutex_);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& port : ports_) {
            if (port != nullptr) {
                port->open = false;
            }
        }
        ports_.clear();
        initialized_ = false;
    }
    wake_.notify_all();
    if (delivery_.joinable()) {
        delivery_.join();
    }
    deliveryId_.store(std::thread::id());
    std::lock_guard lock(mutex_);
    stopping_ = false;
}

int SimDriver::configureCamera(const char* cameraName) {
    Notices notices;
    int result = 0;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; cameraName != nullptr && i < settings_.cameras.size(); ++i) {
            if (settings_.cameras[i].name == cameraName) {
                notices.debug("camera %s has no dialog; edit section [Camera%d] of %s", cameraName,
                              static_cast<int>(i) + 1, settings_.file.c_str());
                result = 1;
            }
        }
    }
    send(notices);
    return result;
}

int SimDriver::maxPorts(int grabber) {
    std::lock_guard lock(mutex_);
    return grabber == 0 ? static_cast<int>(ports_.size()) : 0;
}

int SimDriver::cameraCount() {
    std::lock_guard lock(mutex_);
    return initialized_ ? static_cast<int>(settings_.cameras.size()) : 0;
}

const char** SimDriver::cameraNames() {
    return nameList_.data();
}

SimPort* SimDriver::findPort(int grabber, int port) {
    if (grabber != 0 || port < 0 || port >= static_cast<int>(ports_.size())) {
        return nullptr;
    }
    return ports_[static_cast<std::size_t>(port)].get();
}

int SimDriver::openPort(int grabber, int port, const char* cameraName, int* size) {
    Notices notices;
    bool opened = false;
    {
        std::lock_guard lock(mutex_);
        const int portCount = static_cast<int>(ports_.size());
        int camera = -1;
        for (std::size_t i = 0; cameraName != nullptr && i < settings_.cameras.size(); ++i) {
            if (settings_.cameras[i].name == cameraName) {
                camera = static_cast<int>(i);
            }
        }
        const int named = camera;
        camera = -1;
        if (!initialized_) {
            notices.debug("openCVLPort: not initialised");
        } else if (cameraName == nullptr || size == nullptr) {
            notices.debug("openCVLPort: port %d: no camera name or size given", port);
        } else if (grabber != 0 || port < 0 || port >= portCount) {
            notices.debug(
                "openCVLPort: grabber %d port %d does not exist (grabber 0, ports 0 to %d)",
                grabber, port, portCount - 1);
        } else if (named < 0) {
            notices.debug("openCVLPort: port %d: no camera is named %s", port, cameraName);
        } else if (ports_[static_cast<std::size_t>(port)] != nullptr) {
            notices.debug("openCVLPort: port %d is already open with %s", port,
                          ports_[static_cast<std::size_t>(port)]->settings.name.c_str());
        } else {
            camera = named;
            for (const auto& other : ports_) {
                if (other != nullptr && other->camera == named + 1) {
                    notices.debug("openCVLPort: camera %s is already open on port %d", cameraName,
                                  other->port);
                    camera = -1;
                }
            }
        }
        if (camera >= 0) {
            auto slot = std::make_shared<SimPort>();
            slot->port = port;
            slot->camera = camera + 1;
            slot->settings = settings_.cameras[static_cast<std::size_t>(camera)];
            slot->scene = scenes_[static_cast<std::size_t>(camera)];
            slot->reseed();
            size[0] = slot->settings.width;
            size[1] = slot->settings.height;
            ports_[static_cast<std::size_t>(port)] = std::move(slot);
            opened = true;
        }
    }
    send(notices);
    if (opened) {
        std::lock_guard threadLock(threadMutex_);
        if (!delivery_.joinable()) {
            delivery_ = std::thread([this] { deliveryLoop(); });
        }
    }
    return opened ? 1 : 0;
}

void SimDriver::closePort(int grabber, int port) {
    std::unique_lock lock(mutex_);
    SimPort* slot = findPort(grabber, port);
    if (slot == nullptr) {
        return;
    }
    std::shared_ptr<SimPort> closing = std::move(ports_[static_cast<std::size_t>(port)]);
    closing->open = false;
    wake_.notify_all();
    // No callback of the port may run once this returns, except the one this call comes from.
    if (deliveryId_.load() != std::this_thread::get_id()) {
        wake_.wait(lock, [&] { return inCallback_ != closing.get(); });
    }
}

void SimDriver::startExposure(SimPort& port, Notices& notices) {
    int extraMs = 0;
    if (port.settings.randomDelay > 0) {
        extraMs = static_cast<int>(port.random() %
                                   (static_cast<uint32_t>(port.settings.randomDelay) + 1));
        notices.command(port.cmdCallback, 0, port.port,
                        "port %d: image %u delayed by %d ms (RandomDelay %d)", port.port,
                        port.frame, extraMs, port.settings.randomDelay);
    }
    port.due = Clock::now() + std::chrono::microseconds(port.settings.exposureTime) +
               std::chrono::milliseconds(extraMs);
}

int SimDriver::grab(int grabber, int port) {
    Notices notices;
    int result = 0;
    {
        std::lock_guard lock(mutex_);
        SimPort* slot = findPort(grabber, port);
        if (slot == nullptr) {
            notices.debug("doCVLGrab: grabber %d port %d is not open", grabber, port);
        } else if (slot->settings.refuseGrabAfter > 0 &&
                   slot->grabs >= static_cast<uint32_t>(slot->settings.refuseGrabAfter)) {
            ++slot->refusals;
            notices.fault(slot->cmdCallback, 0, port,
                          "port %d: grab refused after %u grabs (RefuseGrabAfter %d)", port,
                          slot->grabs, slot->settings.refuseGrabAfter);
        } else if (slot->pending > kMaxPendingGrabs) {
            ++slot->refusals;
            notices.debug("doCVLGrab: port %d: grab refused, %d grabs are waiting already", port,
                          slot->pending);
        } else {
            ++slot->grabs;
            result = 1;
            // A stalled camera takes the trigger and never answers it.
            if (!slot->stalled) {
                ++slot->pending;
                if (slot->pending == 1) {
                    startExposure(*slot, notices);
                }
                wake_.notify_all();
            }
        }
    }
    send(notices);
    return result;
}

int SimDriver::grabRow(int grabber, int port, void* buffer, int row, int firstColumn,
                       int lastColumn) {
    std::lock_guard lock(mutex_);
    const SimPort* slot = findPort(grabber, port);
    if (slot == nullptr || buffer == nullptr || slot->front.empty()) {
        return 0;
    }
    const SimImage& image = slot->front;
    if (row < 0 || row >= image.height || firstColumn < 0 || lastColumn < firstColumn ||
        lastColumn >= image.width) {
        return 0;
    }
    std::memcpy(buffer,
                image.row(row) + static_cast<std::size_t>(firstColumn) * image.bytesPerPixel,
                static_cast<std::size_t>(lastColumn - firstColumn + 1) * image.bytesPerPixel);
    return 1;
}

int SimDriver::setCompleteCallback(int grabber, int port, CompleteCallback callback) {
    std::lock_guard lock(mutex_);
    SimPort* slot = findPort(grabber, port);
    if (slot == nullptr) {
        return 0;
    }
    slot->completeCallback = callback;
    return 1;
}

int SimDriver::setCmdCallback(int grabber, int port, CmdCallback callback) {
    std::lock_guard lock(mutex_);
    SimPort* slot = findPort(grabber, port);
    if (slot == nullptr) {
        return 0;
    }
    slot->cmdCallback = callback;
    return 1;
}

int SimDriver::propertyRange(int grabber, int port, const char* name, int* minValue,
                             int* maxValue) {
    std::lock_guard lock(mutex_);
    const IntSetting* setting = findIntSetting(name);
    if (findPort(grabber, port) == nullptr || setting == nullptr || minValue == nullptr ||
        maxValue == nullptr) {
        return 0;
    }
    *minValue = setting->minValue;
    *maxValue = setting->maxValue;
    return 1;
}

int SimDriver::getProperty(int grabber, int port, const char* name, int* value) {
    std::lock_guard lock(mutex_);
    const SimPort* slot = findPort(grabber, port);
    const IntSetting* setting = findIntSetting(name);
    if (slot == nullptr || setting == nullptr || value == nullptr) {
        return 0;
    }
    *value = slot->settings.*setting->field;
    return 1;
}

int SimDriver::setProperty(int grabber, int port, const char* name, int value) {
    Notices notices;
    int result = 0;
    {
        std::lock_guard lock(mutex_);
        SimPort* slot = findPort(grabber, port);
        const IntSetting* setting = findIntSetting(name);
        if (slot == nullptr || setting == nullptr) {
            // An unknown name is normal for a host probing what a driver offers.
        } else if (!validIntSetting(*setting, value)) {
            const char* allowed = setting->field == &CameraSettings::pixelSize ? " (8 or 24)" : "";
            notices.debug("setProperty: port %d: %s %d is not in %d to %d%s; unchanged", port,
                          setting->property, value, setting->minValue, setting->maxValue, allowed);
        } else {
            slot->settings.*setting->field = value;
            if (setting->field == &CameraSettings::randomSeed) {
                slot->reseed();
            } else if (setting->field == &CameraSettings::stallAfter) {
                slot->stalled = false;
            }
            result = 1;
        }
    }
    send(notices);
    return result;
}

int SimDriver::execCmd(int grabber, int port, const char* command, const char* /*arguments*/,
                       char* result, int resultSize) {
    const std::size_t size =
        result != nullptr && resultSize > 0 ? static_cast<std::size_t>(resultSize) : 0;
    std::lock_guard lock(mutex_);
    SimPort* slot = findPort(grabber, port);
    if (slot == nullptr || command == nullptr) {
        platform::copyText(result, size, "port not open");
        return 0;
    }
    if (equalsIgnoringCase(command, "status")) {
        platform::formatText(result, size,
                             "images=%u drops=%u stalls=%u refusals=%u grabs=%u pending=%d "
                             "frame=%u stalled=%d",
                             slot->images, slot->drops, slot->stalls, slot->refusals, slot->grabs,
                             slot->pending, slot->frame, slot->stalled ? 1 : 0);
        return 1;
    }
    if (equalsIgnoringCase(command, "reset")) {
        slot->images = slot->drops = slot->stalls = slot->refusals = slot->grabs = 0;
        slot->frame = 0;
        slot->pending = 0;
        slot->stalled = false;
        slot->reseed();
        platform::copyText(result, size, "reset");
        return 1;
    }
    if (equalsIgnoringCase(command, "help")) {
        platform::copyText(result, size,
                           "status: counters of the port; reset: counters, frame number and stall "
                           "back to 0");
        return 1;
    }
    platform::formatText(result, size, "unknown command %s (status, reset, help)", command);
    return 0;
}

void SimDriver::deliveryLoop() {
    platform::setCurrentThreadName("simcam-delivery");
    deliveryId_.store(std::this_thread::get_id());
    std::unique_lock lock(mutex_);
    // Runs a port's command-callback texts and, when given, its completion callback, with the
    // lock released; closePort waits while inCallback_ names the port.
    auto announce = [&](const std::shared_ptr<SimPort>& port, Notices& notices,
                        CompleteCallback callback) {
        inCallback_ = port.get();
        const int number = port->port;
        lock.unlock();
        send(notices);
        if (callback != nullptr) {
            callback(0, number);
        }
        lock.lock();
        inCallback_ = nullptr;
        wake_.notify_all();
    };
    while (!stopping_) {
        std::shared_ptr<SimPort> next;
        for (const auto& port : ports_) {
            if (port != nullptr && port->pending > 0 && !port->stalled &&
                (next == nullptr || port->due < next->due)) {
                next = port;
            }
        }
        if (next == nullptr) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < next->due) {
            wake_.wait_until(lock, next->due);
            continue;
        }
        SimPort& port = *next;
        Notices notices;
        if (port.settings.stallAfter > 0 &&
            port.images >= static_cast<uint32_t>(port.settings.stallAfter)) {
            port.stalled = true;
            port.pending = 0;
            ++port.stalls;
            notices.fault(port.cmdCallback, 0, port.port,
                          "port %d: stalled after %u images (StallAfter %d)", port.port,
                          port.images, port.settings.stallAfter);
            announce(next, notices, nullptr);
            continue;
        }
        const uint32_t frame = port.frame++;
        --port.pending;
        if (port.pending > 0) {
            startExposure(port, notices);
        }
        if (port.settings.dropEvery > 0 &&
            (frame + 1) % static_cast<uint32_t>(port.settings.dropEvery) == 0) {
            ++port.drops;
            notices.fault(port.cmdCallback, 0, port.port,
                          "port %d: image %u dropped (DropEvery %d)", port.port, frame,
                          port.settings.dropEvery);
            announce(next, notices, nullptr);
            continue;
        }
        RenderJob job;
        job.width = port.settings.width;
        job.height = port.settings.height;
        job.bytesPerPixel = port.settings.pixelSize / 8;
        job.scene = port.scene;
        job.sceneX = port.settings.sceneX;
        job.sceneY = port.settings.sceneY + int64_t{frame} * port.settings.scrollRows;
        job.camera = port.camera;
        job.frame = frame;
        job.stamp = port.settings.stamp != 0;
        job.plainLevel = plainSceneLevel(port.settings);
        job.shading = {port.settings.gain, port.settings.vignetting, port.settings.darkOffset};
        if (looksAtPlane(port.settings)) {
            const CameraSettings& camera = port.settings;
            job.model.emplace(camera.width, camera.height, planeViewOf(camera), mountingOf(camera));
            job.showTarget = equalsIgnoringCase(camera.scene.c_str(), kTargetScene);
            job.target = camera.target;
            job.scenePitch = camera.scenePitch > 0.0 ? camera.scenePitch : 1.0;
            job.beltShift = static_cast<double>(frame) * camera.scrollRows * camera.worldPitch;
            job.footprint = camera.worldPitch / (1.0 + camera.scale);
        }
        lock.unlock();
        renderImage(job, port.back);
        lock.lock();
        if (!port.open || stopping_) {
            continue;
        }
        std::swap(port.front, port.back);
        ++port.images;
        announce(next, notices, port.completeCallback);
    }
}

}  // namespace quiltra::simcam

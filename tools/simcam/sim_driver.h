// The simulated camera driver behind simcam's entry points: settings, open ports, and the
// one delivery thread that finishes exposures and announces images through the ports'
// completion callbacks, as the driver of a real frame grabber does.
#pragma once

#include <quiltra/camera_driver.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "notices.h"
#include "platform/thread_annotations.h"
#include "sim_port.h"
#include "sim_settings.h"

namespace quiltra::simcam {

// Grabs a port accepts beyond the one being exposed before it refuses.
inline constexpr int kMaxPendingGrabs = 16;

class SimDriver {
public:
    // The library's one driver; lives until the library is unloaded.
    static SimDriver& instance();

    SimDriver() = default;
    // Stops the delivery thread when the host unloads without finalize.
    ~SimDriver();
    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;

    int initialize(const char* systemPath, DebugMsgProc debugMsgProc);
    int finalize();
    void setDebugMsgProc(DebugMsgProc proc) { debugMsgProc_.store(proc); }
    void setSystemPath(const char* systemPath);

    int configureCamera(const char* cameraName);
    int maxPorts(int grabber);
    int cameraCount();
    const char** cameraNames();

    int openPort(int grabber, int port, const char* cameraName, int* size);
    void closePort(int grabber, int port);
    int grab(int grabber, int port);
    int grabRow(int grabber, int port, void* buffer, int row, int firstColumn, int lastColumn);
    int setCompleteCallback(int grabber, int port, CompleteCallback callback);
    int setCmdCallback(int grabber, int port, CmdCallback callback);
    int propertyRange(int grabber, int port, const char* name, int* minValue, int* maxValue);
    int getProperty(int grabber, int port, const char* name, int* value);
    int setProperty(int grabber, int port, const char* name, int value);
    int execCmd(int grabber, int port, const char* command, const char* arguments, char* result,
                int resultSize);

private:
    // Reads the settings and scenes; the lock is held and no port is open.
    void loadSettings(const std::string& systemPath, Notices& notices) QUILTRA_REQUIRES(mutex_);
    // The open port (grabber, port), or null with a message when needed.
    SimPort* findPort(int grabber, int port) QUILTRA_REQUIRES(mutex_);
    // Ends the exposure time of the first started exposure: now + ExposureTime + the extra
    // random delay.
    void startExposure(SimPort& port, Notices& notices) QUILTRA_REQUIRES(mutex_);
    void deliveryLoop();
    // Stops and joins the delivery thread and forgets every port; not from the thread itself.
    void shutdown();
    void send(Notices& notices) { notices.send(debugMsgProc_.load()); }

    std::atomic<DebugMsgProc> debugMsgProc_{nullptr};

    // Guards everything below but the name texts' storage and the thread object.
    std::mutex mutex_;
    // Wakes the delivery thread (new exposure, closed port, stop) and closers waiting for a
    // callback to end.
    std::condition_variable wake_;
    bool initialized_ QUILTRA_GUARDED_BY(mutex_) = false;
    std::string systemPath_ QUILTRA_GUARDED_BY(mutex_);
    SimSettings settings_ QUILTRA_GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<const Scene>> scenes_ QUILTRA_GUARDED_BY(mutex_);  // per camera
    std::vector<std::shared_ptr<SimPort>> ports_ QUILTRA_GUARDED_BY(mutex_);       // index: port
    bool stopping_ QUILTRA_GUARDED_BY(mutex_) = false;
    // The port whose callbacks the delivery thread is running now, or null.
    const SimPort* inCallback_ QUILTRA_GUARDED_BY(mutex_) = nullptr;

    // The camera name list handed to hosts: fixed storage, so references a host keeps stay
    // valid until the library is unloaded (rewritten only at initialize and setSystemPath).
    std::array<std::array<char, kMaxNameLength + 1>, QUILTRA_CAMERA_NAME_LIST_SIZE> nameTexts_{};
    std::array<const char*, QUILTRA_CAMERA_NAME_LIST_SIZE> nameList_{};

    // Started by the first open port, joined by finalize (or at unload). Only host threads
    // start and join it, under threadMutex_.
    std::mutex threadMutex_;
    std::thread delivery_;
    std::atomic<std::thread::id> deliveryId_{};
};

}  // namespace quiltra::simcam

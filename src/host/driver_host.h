// The library's state and the logic behind the sixteen entry points: the DriverBinding from
// initialize to finalize, the PortTable, the CameraNameList, the DriverLock, and the
// completion hook that the underlying driver calls for every real camera port.
#pragma once

#include <quiltra/camera_driver.h>

#include <atomic>
#include <memory>

#include "driver/driver_binding.h"
#include "host/camera_name_list.h"
#include "host/port_table.h"
#include "host/scanner_list.h"
#include "platform/recursive_lock.h"
#include "platform/thread_annotations.h"

namespace quiltra {

class DriverHost {
public:
    // The one instance of the library, made on first use and never destroyed (a host may
    // unload the library without finalize; nothing may block or call a driver then).
    static DriverHost& instance();

    // Only instance() can make one.
    class ConstructionKey {
        friend class DriverHost;
        ConstructionKey() = default;
    };
    explicit DriverHost(ConstructionKey) {}

    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // The entry points, with the host's arguments; none throws on a failure it can answer.
    int initialize(const char* systemPath, DebugMsgProc debugMsgProc);
    int finalize();
    int configureCamera(void* ownerWindow, const char* cameraName);
    int getCVLMaxNoOfPorts(int grabber);
    int getCVLNoOfSupportedCameras();
    const char** getCVLCameraConfigNames();
    int openCVLPort(int grabber, int port, const char* cameraName, int* size);
    void closeCVLPort(int grabber, int port);
    int doCVLGrab(int grabber, int port);
    int getCVLGrabRow(int grabber, int port, void* buffer, int row, int firstColumn,
                      int lastColumn);
    int setCompleteCallback(int grabber, int port, CompleteCallback callback);
    int getPropertyRange(int grabber, int port, const char* name, int* minValue, int* maxValue);
    int getProperty(int grabber, int port, const char* name, int* value);
    int setProperty(int grabber, int port, const char* name, int value);
    int setCmdCallback(int grabber, int port, CmdCallback callback);
    int execCmd(int grabber, int port, const char* command, const char* arguments, char* result,
                int resultSize);

    // The work of driverCompleteHook: runs on the driver's thread, under the DriverLock for
    // its whole run, for one finished image of (grabber, port) as the driver reports them.
    void onImageComplete(int grabber, int port);

    // The binding between initialize and finalize, or null. For readers on any thread; it
    // stays valid until finalize, which the host must not call while using the library.
    DriverBinding* binding() const { return current_.load(std::memory_order_acquire); }

private:
    // The scanner side: a port opened with a scanner name. The scanner is made and built from
    // its sections with no library lock held (construction asks the drivers for pixel
    // sizes), then entered into the slot and the ScannerList under the DriverLock. A failed
    // build destroys it and answers 0; the slot stays reserved until the caller frees it.
    int openScannerPort(int grabber, int port, const char* name, int* size);
    // Offers an image to the cameras of the open scanners; true when some scanner camera
    // uses (grabber, port), which then decides where the image goes. No scanner is open
    // before scanners are built, so every image goes to the host.
    bool routeToScanners(int grabber, int port) QUILTRA_REQUIRES(driverLock_);

    // Closes a scanner port: the scanner leaves the slot and the ScannerList under the
    // DriverLock, so no hook reaches it any more, and is destroyed with no lock held.
    // False when the port holds no scanner.
    bool closeScannerPort(int port);

    int openCameraPort(DriverBinding& binding, int grabber, int port, const char* name, int* size);
    // Closes a real camera port: the slot turns busy, the driver closes it with no library
    // lock held, then the slot is emptied.
    void closeCameraPort(int grabber, int port);
    // The driver entries of a real camera port, or null.
    const DriverEntries* cameraEntries(int port) const;
    // Calls the entry `member` of the driver of a real camera port with the host's
    // arguments, unchanged; 0 on any other port or when the driver lacks the entry.
    template <typename Fn, typename... Args>
    int forward(Fn DriverEntries::*member, int grabber, int port, Args... args) const;

    // The DriverLock. Guards binding_ and every change of ports_ (open, close, initialize,
    // finalize), and is held by onImageComplete for its whole run, so a port being closed or
    // a binding being detached waits for a hook in progress. Recursive: a host callback made
    // by the hook may call the library again on the same thread. Never held while an entry
    // point calls the driver, so a driver that waits for its delivery thread inside one of
    // its entries cannot deadlock against a hook waiting for this lock.
    mutable platform::RecursiveLock driverLock_;
    std::unique_ptr<DriverBinding> binding_ QUILTRA_GUARDED_BY(driverLock_);
    // binding_.get(), published for the lock-free readers; set and cleared under driverLock_.
    std::atomic<DriverBinding*> current_{nullptr};
    PortTable ports_;
    ScannerList scanners_ QUILTRA_GUARDED_BY(driverLock_);
    CameraNameList names_;
};

}  // namespace quiltra

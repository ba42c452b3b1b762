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

    // The work of driverCompleteHook, on the driver's thread, for one finished image of
    // (grabber, port) as the driver reports them. Under the DriverLock it walks the open
    // scanners and collects the image into the ring of every camera on that port, taking a
    // reference to each scanner it collected for; then, without the lock, it processes and
    // places each image (or hands it to the camera's worker). An image that no scanner
    // camera uses, or that a scanner refuses, goes to the host's callback of the port.
    void onImageComplete(int grabber, int port);

    // One step of a camera worker: processes and places the camera's next image.
    static void processOnWorker(ScanCamera& camera);

    // The binding between initialize and finalize, or null. For readers on any thread; it
    // stays valid until finalize, which the host must not call while using the library.
    DriverBinding* binding() const { return current_.load(std::memory_order_acquire); }

private:
    // The scanner side: a port opened with a scanner name. The scanner is made and built from
    // its sections with no library lock held (construction asks the drivers for pixel
    // sizes), then entered into the slot and the ScannerList under the DriverLock. A failed
    // build destroys it and answers 0; the slot stays reserved until the caller frees it.
    int openScannerPort(int grabber, int port, const char* name, int* size);
    // Processes one collected image of `camera` and places it into its scanner, or hands it
    // to the camera's worker (threaded cameras); no library lock is held.
    void processCollected(const std::shared_ptr<Scanner>& scanner, ScanCamera& camera);
    // Places a processed image; one the scanner refuses goes to the camera port's callback.
    void placeOrPassOn(Scanner& scanner, ScanCamera& camera);
    // The reset check after a real camera port was opened on (grabber, port) with an image
    // of width x height pixels, whose driver now reports `bytesPerPixel`.
    void resetCheck(int grabber, int port, int width, int height, int32_t bytesPerPixel)
        QUILTRA_REQUIRES(driverLock_);
    // Whether a camera of some open scanner is on (grabber, port).
    bool scannerCameraOn(int grabber, int port) const QUILTRA_REQUIRES(driverLock_);

    // Closes a scanner port: the scanner leaves the slot and the ScannerList under the
    // DriverLock, so no hook reaches it any more; then, with no lock held, it is shut down
    // and the slot's reference dropped. From inside a host callback (a nested library
    // frame) the scanner only stops calling back, and the rest completes when the thread's
    // outermost library frame ends. False when the port holds no scanner.
    bool closeScannerPort(int port);
    // Shuts the scanner down and frees its port: the second half of a scanner port's close.
    void finishScannerClose(Scanner& scanner, int port);

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

    // Serialises initialize and finalize, which read and write files and load and unload
    // the driver without the DriverLock. Taken before any other lock of the library.
    mutable platform::RecursiveLock lifecycleLock_;
    // The DriverLock. Guards binding_, the ScannerList and every change of ports_ (open,
    // close, initialize, finalize); the hook holds it while it collects images, so a
    // scanner port being closed waits for a collection in progress. Recursive. Taken after
    // a scanner lock, before a camera lock. Never held while an entry point calls the
    // driver, while the configuration file is written, or while a host callback runs.
    mutable platform::RecursiveLock driverLock_;
    std::unique_ptr<DriverBinding> binding_ QUILTRA_GUARDED_BY(driverLock_);
    // binding_.get(), published for the lock-free readers; set and cleared under driverLock_.
    std::atomic<DriverBinding*> current_{nullptr};
    PortTable ports_;
    ScannerList scanners_ QUILTRA_GUARDED_BY(driverLock_);
    CameraNameList names_;
};

}  // namespace quiltra

// One run of quiltra-grab: load the driver library, initialise it, open the requested camera
// and scanner ports, grab, read and save the images, report, and close everything again.
#pragma once

#include <quiltra/camera_driver.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "driver_library.h"
#include "final_image_check.h"
#include "grab_options.h"
#include "platform/thread_annotations.h"
#include "scanner_layout.h"

namespace quiltra::grab {

class GrabSession {
public:
    GrabSession(const GrabOptions& options, Console& console);
    // Closes the opened ports (scanners first) and finalizes the driver.
    ~GrabSession();
    GrabSession(const GrabSession&) = delete;
    GrabSession& operator=(const GrabSession&) = delete;

    // Runs everything; the exit code of the first failure, or 0.
    int run();

    // Ends the grabbing after the current grab (safe from a signal handler): the images so
    // far are kept, the ports closed and the summary printed.
    static void requestStop();

    // The file name of image `index` (from 0) of the port `port` opened with `name`.
    static std::string imageFileName(const std::string& name, int port, int index);

private:
    // An opened port. The fields up to `target` are fixed before grabbing starts; the
    // counters are guarded by mutex_; lastFrame, stampCamera and check are the main thread's.
    struct OpenPort {
        std::string name;
        int port = 0;
        bool scanner = false;
        int width = 0;
        int height = 0;
        int bytesPerPixel = 1;
        int listNumber = 0;  // a camera's place in the driver's camera list, from 1 (0: none)
        tools::ScannerLayout layout;        // a scanner's bands and segments
        bool target = false;                // grabbed by this run
        bool active = true;                 // still grabbed (false after a refusal or a time-out)
        int received = 0;                   // images announced by the driver
        int kept = 0;                       // images saved (only read, with --no-save)
        int late = 0;                       // images that came after the port's time-out
        int passThrough = 0;                // notifications of a scanner's camera images, not read
        std::optional<uint32_t> lastFrame;  // --verify: the last frame stamp seen
        int stampCamera = 0;
        std::unique_ptr<FinalImageCheck> check;  // --verify of a scanner's final images
    };
    // An image read inside the completion callback, waiting to be saved.
    struct Image {
        std::size_t portIndex = 0;
        int index = 0;
        int width = 0;
        int height = 0;
        std::vector<uint8_t> pixels;
    };

    int initializeDriver();
    int openPorts();
    int openOne(const PortRequest& request, bool scanner);
    // Runs the --set, --get and --cmd of a group and prints what they give; `images` is the
    // number of images each grabbed port has had (0: before grabbing, where the first
    // refusal ends the group). False when some request was refused (reported).
    bool runControls(const ControlGroup& group, int images);
    // Runs the groups due once `images` images of every grabbed port are in.
    void runControlsAfter(int images);
    // A scanner's scan count and overlap as it reports them, into its layout.
    void readScannerSettings(OpenPort& port);
    // Completes each scanner's layout with what the scanner and its cameras report.
    void prepareScanners();
    // doCVLGrab calls that one final image of a scanner still needs.
    int scannerTriggers(const OpenPort& port, int round) const;
    int grabAll();
    // Verifies and saves (or, with --no-save, only counts) the images read so far; false on
    // a failure (already reported).
    bool saveImages();
    bool verifyImage(OpenPort& port, const Image& image);
    void fail(int code, const std::string& message);
    OpenPort* findPort(int port) QUILTRA_REQUIRES(mutex_);

    static void QUILTRA_CALL onDebugMessage(const char* text);
    static void QUILTRA_CALL onComplete(int grabber, int port);
    static void QUILTRA_CALL onCommandText(int grabber, int port, const char* text);
    void complete(int grabber, int port);

    const GrabOptions& options_;
    Console& console_;
    std::string libraryPath_;
    std::string systemDir_;  // absolute, as handed to initialize
    std::unique_ptr<tools::DriverLibrary> library_;
    bool initialized_ = false;
    int exitCode_ = kExitOk;  // main thread only
    int failures_ = 0;        // main thread only
    int timeouts_ = 0;        // main thread only

    // Guards ports_' counters, images_ and readFailures_; arrived_ tells the main thread of
    // a new image. The list of ports itself only changes before grabbing starts.
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<OpenPort> ports_;
    std::deque<Image> images_ QUILTRA_GUARDED_BY(mutex_);
    std::vector<std::string> readFailures_ QUILTRA_GUARDED_BY(mutex_);

    // The session the C callbacks report to; set while the driver is initialised.
    static std::atomic<GrabSession*> current_;
    static std::atomic<bool> stopRequested_;
};

}  // namespace quiltra::grab

// The benchmark as a host: Quiltra loaded as a host loads it, with the in-memory camera
// driver as its underlying driver, and one scanner open at a time, grabbed through the C
// interface.
#pragma once

#include <quiltra/camera_driver.h>

#include <cstdint>
#include <memory>
#include <string>

#include "copy_models.h"
#include "driver_library.h"
#include "memory_driver_control.h"
#include "platform/dynamic_library.h"

namespace quiltra::bench {

// One pipeline configuration: the scanner's layout, whether its cameras process on their
// own worker (Threaded=1) or on the driver's thread (Threaded=0), and its grab timeout.
struct PipelineCase {
    Geometry geometry;
    bool threaded = true;
    int grabTimeoutMs = 0;

    // "2x640x480/scans:1/threaded:1", with "/timeout:1000" when there is a grab timeout.
    std::string label() const;
    bool operator==(const PipelineCase&) const = default;
};

// Scanner0001 open on the port after its cameras' ports 0..N-1, with the benchmark's
// completion callback. One at a time.
class ScannerSession {
public:
    ScannerSession(const tools::DriverEntryPoints& quiltra, MemoryDriverControl& driver,
                   const PipelineCase& pipelineCase);
    // Closes the scanner port, then the camera ports.
    ~ScannerSession();
    ScannerSession(const ScannerSession&) = delete;
    ScannerSession& operator=(const ScannerSession&) = delete;

    // Opens the ports, grabs `warmUp` final images and compares the last one, byte for
    // byte, with the cameras' images. False with the reason in `error`.
    bool open(int warmUp, std::string& error);
    // One final image: one doCVLGrab of the scanner port per scan, the queued camera images
    // delivered to Quiltra's hook on this thread, then the wait for the scanner's completion
    // callback. Allocates nothing. False, with a static text in `error`, when the grab was
    // refused or no final image came within the wait; the session is then unusable.
    bool grabOne(const char*& error);

    const PipelineCase& pipelineCase() const { return case_; }
    bool broken() const { return broken_; }

private:
    bool verifyFinalImage(std::string& error);

    const tools::DriverEntryPoints& quiltra_;
    MemoryDriverControl& driver_;
    const PipelineCase case_;
    int scannerPort_ = -1;
    int openedCameras_ = 0;
    bool scannerOpen_ = false;
    bool broken_ = false;
    std::uint64_t completed_ = 0;  // final images this session has waited for
};

class QuiltraHost {
public:
    // The libraries are looked for in `programFolder`; Quiltra.ini is written into
    // `systemFolder`, which must exist.
    QuiltraHost(std::string programFolder, std::string systemFolder);
    // Closes what is open and finalizes Quiltra.
    ~QuiltraHost();
    QuiltraHost(const QuiltraHost&) = delete;
    QuiltraHost& operator=(const QuiltraHost&) = delete;

    // Loads Quiltra and the memory driver and initializes Quiltra. False with the reason.
    bool start(std::string& error);
    // Whether the allocations made inside libquiltra.so (by its initialize) reached the
    // program's counting operator new.
    bool countsLibraryAllocations() const { return countsLibraryAllocations_; }

    // The copy models of `geometry`, ready to run; null with the reason in `error`.
    CopyModels* models(const Geometry& geometry, std::string& error);
    // The scanner of `pipelineCase`, open and warmed up; the one already open when it is
    // the same case and not broken. Null with the reason in `error`.
    ScannerSession* session(const PipelineCase& pipelineCase, std::string& error);

    MemoryDriverControl& driver() { return *control_; }
    // Debug messages Quiltra has handed the host so far.
    static std::uint64_t debugMessages();
    // The last one, for error reports.
    static std::string lastDebugMessage();

private:
    bool configure(const Geometry& geometry, std::string& error);
    bool writeConfiguration(const PipelineCase* pipelineCase, std::string& error) const;

    const std::string programFolder_;
    const std::string systemFolder_;
    std::unique_ptr<tools::DriverLibrary> quiltra_;
    platform::DynamicLibrary driverLibrary_;
    MemoryDriverControl* control_ = nullptr;
    DriverPorts driverPorts_;
    bool initialized_ = false;
    bool countsLibraryAllocations_ = false;
    Geometry configured_;
    std::unique_ptr<CopyModels> models_;
    std::unique_ptr<ScannerSession> session_;
};

}  // namespace quiltra::bench

#include "control/scanner_properties.h"

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "config/scanner_builder.h"
#include "control/argument_reader.h"
#include "driver/driver_binding.h"
#include "platform/clock.h"
#include "platform/fixed_text.h"
#include "scanner/library_frame.h"
#include "scanner/scanner.h"

namespace quiltra {

namespace {

// Unsigned values are handed to the host as the same 32 bits.
int32_t asInt(uint32_t value) {
    return static_cast<int32_t>(value);
}

struct PropertyReader {
    const char* name;
    int32_t (*read)(const Scanner& scanner);
};

// The read table. Only "Width" and "Height" take a lock, the final image's own, so that they
// describe the image that rows are read from; it is never held while the host runs.
constexpr PropertyReader kReaders[] = {
    {"PixelSize", [](const Scanner& s) { return s.cameras.front()->bytesPerPixel * 8; }},
    {"Width",
     [](const Scanner& s) {
         std::shared_lock guard(s.imageLock);
         return s.width;
     }},
    {"Height",
     [](const Scanner& s) {
         std::shared_lock guard(s.imageLock);
         return s.height;
     }},
    {"ScanCount", [](const Scanner& s) { return asInt(s.scanCount); }},
    {"Overlap", [](const Scanner& s) { return asInt(s.overlap); }},
    {"Count", [](const Scanner& s) { return asInt(s.minScanIndex()); }},
    {"ActiveGrabTimeout", [](const Scanner& s) { return asInt(s.activeGrabTimeout); }},
    {"MinScanCount", [](const Scanner& s) { return s.minScans.load(); }},
    {"ScanTime", [](const Scanner& s) { return asInt(s.scanTime); }},
    {"TrigTime",
     [](const Scanner& s) {
         const uint32_t count = s.scanCount;
         return asInt(count != 0 ? s.scanTime / count : 0);
     }},
    {"ActiveGrabTimeoutCount", [](const Scanner& s) { return asInt(s.activeGrabTimeoutCount); }},
    {"Verbose", [](const Scanner& s) { return s.binding != nullptr ? s.binding->verbose() : 0; }},
};

// Writes the scanner's sections through its hook, never under a library lock: inside a
// host callback (where this thread may hold a scanner lock) the write waits until the
// callback has returned.
void saveScanner(Scanner& scanner) {
    const SaveScannerHook hook = scanner.saveScannerHook;
    if (hook == nullptr) {
        return;
    }
    if (LibraryFrame::nested()) {
        if (std::shared_ptr<Scanner> shared = scanner.weak_from_this().lock()) {
            LibraryFrame::defer([shared, hook] { hook(*shared); });
            return;
        }
    }
    hook(scanner);
}

int setScanCount(Scanner& scanner, int32_t value) {
    scanner.setScanCount(static_cast<uint32_t>(value));
    saveScanner(scanner);
    return 1;
}

int setCalibProperty(Scanner& scanner, int32_t value) {
    return setCalib(scanner, static_cast<uint32_t>(value));
}

int setOverlap(Scanner& scanner, int32_t value) {
    std::lock_guard guard(scanner.lock);
    scanner.overlap = static_cast<uint32_t>(value) % scanner.scanCount;
    return 1;
}

int setCountProperty(Scanner& scanner, int32_t value) {
    std::lock_guard guard(scanner.lock);
    scanner.setCount(static_cast<uint32_t>(value));
    return 1;
}

int setVerbose(Scanner& scanner, int32_t value) {
    if (scanner.binding != nullptr) {
        scanner.binding->setVerbose(value);
    }
    return 1;
}

int setPassThru(Scanner& scanner, int32_t value) {
    char text[16];
    platform::formatText(text, sizeof text, "%d", static_cast<int>(value));
    setPassThruList(scanner, text);
    return 1;
}

int setActiveGrabTimeout(Scanner& scanner, int32_t value) {
    std::lock_guard guard(scanner.lock);
    scanner.activeGrabTimeout = static_cast<uint32_t>(value);
    return 1;
}

int setMinScanCount(Scanner& scanner, int32_t value) {
    std::lock_guard guard(scanner.lock);
    scanner.minScans = value;
    return 1;
}

struct PropertyWriter {
    const char* name;
    int (*write)(Scanner& scanner, int32_t value);
};

// The write table, in the order the names are tested.
constexpr PropertyWriter kWriters[] = {
    {"ScanCount", &setScanCount},
    {"Calib", &setCalibProperty},
    {"Overlap", &setOverlap},
    {"Count", &setCountProperty},
    {"Verbose", &setVerbose},
    {"PassThru", &setPassThru},
    {"ActiveGrabTimeout", &setActiveGrabTimeout},
    {"MinScanCount", &setMinScanCount},
};

// A name the scanner does not handle: every camera's driver gets it, also after a refusal;
// 1 when all of them answered 1. No lock is held while the drivers run.
int passPropertyOn(Scanner& scanner, const char* name, int32_t value) {
    if (value == 0 &&
        (equalsIgnoringCase(name, "Continous") || equalsIgnoringCase(name, "Continuous"))) {
        std::lock_guard guard(scanner.lock);
        scanner.startTimer(0);  // the pending grab timeout only; the cycle stays as it is
    }
    std::size_t accepted = 0;
    for (const auto& camera : scanner.cameras) {
        const SetPropertyFn set =
            camera->binding != nullptr ? camera->binding->entries().setProperty : nullptr;
        if (set != nullptr && set(camera->grabber, camera->port, name, value) == 1) {
            ++accepted;
        }
    }
    return accepted == scanner.cameras.size() ? 1 : 0;
}

// Byte size of a camera's image through calibration entry `entry` (its resampler's output
// size; the camera's own size for an empty entry).
double entrySize(const ScanCamera& camera, uint32_t entry) QUILTRA_REQUIRES(camera.lock) {
    const ResamplerBinding* resampler =
        entry < camera.resamplers.size() ? camera.resamplers[entry].get() : nullptr;
    if (resampler == nullptr) {
        return Scanner::imageByteSize({camera.width, camera.bytesPerPixel, camera.height});
    }
    return Scanner::imageByteSize(
        {resampler->outputColumns(), camera.bytesPerPixel, resampler->outputRows()});
}

// What the prefilter and calibration lines of one camera's switch report.
struct EntryDescription {
    bool hasFilter = false;
    std::string filterName;
    std::string filterOptions;
    bool hasResampler = false;
    std::string calibFile;
};

// Switches one camera to entry `index` (which it has) under its lock, and describes the
// entry for the messages that follow once the lock is released.
EntryDescription switchCamera(ScanCamera& camera, uint32_t index) {
    std::lock_guard guard(camera.lock);
    const double size = entrySize(camera, index);
    if (entrySize(camera, camera.calibIndex) != size) {
        camera.reallocateProcessed(size);
    }
    camera.calibIndex = index;
    EntryDescription entry;
    if (index < camera.filters.size() && camera.filters[index] != nullptr) {
        entry.hasFilter = true;
        entry.filterName = camera.filters[index]->filterName();
        entry.filterOptions = camera.filters[index]->filterOptions();
    }
    if (index < camera.resamplers.size() && camera.resamplers[index] != nullptr) {
        entry.hasResampler = true;
        entry.calibFile = camera.resamplers[index]->calibFile();
    }
    return entry;
}

bool hasEntry(const ScanCamera& camera, uint32_t index) {
    std::lock_guard guard(camera.lock);
    return index < camera.resamplers.size();
}

}  // namespace

int getScannerProperty(const Scanner& scanner, const char* name, int* value) {
    if (name == nullptr || value == nullptr || scanner.cameras.empty()) {
        return 0;
    }
    for (const PropertyReader& reader : kReaders) {
        if (equalsIgnoringCase(name, reader.name)) {
            *value = reader.read(scanner);
            return 1;
        }
    }
    return 0;
}

int setScannerProperty(Scanner& scanner, const char* name, int32_t value) {
    if (name == nullptr || scanner.cameras.empty()) {
        return 0;
    }
    for (const PropertyWriter& writer : kWriters) {
        if (equalsIgnoringCase(name, writer.name)) {
            return writer.write(scanner, value);
        }
    }
    return passPropertyOn(scanner, name, value);
}

int setCalib(Scanner& scanner, uint32_t index) {
    const int64_t start = platform::performanceCounter();
    const char* s = scanner.name.c_str();
    const DriverBinding* binding = scanner.binding;
    std::lock_guard guard(scanner.lock);
    // A closing scanner may be releasing its plug-ins: it switches nothing.
    if (scanner.closing()) {
        return 0;
    }
    for (const auto& camera : scanner.cameras) {
        if (!hasEntry(*camera, index)) {
            return 0;
        }
    }
    int n = 1;
    for (const auto& camera : scanner.cameras) {
        const EntryDescription entry = switchCamera(*camera, index);
        if (binding != nullptr) {
            if (entry.hasFilter) {
                binding->verboseMessage("%s Camera %d: prefilter %s  %s\n", s, n,
                                        entry.filterName.c_str(), entry.filterOptions.c_str());
            } else {
                binding->verboseMessage("%s Camera %d: no prefilter\n", s, n);
            }
            if (entry.hasResampler) {
                binding->verboseMessage(
                    "%s Camera %d: calibration %s\n", s, n,
                    entry.calibFile.empty() ? "in pixels" : entry.calibFile.c_str());
            } else {
                binding->verboseMessage("%s Camera %d: no calibration\n", s, n);
            }
        }
        ++n;
    }
    scanner.resetCycle();
    scanner.setScanCount(scanner.scanCount);
    if (binding != nullptr) {
        binding->verboseMessage(
            "%s: setCalib[%d] in %.1f ms\n", s, static_cast<int>(index),
            static_cast<double>(platform::elapsedSince(platform::kMicroseconds, start)) / 1000.0);
    }
    return 1;
}

}  // namespace quiltra

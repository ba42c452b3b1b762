#include "config/scanner_builder.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

#include "config/camera_port_lookup.h"
#include "config/configuration_file.h"
#include "driver/driver_binding.h"
#include "platform/file_path.h"
#include "platform/fixed_text.h"
#include "platform/private_profile.h"
#include "scanner/scanner.h"

namespace quiltra {

namespace {

constexpr int kMaxCameras = static_cast<int>(Scanner::kMaxCameras);

// A quotient rounded to the nearest integer, halves away from zero, held in 32 bits (values
// beyond the range clamp, a NaN gives 0).
int32_t roundToInt32(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    const float rounded = std::round(value);
    if (rounded >= 2147483648.0f) {
        return std::numeric_limits<int32_t>::max();
    }
    if (rounded < -2147483648.0f) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(rounded);
}

std::string readText(const platform::ProfileReader& profile, const char* section, const char* key,
                     const char* defaultValue, std::size_t size) {
    std::string buffer(size, '\0');
    profile.getString(section, key, defaultValue, buffer.data(), static_cast<int>(size));
    return std::string(buffer.c_str());
}

// Everything construction reads before the cameras.
struct ScannerSection {
    std::string filterLibrary;
    std::string resampleLibrary;
    int cameras = 1;
    int scans = 1;
    int overlap = 0;
    int activeGrabTimeout = 0;
    int minScans = 0;
    Point topLeft;
    Point size;
    Point pitch;
    std::string passThru;
    bool active = false;
    bool threaded = true;
};

// The values carried from one calibration entry to the next, across cameras.
struct RunningValues {
    int mode = 0;
    Point corner;
};

// The inputs of one calibration entry that are read before its prefilter is bound.
struct EntryFiles {
    char prefilter[kPathSize] = {};
    std::string options;
    char calibFile[kPathSize] = {};
};

class Builder {
public:
    Builder(Scanner& scanner, const char* name, const CameraPortLookup& ports)
        : scanner_(scanner),
          binding_(*scanner.binding),
          name_(name),
          ports_(ports),
          path_(configFilePath(binding_.systemPath(), kPathSize)),
          file_(path_.c_str()),
          profile_(file_) {}

    bool build() {
        readScannerSection();
        if (!withinDataModel()) {
            return false;
        }
        for (int n = 1; n <= section_.cameras; ++n) {
            buildCamera(n);
        }
        scanner_.setScanCount(static_cast<uint32_t>(section_.scans));
        {
            std::lock_guard guard(scanner_.lock);
            scanner_.activeGrabTimeout = static_cast<uint32_t>(section_.activeGrabTimeout);
            scanner_.minScans = section_.minScans;
            scanner_.overlap = static_cast<uint32_t>(section_.overlap) % scanner_.scanCount;
        }
        setPassThruList(scanner_, section_.passThru.c_str());
        {
            std::lock_guard guard(scanner_.lock);
            scanner_.active = section_.active;
        }
        return section_.cameras >= 0 &&
               scanner_.cameras.size() == static_cast<std::size_t>(section_.cameras);
    }

private:
    void readScannerSection() {
        section_.filterLibrary =
            readText(profile_, kConfigSection, "FilterDLL", kDefaultFilterLibrary, kPathSize);
        section_.resampleLibrary =
            readText(profile_, kConfigSection, "ResampleDLL", kDefaultResampleLibrary, kPathSize);
        const int configMode = profile_.getInt(kConfigSection, "ResampleMode", 0);
        running_.mode = profile_.getInt(name_, "ResampleMode", configMode);

        section_.cameras = profile_.getInt(name_, "Cameras", 1);
        section_.scans = profile_.getInt(name_, "Scans", 1);
        section_.overlap = profile_.getInt(name_, "Overlap", 0);
        section_.activeGrabTimeout = profile_.getInt(name_, "ActiveGrabTimeout", 0);
        section_.minScans = profile_.getInt(name_, "MinScans", 0);
        section_.topLeft = readPoint(profile_, name_, "TopLeft", 0.0f, 0.0f);
        running_.corner = section_.topLeft;
        section_.size = readPoint(profile_, name_, "Size", 100.0f, 120.0f);
        section_.pitch = readPoint(profile_, name_, "Pitch", 1.0f, 1.0f);
        section_.passThru = readText(profile_, name_, "PassThru", "1,-1", kPassThruSize);
        section_.active = profile_.getInt(name_, "Active", 0) != 0;
        section_.threaded = profile_.getInt(name_, "Threaded", 1) != 0;
    }

    // Refuses what the scanner records cannot hold, naming each offending key.
    bool withinDataModel() {
        bool within = true;
        if (section_.cameras > kMaxCameras) {
            binding_.verboseMessage("%s: invalid [%s] Cameras %d in %s: at most %d cameras\n",
                                    scanner_.name.c_str(), name_, section_.cameras, file_,
                                    kMaxCameras);
            within = false;
        }
        if (section_.scans < 0) {
            binding_.verboseMessage("%s: invalid [%s] Scans %d in %s: negative scan count\n",
                                    scanner_.name.c_str(), name_, section_.scans, file_);
            within = false;
        }
        within = checkPitch("Pitch_x", section_.pitch.x) && within;
        within = checkPitch("Pitch_y", section_.pitch.y) && within;
        return within;
    }

    bool checkPitch(const char* key, float value) {
        if (std::isfinite(value) && value > 0.0f) {
            return true;
        }
        binding_.verboseMessage("%s: invalid [%s] %s %s in %s: pitch must be a positive number\n",
                                scanner_.name.c_str(), name_, key, platform::formatG(value).c_str(),
                                file_);
        return false;
    }

    // Port validation: in range, not the scanner's own, a real camera, not a scanner.
    bool validPort(int port, CameraPort& slot) const {
        if (port < 0 || port >= CameraPortLookup::kPortCount) {
            return false;
        }
        if (port == scanner_.port) {
            return false;
        }
        slot = ports_.lookup(port);
        return slot.hasBinding && !slot.hasScanner;
    }

    void buildCamera(int n) {
        char cameraSection[kPathSize];
        platform::formatText(cameraSection, sizeof cameraSection, "%s.Camera%d", name_, n);
        const int port = profile_.getInt(cameraSection, "Port", -1);
        CameraPort slot;
        if (!validPort(port, slot)) {
            const bool inRange = port >= 0 && port < CameraPortLookup::kPortCount;
            binding_.verboseMessage("%s: invalid %s for port %d in %s\n", scanner_.name.c_str(),
                                    inRange ? "driver" : "port", port, file_);
            return;
        }
        ScanCamera* camera = scanner_.addCamera(port, slot.width, slot.height);
        if (camera == nullptr) {
            return;
        }
        EntryFiles files;
        readEntryFiles(cameraSection, files);
        camera->threaded = section_.threaded;
        buildEntries(*camera, cameraSection, files);
        running_.corner.y += static_cast<float>(camera->width);
    }

    void readEntryFiles(const char* section, EntryFiles& files) const {
        const char* systemPath = binding_.systemPath().c_str();
        readPath(profile_, section, "Prefilter", systemPath, files.prefilter);
        files.options = readText(profile_, section, "PrefilterOptions", "", kOptionsSize);
        readPath(profile_, section, "CalibFile", systemPath, files.calibFile);
    }

    void buildEntries(ScanCamera& camera, const char* cameraSection, EntryFiles& files) {
        std::string section = cameraSection;
        for (int k = 1;; ++k) {
            camera.filters.push_back(makeFilter(camera, section.c_str(), files));
            camera.resamplers.push_back(makeResampler(camera, section.c_str(), files));
            const ResamplerBinding& resampler = *camera.resamplers.back();
            if (resampler.hasSetResampleMode()) {
                resampler.setResampleMode(running_.mode);
            }
            char next[kPathSize];
            platform::formatText(next, sizeof next, "%s.Calib%d", cameraSection, k);
            section = next;
            readEntryFiles(next, files);
            if (files.prefilter[0] == '\0' && files.calibFile[0] == '\0') {
                return;
            }
        }
    }

    std::unique_ptr<FilterBinding> makeFilter(const ScanCamera& camera, const char* section,
                                              const EntryFiles& files) const {
        if (files.prefilter[0] == '\0') {
            return nullptr;
        }
        if (!platform::fileExists(files.prefilter)) {
            binding_.verboseMessage("%s: missing prefilter %s for port %d\n", scanner_.name.c_str(),
                                    files.prefilter, camera.port);
            return nullptr;
        }
        const std::string library =
            readText(profile_, section, "FilterDLL", section_.filterLibrary.c_str(), kPathSize);
        return FilterBinding::make(library.c_str(), files.prefilter, files.options.c_str());
    }

    std::unique_ptr<ResamplerBinding> makeResampler(const ScanCamera& camera, const char* section,
                                                    const EntryFiles& files) {
        const std::string library =
            readText(profile_, section, "ResampleDLL", section_.resampleLibrary.c_str(), kPathSize);
        const std::string angleText = readText(profile_, section, "Angle", "0", kNumberSize);
        const float angle = static_cast<float>(platform::parseFloat(angleText.c_str()));
        running_.mode = profile_.getInt(section, "ResampleMode", running_.mode);
        running_.corner =
            readPoint(profile_, section, "TopLeft", running_.corner.x, running_.corner.y);
        const float defaultSizeY = section_.size.y / static_cast<float>(section_.cameras);
        const Point size = readPoint(profile_, section, "Size", section_.size.x, defaultSizeY);

        ResamplerGeometry geometry;
        geometry.inputRows = camera.height;
        geometry.inputColumns = camera.width;
        geometry.centreX = running_.corner.x + size.x / 2.0f;
        geometry.centreY = running_.corner.y + size.y / 2.0f;
        geometry.sizeX = size.x;
        geometry.sizeY = size.y;
        geometry.angle = angle;
        geometry.outputRows = roundToInt32(size.x / section_.pitch.x);
        geometry.outputColumns = roundToInt32(size.y / section_.pitch.y);
        return std::make_unique<ResamplerBinding>(library.c_str(), files.calibFile, geometry);
    }

    Scanner& scanner_;
    const DriverBinding& binding_;
    const char* name_;
    const CameraPortLookup& ports_;
    const std::string path_;
    const char* file_;
    // Construction reads the file once: the scanner is built from one view of it.
    const platform::ProfileReader profile_;
    ScannerSection section_;
    RunningValues running_;
};

}  // namespace

bool buildScanner(Scanner& scanner, const char* name, const CameraPortLookup& ports) {
    if (scanner.binding == nullptr || name == nullptr) {
        return false;
    }
    try {
        return Builder(scanner, name, ports).build();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int setPassThruList(Scanner& scanner, const char* text) {
    std::lock_guard guard(scanner.lock);
    scanner.passThru.clear();
    if (text == nullptr || text[0] == '\0' || std::strcmp(text, "-") == 0) {
        return 0;
    }
    // Compared as signed 32-bit values, as the count is everywhere else.
    const int64_t count = static_cast<int32_t>(scanner.scanCount);
    for (const char* item = text;;) {
        const int64_t value = platform::parseInt(item);
        if ((value < 0 ? -value : value) <= count) {
            scanner.passThru.push_back(static_cast<int32_t>(value < 0 ? value + count + 1 : value));
        }
        const char* comma = std::strchr(item, ',');
        if (comma == nullptr || comma[1] == '\0') {
            break;
        }
        item = comma + 1;
    }
    return static_cast<int>(scanner.passThru.size());
}

}  // namespace quiltra

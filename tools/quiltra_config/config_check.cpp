#include "config_check.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/camera_port_lookup.h"
#include "config/configuration_file.h"
#include "platform/file_path.h"
#include "platform/fixed_text.h"
#include "platform/private_profile.h"
#include "scanner/scanner.h"
#include "scanner_layout.h"
#include "tool_system.h"

namespace quiltra::config_check {

namespace {

enum class SectionKind { none, config, scanner, camera, calib };

struct KnownKey {
    SectionKind kind;
    const char* name;
};

// The keys of the tables of docs/configuration.md, generated from it at build time.
constexpr KnownKey kKnownKeys[] = {
#include "known_keys.inc"
};

constexpr int kScannerCount = 6;  // Scanner0001 to Scanner0006
constexpr int kMaxCameras = static_cast<int>(Scanner::kMaxCameras);
constexpr int kPortCount = CameraPortLookup::kPortCount;
constexpr std::size_t kDriverNameSize = 2048;  // CameraDriver as initialize reads it
// The largest final image Quiltra allocates: its size is held in 32 bits.
constexpr double kLargestImage = 4294967295.0;

const char* kindName(SectionKind kind) {
    switch (kind) {
        case SectionKind::config:
            return "[Config]";
        case SectionKind::scanner:
            return "[ScannerNNNN]";
        case SectionKind::camera:
            return "[ScannerNNNN.CameraN]";
        case SectionKind::calib:
            return "[ScannerNNNN.CameraN.CalibK]";
        case SectionKind::none:
            break;
    }
    return "no section";
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool sameName(const std::string& a, const std::string& b) {
    return lower(a) == lower(b);
}

// A number in "%g" form, as the file holds them.
std::string number(double value) {
    return platform::formatG(value);
}

std::string megabytes(double bytes) {
    char text[64];
    platform::formatText(text, sizeof text, "%.1f MB", bytes / 1000000.0);
    return text;
}

std::string bytesText(double bytes) {
    char text[64];
    platform::formatText(text, sizeof text, "%.0f bytes (%s)", bytes, megabytes(bytes).c_str());
    return text;
}

std::string cameraSectionName(const std::string& scanner, int camera) {
    return scanner + ".Camera" + std::to_string(camera);
}

std::string scannerName(int n) {
    char text[16];
    platform::formatText(text, sizeof text, "Scanner%04d", n);
    return text;
}

// Which section a name is, and of which scanner, camera and calibration entry.
struct SectionName {
    SectionKind kind = SectionKind::none;
    int scanner = 0;  // 1 to 6
    int camera = 0;   // from 1
    int calib = 0;    // from 1
};

// A positive decimal number without sign or leading zero at the start of `text`, followed by
// `end` ("" or the next part); 0 when there is none.
int leadingNumber(const std::string& text, std::size_t& length) {
    length = 0;
    while (length < text.size() && std::isdigit(static_cast<unsigned char>(text[length])) &&
           length < 3) {
        ++length;
    }
    if (length == 0 || text[0] == '0') {
        return 0;
    }
    return std::stoi(text.substr(0, length));
}

// Classifies a section name as the library names the sections it reads ("%s.Camera%d",
// "%s.Calib%d"), without regard to case. Camera numbers above 999 are never read.
SectionName classify(const std::string& name) {
    const std::string text = lower(name);
    SectionName section;
    if (text == "config") {
        section.kind = SectionKind::config;
        return section;
    }
    for (int n = 1; n <= kScannerCount; ++n) {
        const std::string scanner = lower(scannerName(n));
        if (text.rfind(scanner, 0) != 0) {
            continue;
        }
        std::string rest = text.substr(scanner.size());
        if (rest.empty()) {
            return {SectionKind::scanner, n, 0, 0};
        }
        const std::string camera = ".camera";
        if (rest.rfind(camera, 0) != 0) {
            return section;
        }
        rest = rest.substr(camera.size());
        std::size_t length = 0;
        const int cameraNumber = leadingNumber(rest, length);
        if (cameraNumber == 0) {
            return section;
        }
        rest = rest.substr(length);
        if (rest.empty()) {
            return {SectionKind::camera, n, cameraNumber, 0};
        }
        const std::string calib = ".calib";
        if (rest.rfind(calib, 0) != 0) {
            return section;
        }
        rest = rest.substr(calib.size());
        const int calibNumber = leadingNumber(rest, length);
        if (calibNumber != 0 && length == rest.size()) {
            return {SectionKind::calib, n, cameraNumber, calibNumber};
        }
        return section;
    }
    return section;
}

bool isKnown(SectionKind kind, const std::string& key) {
    return std::any_of(std::begin(kKnownKeys), std::end(kKnownKeys), [&](const KnownKey& known) {
        return known.kind == kind && sameName(known.name, key);
    });
}

// The nearest of `candidates` to `name`, when near enough to be a typo of it.
std::string nearest(const std::string& name, const std::vector<std::string>& candidates) {
    std::string best;
    int bestDistance = std::numeric_limits<int>::max();
    for (const std::string& candidate : candidates) {
        const int distance = editDistance(name, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    const int allowed = std::max(2, static_cast<int>(name.size()) / 3);
    return bestDistance <= allowed ? best : std::string();
}

std::vector<std::string> knownKeysOf(SectionKind kind) {
    std::vector<std::string> keys;
    for (const KnownKey& known : kKnownKeys) {
        if (known.kind == kind) {
            keys.emplace_back(known.name);
        }
    }
    return keys;
}

// The kinds of section, other than `kind`, that know `key`, for "belongs to ...".
std::string otherKinds(SectionKind kind, const std::string& key) {
    std::string kinds;
    for (SectionKind other :
         {SectionKind::config, SectionKind::scanner, SectionKind::camera, SectionKind::calib}) {
        if (other != kind && isKnown(other, key)) {
            kinds += (kinds.empty() ? "" : ", ") + std::string(kindName(other));
        }
    }
    return kinds;
}

std::string readText(const platform::ProfileReader& profile, const std::string& section,
                     const char* key, const char* defaultValue, std::size_t size) {
    std::string buffer(size, '\0');
    profile.getString(section.c_str(), key, defaultValue, buffer.data(), static_cast<int>(size));
    return std::string(buffer.c_str());
}

std::string joinFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == platform::kPathSeparator)) {
        return folder + name;
    }
    return folder + platform::kPathSeparator + name;
}

// One calibration entry of a camera, as construction reads it.
struct Entry {
    std::string section;
    std::string prefilter;  // as readPath gives it: joined to the system folder
    std::string calibFile;
    float angle = 0.0f;
};

class Checker {
public:
    explicit Checker(const CheckOptions& options)
        : options_(options),
          file_(configFilePath(options.systemFolder, kPathSize)),
          profile_(file_.c_str()) {
        report_.file = file_;
    }

    CheckReport run() {
        if (!platform::fileExists(file_.c_str())) {
            add(Severity::error, "", "",
                "the file does not exist: the host's first start of Quiltra writes it (with "
                "initialize on this system folder); check that the folder is the host's");
            return report_;
        }
        checkNames();
        checkDriver();
        for (int n = 1; n <= kScannerCount; ++n) {
            if (hasSectionsOf(n)) {
                checkScanner(n);
            }
        }
        checkSharedPorts();
        return report_;
    }

private:
    void add(Severity severity, const std::string& section, const std::string& key,
             const std::string& message) {
        report_.problems.push_back({severity, section, key, message});
    }

    bool hasSectionsOf(int scanner) const {
        return std::any_of(sections_.begin(), sections_.end(), [scanner](const auto& entry) {
            return entry.second.scanner == scanner;
        });
    }

    // Unknown and repeated sections, unknown and repeated keys.
    void checkNames() {
        for (const std::string& key : profile_.keyNames("")) {
            add(Severity::warning, "", key,
                "stands before the first section header, where Quiltra reads nothing: move it "
                "into its section");
        }
        std::set<std::string> seen;
        for (const std::string& name : profile_.sectionNames()) {
            if (!seen.insert(lower(name)).second) {
                add(Severity::warning, name, "",
                    "the section appears again: of two sections of one name only the first is "
                    "read; merge them into the first");
                continue;
            }
            const SectionName section = classify(name);
            sections_.emplace_back(name, section);
            if (section.kind == SectionKind::none) {
                unknownSection(name);
                continue;
            }
            std::set<std::string> keys;
            for (const std::string& key : profile_.keyNames(name.c_str())) {
                if (!keys.insert(lower(key)).second) {
                    add(Severity::warning, name, key,
                        "the key appears again in the section: only the first is read; remove "
                        "the other");
                } else if (!isKnown(section.kind, key)) {
                    unknownKey(name, section.kind, key);
                }
            }
        }
    }

    void unknownSection(const std::string& name) {
        std::string message = "Quiltra never reads this section";
        const std::string text = lower(name);
        if (text.size() >= 11 && text.rfind("scanner", 0) == 0 &&
            std::all_of(text.begin() + 7, text.begin() + 11,
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
            const int number = std::stoi(text.substr(7, 4));
            if (number < 1 || number > kScannerCount) {
                message += ": its scanners are Scanner0001 to Scanner0006";
            }
        }
        std::vector<std::string> candidates = {"Config"};
        for (int n = 1; n <= kScannerCount; ++n) {
            const std::string scanner = scannerName(n);
            candidates.push_back(scanner);
            for (int camera = 1; camera <= 8; ++camera) {
                candidates.push_back(cameraSectionName(scanner, camera));
                candidates.push_back(cameraSectionName(scanner, camera) + ".Calib1");
            }
        }
        const std::string suggestion = nearest(name, candidates);
        if (!suggestion.empty()) {
            message += "; did you mean [" + suggestion + "]?";
        } else {
            message += "; remove it, or name it as docs/configuration.md shows";
        }
        add(Severity::warning, name, "", message);
    }

    void unknownKey(const std::string& section, SectionKind kind, const std::string& key) {
        std::string message =
            std::string("not a key of ") + kindName(kind) + ": Quiltra never reads it";
        const std::string suggestion = nearest(key, knownKeysOf(kind));
        const std::string others = otherKinds(kind, key);
        if (!suggestion.empty() && !sameName(suggestion, key)) {
            message += "; did you mean " + suggestion + "?";
        } else if (!others.empty()) {
            message += "; it is read in " + others + " only: move it there";
        } else {
            message += "; remove it (docs/configuration.md lists every key)";
        }
        if (!suggestion.empty() && !others.empty()) {
            message += " (" + key + " is read in " + others + ")";
        }
        add(Severity::warning, section, key, message);
    }

    // [Config] CameraDriver, as initialize reads it.
    void checkDriver() {
        const std::string driver =
            readText(profile_, kConfigSection, "CameraDriver", "", kDriverNameSize);
        if (driver.empty()) {
            add(Severity::error, kConfigSection, "CameraDriver",
                "empty: initialize loads no camera driver, returns 0 and lists only the scanner "
                "names; set it to the file name of the real camera driver library");
        } else if (driver.front() == '<') {
            add(Severity::error, kConfigSection, "CameraDriver",
                "still the first start's placeholder " + driver +
                    ": set it to the file name of the real camera driver library");
        } else {
            checkLibrary(Severity::error, kConfigSection, "CameraDriver", driver,
                         "initialize returns 0 and loads no camera");
        }
    }

    // Looks for a library as the loader would; reports it (once per section, key and name)
    // when it is not there.
    void checkLibrary(Severity severity, const std::string& section, const std::string& key,
                      const std::string& name, const std::string& consequence) {
        if (!checkedLibraries_.insert(lower(section) + "/" + lower(key) + "/" + name).second) {
            return;
        }
        const bool hasFolder = name.find('/') != std::string::npos ||
                               name.find(platform::kPathSeparator) != std::string::npos;
        std::string message = name + " not found";
        if (platform::isAbsolutePath(name.c_str()) || hasFolder) {
            if (platform::fileExists(name.c_str())) {
                return;
            }
            message += platform::isAbsolutePath(name.c_str())
                           ? std::string()
                           : " (a path taken from the current folder of the host)";
        } else {
            std::string folders;
            for (const std::string& folder : loaderSearchFolders(options_.loaderFolder)) {
                if (platform::fileExists(joinFolder(folder, loaderFileName(name)).c_str())) {
                    return;
                }
                folders += (folders.empty() ? "" : ", ") + folder;
            }
            message += " in the folders the loader searches: " + folders;
        }
        message += ": " + consequence +
                   "; put the library beside Quiltra (--loader-dir names that folder), into a "
                   "folder the loader searches, or give its full path";
        add(severity, section, key, message);
    }

    void checkScanner(int n) {
        const std::string name = scannerName(n);
        const tools::ScannerLayout layout = tools::readScannerLayout(profile_, name);
        ScannerGeometry geometry;
        geometry.name = name;
        const int cameras = layout.cameras;
        const int scans = profile_.getInt(name.c_str(), "Scans", 1);
        const bool pitchValid = checkRange(name, scans, cameras, layout.pitch);
        geometry.scans = std::max(1, scans);
        geometry.overlap = layout.overlap;

        std::vector<std::vector<Entry>> entries;
        // A camera count out of range refuses the scanner before any camera is read.
        const int camerasRead = cameras >= 0 && cameras <= kMaxCameras ? cameras : 0;
        for (int c = 1; c <= camerasRead; ++c) {
            const std::string section = cameraSectionName(name, c);
            CameraGeometry camera;
            camera.section = section;
            camera.port = checkPort(section);
            entries.push_back(readEntries(section));
            checkEntries(entries.back());
            geometry.cameras.push_back(camera);
        }
        if (camerasRead == cameras) {
            checkUnreadSections(n, cameras, entries);
            if (pitchValid) {
                checkFields(layout, entries, geometry);
            }
        }
        finalImage(geometry);
        report_.scanners.push_back(geometry);
    }

    // Cameras, Scans, Overlap and Pitch against what the scanner records can hold. False when
    // the pitch gives no geometry.
    bool checkRange(const std::string& name, int scans, int cameras, Point pitch) {
        if (cameras > kMaxCameras) {
            add(Severity::error, name, "Cameras",
                std::to_string(cameras) + " cameras: Quiltra refuses a scanner of more than " +
                    std::to_string(kMaxCameras) + " and it does not open; use at most " +
                    std::to_string(kMaxCameras));
        } else if (cameras < 0) {
            add(Severity::error, name, "Cameras",
                std::to_string(cameras) +
                    ": a negative count, the scanner does not open; set the "
                    "number of camera sections");
        } else if (cameras == 0) {
            add(Severity::warning, name, "Cameras",
                "0: the scanner opens without cameras and its final image is 0 x 0; set the "
                "number of cameras and give each a section [" +
                    cameraSectionName(name, 1) + "] ...");
        }
        if (scans < 0) {
            add(Severity::error, name, "Scans",
                std::to_string(scans) +
                    ": a negative scan count, Quiltra refuses the scanner; set "
                    "the scans per final image, 1 or more");
        }
        const int overlap = profile_.getInt(name.c_str(), "Overlap", 0);
        const int bands = std::max(1, scans);
        if (overlap < 0 || overlap >= bands) {
            add(Severity::warning, name, "Overlap",
                std::to_string(overlap) + " is taken as unsigned modulo Scans (" +
                    std::to_string(bands) + "): " +
                    std::to_string(static_cast<unsigned>(overlap) % static_cast<unsigned>(bands)) +
                    " bands; set it below Scans");
        }
        bool valid = true;
        for (const auto& [key, value] : {std::pair{"Pitch_x", pitch.x}, {"Pitch_y", pitch.y}}) {
            if (!std::isfinite(value) || value <= 0.0f) {
                add(Severity::error, name, key,
                    number(value) +
                        ": the pitch must be a positive number; Quiltra refuses the "
                        "scanner; set the field units per final-image pixel");
                valid = false;
            }
        }
        return valid;
    }

    // The camera's Port; -1 when it is not one.
    int checkPort(const std::string& section) {
        if (!tools::hasKey(profile_, section.c_str(), "Port")) {
            add(Severity::error, section, "Port",
                "missing: without a port the camera is refused and the scanner does not open; set "
                "the real camera port the host opens for this camera");
            return -1;
        }
        const int port = profile_.getInt(section.c_str(), "Port", -1);
        if (port < 0 || port >= kPortCount) {
            add(Severity::error, section, "Port",
                std::to_string(port) + " is outside 0 to " + std::to_string(kPortCount - 1) +
                    ": the camera is refused ('invalid port') and the scanner does not open; set "
                    "the real camera port the host opens for this camera");
            return -1;
        }
        portUsers_[port].push_back(section);
        return port;
    }

    // The camera section (entry 0), then Calib1, Calib2 ... up to the first that names
    // neither a Prefilter nor a CalibFile, as construction reads them.
    std::vector<Entry> readEntries(const std::string& cameraSection) const {
        std::vector<Entry> entries;
        for (int k = 0;; ++k) {
            Entry entry;
            entry.section = k == 0 ? cameraSection : cameraSection + ".Calib" + std::to_string(k);
            char path[kPathSize];
            readPath(profile_, entry.section.c_str(), "Prefilter", options_.systemFolder.c_str(),
                     path);
            entry.prefilter = path;
            readPath(profile_, entry.section.c_str(), "CalibFile", options_.systemFolder.c_str(),
                     path);
            entry.calibFile = path;
            entry.angle = static_cast<float>(platform::parseFloat(
                readText(profile_, entry.section, "Angle", "0", kNumberSize).c_str()));
            if (k > 0 && entry.prefilter.empty() && entry.calibFile.empty()) {
                return entries;
            }
            entries.push_back(entry);
        }
    }

    // The library name an entry uses for `key`, and the section that names it.
    std::pair<std::string, std::string> entryLibrary(const Entry& entry, const char* key,
                                                     const char* libraryDefault) const {
        if (tools::hasKey(profile_, entry.section.c_str(), key)) {
            return {entry.section, readText(profile_, entry.section, key, "", kPathSize)};
        }
        return {kConfigSection, readText(profile_, kConfigSection, key, libraryDefault, kPathSize)};
    }

    void checkEntries(const std::vector<Entry>& entries) {
        for (const Entry& entry : entries) {
            bool prefilterFound = false;
            if (!entry.prefilter.empty()) {
                prefilterFound = platform::fileExists(entry.prefilter.c_str());
                if (!prefilterFound) {
                    add(Severity::error, entry.section, "Prefilter",
                        entry.prefilter +
                            " does not exist: the entry runs without its prefilter ('missing "
                            "prefilter'); put the file there or correct the path (a relative "
                            "path is taken from the system folder)");
                }
            }
            if (prefilterFound) {
                const auto [section, library] =
                    entryLibrary(entry, "FilterDLL", kDefaultFilterLibrary);
                checkLibrary(Severity::error, section, "FilterDLL", library,
                             "the prefilter of [" + entry.section + "] is not applied");
            }
            if (!entry.calibFile.empty() && !platform::fileExists(entry.calibFile.c_str())) {
                add(Severity::error, entry.section, "CalibFile",
                    entry.calibFile +
                        " does not exist: the resampler refuses the field and it comes out "
                        "black; put the file there or correct the path (a relative path is taken "
                        "from the system folder)");
            }
            // Without a calibration file and turn, a field of the camera's own size is placed
            // unchanged and needs no resampler: whether it is cannot be told from the file.
            const bool resamples = !entry.calibFile.empty() || entry.angle != 0.0f;
            const auto [section, library] =
                entryLibrary(entry, "ResampleDLL", kDefaultResampleLibrary);
            checkLibrary(resamples ? Severity::error : Severity::warning, section, "ResampleDLL",
                         library,
                         resamples ? "the field of [" + entry.section + "] comes out black"
                                   : "a field of [" + entry.section +
                                         "] that is not the camera's whole image comes out black");
        }
    }

    // Camera sections above Cameras and calibration sections after the end of a list.
    void checkUnreadSections(int n, int cameras, const std::vector<std::vector<Entry>>& entries) {
        for (const auto& [name, section] : sections_) {
            if (section.scanner != n || section.kind == SectionKind::scanner) {
                continue;
            }
            if (section.camera > cameras) {
                add(Severity::warning, name, "",
                    "not read: [" + scannerName(n) + "] Cameras is " +
                        std::to_string(profile_.getInt(scannerName(n).c_str(), "Cameras", 1)) +
                        "; raise Cameras to use it, or remove the section");
            } else if (section.kind == SectionKind::calib &&
                       section.calib >= static_cast<int>(entries[section.camera - 1].size())) {
                const int end = static_cast<int>(entries[section.camera - 1].size());
                add(Severity::warning, name, "",
                    "not read: the calibration entries of the camera end at [" +
                        cameraSectionName(scannerName(n), section.camera) + ".Calib" +
                        std::to_string(end) +
                        "], the first that names neither a Prefilter nor a CalibFile; give that "
                        "section its files or number the sections without a gap");
            }
        }
    }

    // Output sizes, band height, scale and the fields' joins along the scan line.
    void checkFields(const tools::ScannerLayout& layout,
                     const std::vector<std::vector<Entry>>& entries, ScannerGeometry& geometry) {
        int64_t x = 0;
        for (std::size_t i = 0; i < layout.segments.size(); ++i) {
            const tools::ScannerSegment& segment = layout.segments[i];
            CameraGeometry& camera = geometry.cameras[i];
            camera.rows = segment.rows;
            camera.columns = segment.columns;
            camera.x = static_cast<int>(std::min<int64_t>(x, std::numeric_limits<int>::max()));
            x += segment.columns;
            geometry.bandHeight = std::max(geometry.bandHeight, segment.rows);
            checkOutput(camera.section, "Size_x", segment.fieldSize.x, layout.pitch.x, "rows");
            checkOutput(camera.section, "Size_y", segment.fieldSize.y, layout.pitch.y, "columns");
        }
        geometry.width = x;
        if (layout.segments.empty()) {
            return;
        }
        const tools::ScannerSegment& first = layout.segments.front();
        const bool firstCalibrated = !entries.front().front().calibFile.empty();
        for (std::size_t i = 0; i < layout.segments.size(); ++i) {
            const tools::ScannerSegment& segment = layout.segments[i];
            const std::string& section = geometry.cameras[i].section;
            if (segment.rows > 0 && segment.rows < geometry.bandHeight) {
                add(Severity::warning, section, "Size_x",
                    "the camera's output has " + std::to_string(segment.rows) + " rows, the band " +
                        std::to_string(geometry.bandHeight) +
                        ": the rows below it are black in every band; give the cameras one "
                        "Size_x");
            }
            const bool calibrated = !entries[i].front().calibFile.empty();
            if (i == 0) {
                continue;
            }
            if (calibrated != firstCalibrated) {
                add(Severity::warning, section, "CalibFile",
                    std::string("the field is in ") +
                        (calibrated ? "calibration units" : "camera pixels") + ", camera 1's in " +
                        (firstCalibrated ? "calibration units" : "camera pixels") +
                        ": one Pitch cannot fit both; calibrate every camera or none");
            } else {
                comparePitch(section, "Size_x", "x", segment.fieldSize.x, segment.rows,
                             first.fieldSize.x, first.rows);
                comparePitch(section, "Size_y", "y", segment.fieldSize.y, segment.columns,
                             first.fieldSize.y, first.columns);
            }
            if (calibrated) {
                checkJoin(layout, i, geometry);
            }
        }
    }

    void checkOutput(const std::string& section, const char* key, float size, float pitch,
                     const char* what) {
        const double pixels = std::round(static_cast<double>(size) / pitch);
        if (!(pixels >= 1.0)) {
            add(Severity::error, section, key,
                std::string("the field's ") + key + " " + number(size) + " over the pitch " +
                    number(pitch) + " gives no " + what +
                    ": the camera's segment is empty; set a positive field size");
        }
    }

    // Each camera's own scale: its field over its rounded output size.
    void comparePitch(const std::string& section, const char* key, const char* axis, float size,
                      int pixels, float firstSize, int firstPixels) {
        if (pixels < 1 || firstPixels < 1) {
            return;
        }
        const double pitch = static_cast<double>(size) / pixels;
        const double firstPitch = static_cast<double>(firstSize) / firstPixels;
        if (std::fabs(pitch - firstPitch) <= 1e-4 * std::fabs(firstPitch)) {
            return;
        }
        add(Severity::warning, section, key,
            std::string("the field gives ") + number(pitch) + " field units per pixel along " +
                axis + " (" + key + " " + number(size) + " over " + std::to_string(pixels) +
                " pixels), camera 1's " + number(firstPitch) +
                ": the segments are scaled differently; make each camera's " + key +
                " a whole multiple of the pitch");
    }

    // Camera i's field against camera i - 1's along the scan line (both calibrated).
    void checkJoin(const tools::ScannerLayout& layout, std::size_t i, ScannerGeometry& geometry) {
        const tools::ScannerSegment& before = layout.segments[i - 1];
        const tools::ScannerSegment& segment = layout.segments[i];
        const std::string& section = geometry.cameras[i].section;
        if (!segment.cornerYKnown) {
            add(Severity::warning, section, "TopLeft_y",
                "missing: the running corner adds camera " + std::to_string(i) +
                    "'s image width in pixels to a value in calibration units, so the field lies "
                    "far off; give each calibrated camera its own TopLeft_y");
            return;
        }
        if (!before.cornerYKnown) {
            return;  // reported for the camera before
        }
        const double end = static_cast<double>(before.corner.y) + before.fieldSize.y;
        const double start = segment.corner.y;
        const double pitch = layout.pitch.y;
        const double pixels = (start - end) / pitch;
        if (std::fabs(pixels) < 0.01) {
            return;
        }
        const std::string amount = number(std::fabs(start - end)) + " field units (" +
                                   number(std::fabs(pixels)) + " pixels)";
        const std::string ends = "camera " + std::to_string(i) + "'s field ends at " + number(end) +
                                 " (TopLeft_y " + number(before.corner.y) + " + Size_y " +
                                 number(before.fieldSize.y) + ")";
        if (pixels < 0) {
            geometry.cameras[i].fieldOverlap = static_cast<int>(std::lround(-pixels));
            add(Severity::warning, section, "TopLeft_y",
                "the field starts at " + number(start) + ", " + amount + " before " + ends +
                    ": the fields overlap and that strip shows twice in the final image; set "
                    "TopLeft_y to " +
                    number(end) + " or shorten the camera before");
        } else {
            add(Severity::warning, section, "TopLeft_y",
                "the field starts at " + number(start) + ", " + amount + " after " + ends +
                    ": a strip of the scene is missing from the final image; set TopLeft_y to " +
                    number(end) + " or widen the camera before");
        }
    }

    void finalImage(ScannerGeometry& geometry) {
        geometry.height = static_cast<int64_t>(geometry.scans) * geometry.bandHeight;
        if (options_.pixelBits > 0) {
            geometry.bytesPerPixel = std::max(1, options_.pixelBits / 8);
            geometry.bytesPerPixelAssumed = false;
        }
        geometry.bytes = static_cast<double>(geometry.width) *
                         static_cast<double>(geometry.height) * geometry.bytesPerPixel;
        const std::string image = "the final image of " + std::to_string(geometry.width) + " x " +
                                  std::to_string(geometry.height) + " pixels at " +
                                  std::to_string(geometry.bytesPerPixel) + " byte" +
                                  (geometry.bytesPerPixel == 1 ? "" : "s") + " per pixel" +
                                  (geometry.bytesPerPixelAssumed ? " (assumed)" : "") + " takes " +
                                  bytesText(geometry.bytes);
        const std::string remedy = "use fewer Scans, smaller fields or a larger Pitch";
        if (geometry.bytes > kLargestImage) {
            add(Severity::error, geometry.name, "Scans",
                image +
                    ", above the 4 GiB Quiltra can hold: it refuses the scanner ('final image too "
                    "big'); " +
                    remedy);
        } else if (options_.physicalMemory > 0.0 && geometry.bytes > options_.physicalMemory) {
            add(Severity::warning, geometry.name, "Scans",
                image + ", more than the physical memory of this machine (" +
                    megabytes(options_.physicalMemory) + "); " + remedy);
        } else if (geometry.bytes > options_.largeImageBytes) {
            add(Severity::warning, geometry.name, "Scans",
                image + ", more than " + megabytes(options_.largeImageBytes) +
                    ": the host may not get that much memory; " + remedy);
        }
    }

    // A real camera port used by more than one camera.
    void checkSharedPorts() {
        for (const auto& [port, users] : portUsers_) {
            for (std::size_t i = 1; i < users.size(); ++i) {
                const bool sameScanner =
                    classify(users[i]).scanner == classify(users.front()).scanner;
                add(Severity::warning, users[i], "Port",
                    "port " + std::to_string(port) + " is also the port of [" + users.front() +
                        "]: " +
                        (sameScanner ? "both cameras place the same image"
                                     : "both scanners take every image of that camera") +
                        ", which looks unintended; give each camera the port of its own real "
                        "camera");
            }
        }
    }

    const CheckOptions& options_;
    const std::string file_;
    const platform::ProfileReader profile_;
    CheckReport report_;
    std::vector<std::pair<std::string, SectionName>> sections_;  // first of each name
    std::map<int, std::vector<std::string>> portUsers_;          // camera sections per port
    std::set<std::string> checkedLibraries_;
};

}  // namespace

int CheckReport::count(Severity severity) const {
    return static_cast<int>(
        std::count_if(problems.begin(), problems.end(),
                      [severity](const Problem& problem) { return problem.severity == severity; }));
}

int CheckReport::exitCode() const {
    return count(Severity::error) > 0 ? 1 : 0;
}

CheckReport checkConfiguration(const CheckOptions& options) {
    return Checker(options).run();
}

std::string nearestKey(const std::string& section, const std::string& key) {
    return nearest(key, knownKeysOf(classify(section).kind));
}

int editDistance(const std::string& a, const std::string& b) {
    const std::string x = lower(a);
    const std::string y = lower(b);
    std::vector<int> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) {
        row[j] = static_cast<int>(j);
    }
    for (std::size_t i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] != y[j - 1])});
            diagonal = above;
        }
    }
    return row[y.size()];
}

}  // namespace quiltra::config_check

#include "config/configuration_file.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include "driver/driver_binding.h"
#include "platform/fixed_text.h"
#include "platform/private_profile.h"
#include "scanner/scanner.h"

namespace quiltra {

namespace {

// The writer's read size for texts it keeps; longer values are read again with a larger
// buffer so that writing them back loses nothing.
constexpr int kKeptTextSize = 512;
constexpr int kLargestText = 1 << 24;
constexpr std::size_t kCameraSectionSize = 128;

std::string readWholeText(const platform::ProfileEdit& edit, const char* section, const char* key,
                          const char* defaultValue, int initialSize) {
    std::vector<char> buffer;
    for (int size = initialSize;; size *= 2) {
        buffer.assign(static_cast<std::size_t>(size), '\0');
        const int length = edit.getString(section, key, defaultValue, buffer.data(), size);
        // A value that filled the buffer may have been cut.
        if (length < size - 1 || size >= kLargestText) {
            return std::string(buffer.data());
        }
    }
}

void keepText(platform::ProfileEdit& edit, const char* section, const char* key,
              const char* defaultValue, int initialSize) {
    const std::string value = readWholeText(edit, section, key, defaultValue, initialSize);
    edit.writeString(section, key, value.c_str());
}

// Integers are written as signed 32-bit decimal text, so an unsigned setting read from a
// negative value (ActiveGrabTimeout -1) is written back as it was read.
void writeInt(platform::ProfileEdit& edit, const char* section, const char* key, int32_t value) {
    edit.writeString(section, key, std::to_string(value).c_str());
}

void keepInt(platform::ProfileEdit& edit, const char* section, const char* key, int defaultValue) {
    writeInt(edit, section, key, edit.getInt(section, key, defaultValue));
}

template <typename Reader>
float readNumber(const Reader& reader, const char* section, const char* key, float defaultValue) {
    char text[kNumberSize];
    reader.getString(section, key, platform::formatG(defaultValue).c_str(), text,
                     static_cast<int>(sizeof text));
    return static_cast<float>(platform::parseFloat(text));
}

struct PointKeys {
    char x[kNumberSize];
    char y[kNumberSize];
};

PointKeys pointKeys(const char* key) {
    PointKeys keys;
    platform::formatText(keys.x, sizeof keys.x, "%s_x", key);
    platform::formatText(keys.y, sizeof keys.y, "%s_y", key);
    return keys;
}

template <typename Reader>
Point readPointWith(const Reader& reader, const char* section, const char* key, float defaultX,
                    float defaultY) {
    const PointKeys keys = pointKeys(key);
    Point point;
    point.x = readNumber(reader, section, keys.x, defaultX);
    point.y = readNumber(reader, section, keys.y, defaultY);
    return point;
}

void writePointIn(platform::ProfileEdit& edit, const char* section, const char* key, float defaultX,
                  float defaultY) {
    const Point point = readPointWith(edit, section, key, defaultX, defaultY);
    const PointKeys keys = pointKeys(key);
    if (!edit.writeString(section, keys.x, platform::formatG(point.x).c_str())) {
        return;
    }
    edit.writeString(section, keys.y, platform::formatG(point.y).c_str());
}

// The scanner values the writer sets, taken together under the scanner lock.
struct ScannerSettings {
    std::size_t cameraCount = 0;
    std::vector<int32_t> cameraPorts;
    uint32_t scanCount = 1;
    uint32_t overlap = 0;
    uint32_t activeGrabTimeout = 0;
    int32_t minScans = 0;
    bool active = false;
};

ScannerSettings settingsOf(const Scanner& scanner) {
    ScannerSettings settings;
    std::lock_guard guard(scanner.lock);
    settings.cameraCount = scanner.cameras.size();
    for (const auto& camera : scanner.cameras) {
        settings.cameraPorts.push_back(camera->port);
    }
    settings.scanCount = scanner.scanCount;
    settings.overlap = scanner.overlap;
    settings.activeGrabTimeout = scanner.activeGrabTimeout;
    settings.minScans = scanner.minScans;
    settings.active = scanner.active;
    return settings;
}

}  // namespace

std::string configFilePath(const std::string& systemPath, std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize > 0 ? bufferSize : 1, '\0');
    platform::formatText(buffer.data(), buffer.size(), "%s%c%s", systemPath.c_str(),
                         platform::kPathSeparator, kConfigFileName);
    return std::string(buffer.data());
}

Point readPoint(const platform::ProfileReader& profile, const char* section, const char* key,
                float defaultX, float defaultY) {
    return readPointWith(profile, section, key, defaultX, defaultY);
}

void writePoint(const char* section, const char* key, const char* file, float defaultX,
                float defaultY) {
    platform::ProfileEdit edit(file);
    writePointIn(edit, section, key, defaultX, defaultY);
    edit.commit();
}

char* readPath(const platform::ProfileReader& profile, const char* section, const char* key,
               const char* systemFolder, char* buffer) {
    char value[kPathSize];
    profile.getString(section, key, "", value, static_cast<int>(sizeof value));
    if (value[0] == '\0' || platform::isAbsolutePath(value)) {
        platform::copyText(buffer, kPathSize, value);
        return buffer;
    }
    std::string joined = systemFolder != nullptr ? systemFolder : "";
    if (joined.empty() || joined.back() != platform::kPathSeparator) {
        joined += platform::kPathSeparator;
    }
    joined += value;
    platform::copyText(buffer, kPathSize, joined.c_str());
    if (value[0] == '.') {
        const std::string bounded(buffer);
        if (!platform::fullPath(bounded.c_str(), buffer, kPathSize)) {
            buffer[0] = '\0';
        }
    }
    return buffer;
}

int writeConfiguration(const Scanner& scanner, const char* sectionName) {
    if (scanner.binding == nullptr || sectionName == nullptr) {
        return 1;
    }
    const std::string path = configFilePath(scanner.binding->systemPath(), kPathSize);
    const ScannerSettings settings = settingsOf(scanner);

    // One edit: the file is replaced once with every key, and the keys read back see the
    // ones written before them.
    platform::ProfileEdit edit(path.c_str());
    keepText(edit, kConfigSection, "CameraDriver", "", kKeptTextSize);
    keepText(edit, kConfigSection, "FilterDLL", kDefaultFilterLibrary, kKeptTextSize);
    keepText(edit, kConfigSection, "ResampleDLL", kDefaultResampleLibrary, kKeptTextSize);
    keepInt(edit, kConfigSection, "ResampleMode", 1);
    keepInt(edit, kConfigSection, "Verbose", 0);

    const char* section = sectionName;
    writeInt(edit, section, "Cameras", static_cast<int32_t>(settings.cameraCount));
    writeInt(edit, section, "Scans", static_cast<int32_t>(settings.scanCount));
    writeInt(edit, section, "Overlap", static_cast<int32_t>(settings.overlap));
    writeInt(edit, section, "ActiveGrabTimeout", static_cast<int32_t>(settings.activeGrabTimeout));
    writeInt(edit, section, "MinScans", settings.minScans);
    writePointIn(edit, section, "Scale", 1.0f, 1.0f);
    writePointIn(edit, section, "TopLeft", 0.0f, 0.0f);
    writePointIn(edit, section, "Size", 100.0f, 120.0f);
    writePointIn(edit, section, "Pitch", 1.0f, 1.0f);
    keepText(edit, section, "PassThru", "1,-1", kKeptTextSize);
    edit.writeString(section, "Active", settings.active ? "1" : "0");
    keepInt(edit, section, "Threaded", 1);

    char cameraSection[kCameraSectionSize];
    if (settings.cameraCount > 0) {
        for (std::size_t i = 0; i < settings.cameraCount; ++i) {
            platform::formatText(cameraSection, sizeof cameraSection, "%s.Camera%d", section,
                                 static_cast<int>(i + 1));
            writeInt(edit, cameraSection, "Port", settings.cameraPorts[i]);
            keepText(edit, cameraSection, "Prefilter", "", kKeptTextSize);
            keepText(edit, cameraSection, "CalibFile", "", kKeptTextSize);
        }
    } else {
        platform::formatText(cameraSection, sizeof cameraSection, "%s.Camera%d", section, 1);
        const std::string prefilter =
            readWholeText(edit, cameraSection, "Prefilter", "", static_cast<int>(kPathSize));
        const std::string calibFile =
            readWholeText(edit, cameraSection, "CalibFile", "", static_cast<int>(kPathSize));
        const int cameraPort = edit.getInt(cameraSection, "Port", 0);
        writeInt(edit, cameraSection, "Port", cameraPort);
        edit.writeString(cameraSection, "Prefilter", prefilter.c_str());
        edit.writeString(cameraSection, "CalibFile", calibFile.c_str());
    }
    edit.commit();
    return 1;
}

}  // namespace quiltra

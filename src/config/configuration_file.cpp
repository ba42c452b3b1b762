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

std::string readWholeText(const char* section, const char* key, const char* defaultValue,
                          int initialSize, const char* file) {
    std::vector<char> buffer;
    for (int size = initialSize;; size *= 2) {
        buffer.assign(static_cast<std::size_t>(size), '\0');
        const int length = platform::getPrivateProfileString(section, key, defaultValue,
                                                             buffer.data(), size, file);
        // A value that filled the buffer may have been cut.
        if (length < size - 1 || size >= kLargestText) {
            return std::string(buffer.data());
        }
    }
}

void keepText(const char* section, const char* key, const char* defaultValue, int initialSize,
              const char* file) {
    const std::string value = readWholeText(section, key, defaultValue, initialSize, file);
    platform::writePrivateProfileString(section, key, value.c_str(), file);
}

// Integers are written as signed 32-bit decimal text, so an unsigned setting read from a
// negative value (ActiveGrabTimeout -1) is written back as it was read.
void writeInt(const char* section, const char* key, int32_t value, const char* file) {
    platform::writePrivateProfileString(section, key, std::to_string(value).c_str(), file);
}

void keepInt(const char* section, const char* key, int defaultValue, const char* file) {
    writeInt(section, key, platform::getPrivateProfileInt(section, key, defaultValue, file), file);
}

float readNumber(const char* section, const char* key, float defaultValue, const char* file) {
    char text[kNumberSize];
    platform::getPrivateProfileString(section, key, platform::formatG(defaultValue).c_str(), text,
                                      static_cast<int>(sizeof text), file);
    return static_cast<float>(platform::parseFloat(text));
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

Point readPoint(const char* section, const char* key, const char* file, float defaultX,
                float defaultY) {
    char keyX[kNumberSize];
    char keyY[kNumberSize];
    platform::formatText(keyX, sizeof keyX, "%s_x", key);
    platform::formatText(keyY, sizeof keyY, "%s_y", key);
    Point point;
    point.x = readNumber(section, keyX, defaultX, file);
    point.y = readNumber(section, keyY, defaultY, file);
    return point;
}

void writePoint(const char* section, const char* key, const char* file, float defaultX,
                float defaultY) {
    const Point point = readPoint(section, key, file, defaultX, defaultY);
    char keyX[kNumberSize];
    char keyY[kNumberSize];
    platform::formatText(keyX, sizeof keyX, "%s_x", key);
    platform::formatText(keyY, sizeof keyY, "%s_y", key);
    if (!platform::writePrivateProfileString(section, keyX, platform::formatG(point.x).c_str(),
                                             file)) {
        return;
    }
    platform::writePrivateProfileString(section, keyY, platform::formatG(point.y).c_str(), file);
}

char* readPath(const char* section, const char* key, const char* systemFolder, char* buffer,
               const char* file) {
    char value[kPathSize];
    platform::getPrivateProfileString(section, key, "", value, static_cast<int>(sizeof value),
                                      file);
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
    const char* file = path.c_str();
    const ScannerSettings settings = settingsOf(scanner);

    keepText(kConfigSection, "CameraDriver", "", kKeptTextSize, file);
    keepText(kConfigSection, "FilterDLL", kDefaultFilterLibrary, kKeptTextSize, file);
    keepText(kConfigSection, "ResampleDLL", kDefaultResampleLibrary, kKeptTextSize, file);
    keepInt(kConfigSection, "ResampleMode", 1, file);
    keepInt(kConfigSection, "Verbose", 0, file);

    const char* section = sectionName;
    writeInt(section, "Cameras", static_cast<int32_t>(settings.cameraCount), file);
    writeInt(section, "Scans", static_cast<int32_t>(settings.scanCount), file);
    writeInt(section, "Overlap", static_cast<int32_t>(settings.overlap), file);
    writeInt(section, "ActiveGrabTimeout", static_cast<int32_t>(settings.activeGrabTimeout), file);
    writeInt(section, "MinScans", settings.minScans, file);
    writePoint(section, "Scale", file, 1.0f, 1.0f);
    writePoint(section, "TopLeft", file, 0.0f, 0.0f);
    writePoint(section, "Size", file, 100.0f, 120.0f);
    writePoint(section, "Pitch", file, 1.0f, 1.0f);
    keepText(section, "PassThru", "1,-1", kKeptTextSize, file);
    platform::writePrivateProfileString(section, "Active", settings.active ? "1" : "0", file);
    keepInt(section, "Threaded", 1, file);

    char cameraSection[kCameraSectionSize];
    if (settings.cameraCount > 0) {
        for (std::size_t i = 0; i < settings.cameraCount; ++i) {
            platform::formatText(cameraSection, sizeof cameraSection, "%s.Camera%d", section,
                                 static_cast<int>(i + 1));
            writeInt(cameraSection, "Port", settings.cameraPorts[i], file);
            keepText(cameraSection, "Prefilter", "", kKeptTextSize, file);
            keepText(cameraSection, "CalibFile", "", kKeptTextSize, file);
        }
    } else {
        platform::formatText(cameraSection, sizeof cameraSection, "%s.Camera%d", section, 1);
        const std::string prefilter =
            readWholeText(cameraSection, "Prefilter", "", static_cast<int>(kPathSize), file);
        const std::string calibFile =
            readWholeText(cameraSection, "CalibFile", "", static_cast<int>(kPathSize), file);
        const int cameraPort = platform::getPrivateProfileInt(cameraSection, "Port", 0, file);
        writeInt(cameraSection, "Port", cameraPort, file);
        platform::writePrivateProfileString(cameraSection, "Prefilter", prefilter.c_str(), file);
        platform::writePrivateProfileString(cameraSection, "CalibFile", calibFile.c_str(), file);
    }
    return 1;
}

}  // namespace quiltra

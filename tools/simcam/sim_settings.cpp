#include "sim_settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/file_path.h"
#include "platform/fixed_text.h"
#include "platform/private_profile.h"

namespace quiltra::simcam {

namespace {

constexpr const char* kMainSection = "Simcam";
constexpr int kValueSize = 1024;

// A whole decimal number (an int, or a finite double), blanks around it allowed; nothing else.
template <typename Number>
bool parseWhole(const char* text, Number& value) {
    const char* begin = text;
    while (*begin == ' ' || *begin == '\t') {
        ++begin;
    }
    const char* end = begin + std::strlen(begin);
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) {
        --end;
    }
    if (begin != end && *begin == '+') {
        ++begin;
    }
    auto [last, error] = std::from_chars(begin, end, value);
    return begin != end && error == std::errc() && last == end && std::isfinite(double(value));
}

bool parseWholeInt(const char* text, int& value) {
    return parseWhole(text, value);
}

bool parseWholeReal(const char* text, double& value) {
    return parseWhole(text, value);
}

std::string sectionName(int number) {
    char section[32];
    platform::formatText(section, sizeof section, "Camera%d", number);
    return section;
}

void writeDefaults(const std::string& file, Notices& notices) {
    bool written = platform::writePrivateProfileString(kMainSection, "Cameras", "3", file.c_str());
    for (int number = 1; number <= kDefaultCameraCount && written; ++number) {
        const CameraSettings camera = defaultCameraSettings(number);
        const std::string section = sectionName(number);
        written = platform::writePrivateProfileString(section.c_str(), "Name", camera.name.c_str(),
                                                      file.c_str()) &&
                  platform::writePrivateProfileString(section.c_str(), "Scene",
                                                      camera.scene.c_str(), file.c_str());
        for (const IntSetting& setting : intSettings()) {
            char value[16];
            platform::formatText(value, sizeof value, "%d",
                                 camera.*setting.field / setting.fileScale);
            written = written && platform::writePrivateProfileString(section.c_str(), setting.key,
                                                                     value, file.c_str());
        }
    }
    if (written) {
        notices.debug("created %s with %d simulated cameras", file.c_str(), kDefaultCameraCount);
    } else {
        notices.debug("cannot write %s; using %d simulated cameras with default settings",
                      file.c_str(), kDefaultCameraCount);
    }
}

int readCameraCount(const std::string& file, Notices& notices) {
    char text[kValueSize];
    platform::getPrivateProfileString(kMainSection, "Cameras", "", text, sizeof text, file.c_str());
    if (text[0] == '\0') {
        return kDefaultCameraCount;
    }
    int count = 0;
    if (!parseWholeInt(text, count) || count < 1 || count > kMaxCameras) {
        notices.debug("%s [%s] Cameras=%s is not a number from 1 to %d; using %d", file.c_str(),
                      kMainSection, text, kMaxCameras, kDefaultCameraCount);
        return kDefaultCameraCount;
    }
    return count;
}

// The calibration target of [Simcam]: TargetSquare (world units), TargetRows, TargetColumns.
CalibrationTarget readTarget(const std::string& file, Notices& notices) {
    CalibrationTarget target;
    char text[kValueSize];
    platform::getPrivateProfileString(kMainSection, "TargetSquare", "", text, sizeof text,
                                      file.c_str());
    if (text[0] != '\0' && (!parseWholeReal(text, target.square) || target.square < 0.0)) {
        notices.debug("%s [%s] TargetSquare=%s is not a number of world units from 0; using 0",
                      file.c_str(), kMainSection, text);
        target.square = 0.0;
    }
    for (auto [key, field] : {std::pair{"TargetRows", &CalibrationTarget::rows},
                              std::pair{"TargetColumns", &CalibrationTarget::columns}}) {
        platform::getPrivateProfileString(kMainSection, key, "", text, sizeof text, file.c_str());
        int value = 0;
        if (text[0] == '\0') {
            continue;
        }
        if (!parseWholeInt(text, value) || value < 0 || value > kMaxTargetSquares) {
            notices.debug("%s [%s] %s=%s is not a number from 0 to %d; using 0", file.c_str(),
                          kMainSection, key, text, kMaxTargetSquares);
            continue;
        }
        target.*field = value;
    }
    return target;
}

void readRealSettings(const std::string& file, const std::string& section, CameraSettings& camera,
                      Notices& notices) {
    char text[kValueSize];
    for (const RealSetting& setting : realSettings()) {
        platform::getPrivateProfileString(section.c_str(), setting.key, "", text, sizeof text,
                                          file.c_str());
        if (text[0] == '\0') {
            continue;
        }
        double value = 0.0;
        if (!parseWholeReal(text, value) || value < setting.minValue || value > setting.maxValue) {
            notices.debug("%s [%s] %s=%s is not a number from %s to %s; using %s", file.c_str(),
                          section.c_str(), setting.key, text,
                          platform::formatG(setting.minValue).c_str(),
                          platform::formatG(setting.maxValue).c_str(),
                          platform::formatG(camera.*setting.field).c_str());
            continue;
        }
        camera.*setting.field = value;
    }
}

CameraSettings readCamera(const std::string& file, int number, Notices& notices) {
    CameraSettings camera = defaultCameraSettings(number);
    const std::string section = sectionName(number);
    char text[kValueSize];
    platform::getPrivateProfileString(section.c_str(), "Name", camera.name.c_str(), text,
                                      sizeof text, file.c_str());
    if (std::strlen(text) > static_cast<std::size_t>(kMaxNameLength)) {
        notices.debug("%s [%s] Name is longer than %d characters; using %s", file.c_str(),
                      section.c_str(), kMaxNameLength, camera.name.c_str());
    } else if (text[0] != '\0') {
        camera.name = text;
    }
    platform::getPrivateProfileString(section.c_str(), "Scene", kPatternScene, text, sizeof text,
                                      file.c_str());
    camera.scene = text[0] != '\0' ? text : kPatternScene;
    for (const IntSetting& setting : intSettings()) {
        platform::getPrivateProfileString(section.c_str(), setting.key, "", text, sizeof text,
                                          file.c_str());
        if (text[0] == '\0') {
            continue;
        }
        int value = 0;
        const int minFile = setting.minValue / setting.fileScale;
        const int maxFile = setting.maxValue / setting.fileScale;
        if (!parseWholeInt(text, value) || value < minFile || value > maxFile ||
            !validIntSetting(setting, value * setting.fileScale)) {
            const char* allowed = setting.field == &CameraSettings::pixelSize ? " (8 or 24)" : "";
            notices.debug("%s [%s] %s=%s is not a number from %d to %d%s; using %d", file.c_str(),
                          section.c_str(), setting.key, text, minFile, maxFile, allowed,
                          camera.*setting.field / setting.fileScale);
            continue;
        }
        camera.*setting.field = value * setting.fileScale;
    }
    readRealSettings(file, section, camera, notices);
    return camera;
}

}  // namespace

bool equalsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

const std::vector<IntSetting>& intSettings() {
    static const std::vector<IntSetting> settings = {
        {"PixelSize", "PixelSize", 8, 24, 1, &CameraSettings::pixelSize},
        {"Width", "Width", 64, 8192, 1, &CameraSettings::width},
        {"Height", "Height", 16, 8192, 1, &CameraSettings::height},
        {"ExposureTime", "ExposureDelay", 0, 10000000, 1000, &CameraSettings::exposureTime},
        {"SceneX", "SceneX", 0, 1000000, 1, &CameraSettings::sceneX},
        {"SceneY", "SceneY", 0, 1000000, 1, &CameraSettings::sceneY},
        {"ScrollRows", "ScrollRows", 0, 8192, 1, &CameraSettings::scrollRows},
        {"Stamp", "Stamp", 0, 1, 1, &CameraSettings::stamp},
        {"DropEvery", "DropEvery", 0, 1000000, 1, &CameraSettings::dropEvery},
        {"StallAfter", "StallAfter", 0, INT_MAX, 1, &CameraSettings::stallAfter},
        {"RandomDelay", "RandomDelay", 0, 10000, 1, &CameraSettings::randomDelay},
        {"RandomSeed", "RandomSeed", 0, INT_MAX, 1, &CameraSettings::randomSeed},
        {"RefuseGrabAfter", "RefuseGrabAfter", 0, INT_MAX, 1, &CameraSettings::refuseGrabAfter},
        {"UniformLevel", "UniformLevel", 0, 255, 1, &CameraSettings::uniformLevel},
        {"DarkOffset", "DarkOffset", 0, 255, 1, &CameraSettings::darkOffset},
    };
    return settings;
}

const std::vector<RealSetting>& realSettings() {
    static const std::vector<RealSetting> settings = {
        {"ScenePitch", 0.0, 1e6, &CameraSettings::scenePitch},
        {"WorldX", -1e9, 1e9, &CameraSettings::worldX},
        {"WorldY", -1e9, 1e9, &CameraSettings::worldY},
        {"WorldPitch", 1e-6, 1e6, &CameraSettings::worldPitch},
        {"Rotation", -180.0, 180.0, &CameraSettings::rotation},
        {"ShiftColumns", -10000.0, 10000.0, &CameraSettings::shiftColumns},
        {"ShiftRows", -10000.0, 10000.0, &CameraSettings::shiftRows},
        {"Scale", -0.5, 1.0, &CameraSettings::scale},
        {"TiltColumns", -0.5, 0.5, &CameraSettings::tiltColumns},
        {"TiltRows", -0.5, 0.5, &CameraSettings::tiltRows},
        {"K1", -1.0, 1.0, &CameraSettings::k1},
        {"K2", -1.0, 1.0, &CameraSettings::k2},
        {"Gain", -1.0, 4.0, &CameraSettings::gain},
        {"Vignetting", 0.0, 1.0, &CameraSettings::vignetting},
    };
    return settings;
}

bool looksAtPlane(const CameraSettings& camera) {
    return camera.scenePitch > 0.0 || equalsIgnoringCase(camera.scene.c_str(), kTargetScene);
}

int plainSceneLevel(const CameraSettings& camera) {
    if (equalsIgnoringCase(camera.scene.c_str(), kDarkScene)) {
        return 0;
    }
    return equalsIgnoringCase(camera.scene.c_str(), kUniformScene) ? camera.uniformLevel : -1;
}

Mounting mountingOf(const CameraSettings& camera) {
    return Mounting{camera.rotation,    camera.shiftColumns, camera.shiftRows, camera.scale,
                    camera.tiltColumns, camera.tiltRows,     camera.k1,        camera.k2};
}

PlaneView planeViewOf(const CameraSettings& camera) {
    return PlaneView{camera.worldX, camera.worldY, camera.worldPitch};
}

const IntSetting* findIntSetting(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (const IntSetting& setting : intSettings()) {
        if (equalsIgnoringCase(setting.property, name)) {
            return &setting;
        }
    }
    return nullptr;
}

bool validIntSetting(const IntSetting& setting, int value) {
    if (value < setting.minValue || value > setting.maxValue) {
        return false;
    }
    if (setting.field == &CameraSettings::pixelSize) {
        return value == 8 || value == 24;
    }
    return true;
}

CameraSettings defaultCameraSettings(int number) {
    CameraSettings camera;
    char name[32];
    platform::formatText(name, sizeof name, "SimCam%d", number);
    camera.name = name;
    camera.sceneX = (number - 1) * camera.width;
    return camera;
}

SimSettings readSimSettings(const std::string& systemPath, Notices& notices) {
    SimSettings settings;
    settings.file = systemPath + platform::kPathSeparator + kSettingsFileName;
    if (!platform::fileExists(settings.file.c_str())) {
        writeDefaults(settings.file, notices);
    }
    const int count = readCameraCount(settings.file, notices);
    const CalibrationTarget target = readTarget(settings.file, notices);
    for (int number = 1; number <= count; ++number) {
        CameraSettings camera = readCamera(settings.file, number, notices);
        camera.target = target;
        // Without SceneX (WorldY) a camera's window (view on the plane) starts where its left
        // neighbour's ends.
        char given[16];
        const std::string section = sectionName(number);
        platform::getPrivateProfileString(section.c_str(), "SceneX", "", given, sizeof given,
                                          settings.file.c_str());
        if (given[0] == '\0' && !settings.cameras.empty()) {
            const CameraSettings& left = settings.cameras.back();
            camera.sceneX = std::min(left.sceneX + left.width, 1000000);
        }
        platform::getPrivateProfileString(section.c_str(), "WorldY", "", given, sizeof given,
                                          settings.file.c_str());
        if (given[0] == '\0' && !settings.cameras.empty()) {
            const CameraSettings& left = settings.cameras.back();
            camera.worldY = left.worldY + left.width * left.worldPitch;
        }
        if (equalsIgnoringCase(camera.scene.c_str(), kTargetScene) &&
            (target.square <= 0.0 || target.rows < 2 || target.columns < 2)) {
            notices.debug(
                "%s [%s] Scene=target: [%s] TargetSquare, TargetRows and TargetColumns "
                "give no target (a square above 0, 2 rows and 2 columns at least); "
                "the plane is blank",
                settings.file.c_str(), section.c_str(), kMainSection);
        }
        if (!looksAtPlane(camera) && mountingOf(camera) != Mounting{}) {
            notices.debug(
                "%s [%s]: the mounting errors apply only to a camera that looks at a "
                "plane (Scene=target or ScenePitch > 0); ignored",
                settings.file.c_str(), section.c_str());
        }
        settings.cameras.push_back(std::move(camera));
    }
    // Two cameras of one name could not be told apart when a host opens one.
    for (std::size_t i = 0; i < settings.cameras.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (settings.cameras[i].name == settings.cameras[j].name) {
                const std::string fallback = defaultCameraSettings(static_cast<int>(i) + 1).name;
                notices.debug("%s [Camera%d] Name %s repeats that of [Camera%d]; using %s",
                              settings.file.c_str(), static_cast<int>(i) + 1,
                              settings.cameras[i].name.c_str(), static_cast<int>(j) + 1,
                              fallback.c_str());
                settings.cameras[i].name = fallback;
                break;
            }
        }
    }
    return settings;
}

}  // namespace quiltra::simcam

// The simulator's settings file, simcam.ini in the system folder: the number of cameras and,
// per camera, its name, image format, exposure delay, scene and fault injection. Created with
// defaults on the first start; bad values are reported and replaced by their defaults.
#pragma once

#include <string>
#include <vector>

#include "notices.h"

namespace quiltra::simcam {

inline constexpr const char* kSettingsFileName = "simcam.ini";
inline constexpr const char* kPatternScene = "pattern";
inline constexpr int kDefaultCameraCount = 3;
inline constexpr int kMaxCameras = 64;
inline constexpr int kMaxNameLength = 63;

// One camera's settings; the integer fields are also the port properties of the camera.
struct CameraSettings {
    std::string name;
    std::string scene = kPatternScene;  // "pattern", or a PNG or PGM file
    int pixelSize = 8;                  // bits per pixel: 8 (grey) or 24 (R, G, B)
    int width = 640;
    int height = 480;
    int exposureTime = 20000;  // microseconds from doCVLGrab to the image
    int sceneX = 0;            // the camera's window in the scene: first column
    int sceneY = 0;            // and first row
    int scrollRows = 32;       // rows the scene moves on per exposure
    int stamp = 1;             // 1: frame stamp and text in the top-left corner
    int dropEvery = 0;         // drop every n-th image (0: never)
    int stallAfter = 0;        // stop delivering after n images (0: never)
    int randomDelay = 0;       // up to this many extra ms per exposure (0: none)
    int randomSeed = 1;        // seed of the extra delays
    int refuseGrabAfter = 0;   // refuse every doCVLGrab after n accepted ones (0: never)
};

// One integer setting: its property name, its key in the file (the file keeps the exposure
// in ms), its range in property units and where it lives in CameraSettings.
struct IntSetting {
    const char* property;
    const char* key;
    int minValue;
    int maxValue;
    int fileScale;  // property value = file value * fileScale
    int CameraSettings::*field;
};

// True when a and b are equal without regard to ASCII case (names, keys, commands).
bool equalsIgnoringCase(const char* a, const char* b);

// Every integer setting, in the order of the file.
const std::vector<IntSetting>& intSettings();
// The integer setting whose property name equals name without regard to ASCII case.
const IntSetting* findIntSetting(const char* name);
// True when value is acceptable for the setting (in range; 8 or 24 for "PixelSize").
bool validIntSetting(const IntSetting& setting, int value);

// The defaults of camera number (1-based): "SimCam<number>", 640 x 480 grey, 20 ms,
// the test pattern, its window beside that of the camera before it (when the file gives no
// SceneX, reading puts it beside the window of the camera before it, whatever its width).
CameraSettings defaultCameraSettings(int number);

struct SimSettings {
    std::string file;  // the settings file read
    std::vector<CameraSettings> cameras;
};

// Reads <systemPath>/simcam.ini, writing the defaults first when it does not exist.
SimSettings readSimSettings(const std::string& systemPath, Notices& notices);

}  // namespace quiltra::simcam

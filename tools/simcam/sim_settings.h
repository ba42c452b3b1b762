// The simulator's settings file, simcam.ini in the system folder: the number of cameras and,
// per camera, its name, image format, exposure delay, scene, shading and fault injection. Created
// with defaults on the first start; bad values are reported and replaced by their defaults.
#pragma once

#include <string>
#include <vector>

#include "camera_model.h"
#include "notices.h"

namespace quiltra::simcam {

inline constexpr const char* kSettingsFileName = "simcam.ini";
inline constexpr const char* kPatternScene = "pattern";
inline constexpr const char* kTargetScene = "target";    // the calibration target of [Simcam]
inline constexpr const char* kDarkScene = "dark";        // a covered lens: 0 before the shading
inline constexpr const char* kUniformScene = "uniform";  // a flat grey field of UniformLevel
inline constexpr int kDefaultCameraCount = 3;
inline constexpr int kMaxCameras = 64;
inline constexpr int kMaxNameLength = 63;
inline constexpr int kMaxTargetSquares = 10000;

// One camera's settings; the integer fields are also the port properties of the camera.
struct CameraSettings {
    std::string name;
    std::string scene =
        kPatternScene;  // "pattern", "target", "dark", "uniform", or a PNG or PGM file
    int pixelSize = 8;  // bits per pixel: 8 (grey) or 24 (R, G, B)
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
    int uniformLevel = 200;    // the grey of Scene=uniform
    int darkOffset = 0;        // grey levels added to every byte after gain and vignetting

    // The shading of the lens and sensor (sim_image.h): 0 is none.
    double gain = 0.0;        // relative: 0.1 is x1.1
    double vignetting = 0.0;  // fractional fall-off at the image corners, 0..1

    // A camera looks at a flat plane when its scene is the target or scenePitch > 0; then the
    // fields below place it (see camera_model.h) and sceneX, sceneY do not apply.
    double scenePitch = 0.0;  // world units per scene pixel (0: the scene is a window)
    double worldX = 0.0;      // nominal world point of the image's top-left corner
    double worldY = 0.0;
    double worldPitch = 1.0;  // nominal world units per camera pixel
    double rotation = 0.0;    // the mounting errors
    double shiftColumns = 0.0;
    double shiftRows = 0.0;
    double scale = 0.0;
    double tiltColumns = 0.0;
    double tiltRows = 0.0;
    double k1 = 0.0;
    double k2 = 0.0;
    CalibrationTarget target;  // from [Simcam], the same for every camera
};

// True when the camera looks at a flat plane (its scene is the target or has a pitch).
bool looksAtPlane(const CameraSettings& camera);
// The grey of a plain scene, 0 for "dark" and UniformLevel for "uniform"; -1 for the others.
int plainSceneLevel(const CameraSettings& camera);
Mounting mountingOf(const CameraSettings& camera);
PlaneView planeViewOf(const CameraSettings& camera);

// One real-valued camera setting (not a port property): its key, range and field.
struct RealSetting {
    const char* key;
    double minValue;
    double maxValue;
    double CameraSettings::*field;
};
const std::vector<RealSetting>& realSettings();

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

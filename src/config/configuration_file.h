// The configuration file Quiltra.ini in the host's system folder: its path, the library
// defaults, the point and path value forms, and the writer that fills in one scanner's
// sections. Every value is read from the file when it is needed; nothing is kept between
// uses.
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_path.h"
#include "platform/private_profile.h"

namespace quiltra {

class Scanner;

inline constexpr const char* kConfigFileName = "Quiltra.ini";
inline constexpr const char* kConfigSection = "Config";

// Library file names are those of the platform's own libraries.
inline constexpr bool kWindowsLibraryNames = platform::kPathSeparator == '\\';
inline constexpr const char* kDefaultFilterLibrary =
    kWindowsLibraryNames ? "OvixImageFilter.dll" : "libOvixImageFilter.so";
inline constexpr const char* kDefaultResampleLibrary =
    kWindowsLibraryNames ? "OvixResample.dll" : "libOvixResample.so";
// What the first start writes as CameraDriver, for the user to replace.
inline constexpr const char* kCameraDriverPlaceholder =
    kWindowsLibraryNames ? "<cameradriver.dll>" : "<cameradriver.so>";

// Buffer sizes, in characters including the NUL.
inline constexpr std::size_t kPathSize = 1024;     // paths, libraries, section names
inline constexpr std::size_t kNumberSize = 32;     // a number or point component
inline constexpr std::size_t kOptionsSize = 32;    // PrefilterOptions
inline constexpr std::size_t kPassThruSize = 256;  // PassThru as construction reads it

// "<systemPath><separator>Quiltra.ini", cut to bufferSize - 1 characters. The separator is
// always inserted, also after a folder that ends with one.
std::string configFilePath(const std::string& systemPath, std::size_t bufferSize);

// A two-component value stored under "<key>_x" and "<key>_y".
struct Point {
    float x = 0.0f;
    float y = 0.0f;
};

// Reads "<key>_x" and "<key>_y" (32 characters each, defaults handed over in "%g" form) as
// numbers; a component that does not begin with a number reads as 0.
Point readPoint(const platform::ProfileReader& profile, const char* section, const char* key,
                float defaultX, float defaultY);

// Reads the point with the given defaults and writes it back, each component in "%g" form;
// the y component is not written when writing x failed.
void writePoint(const char* section, const char* key, const char* file, float defaultX,
                float defaultY);

// Reads a path value into buffer (kPathSize characters): empty stays empty; an absolute
// value is kept as read; otherwise it is joined to the system folder (one separator
// inserted unless the folder ends with one) and, when the value begins with ".", normalised
// to a full path (empty when that fails). Returns buffer.
char* readPath(const platform::ProfileReader& profile, const char* section, const char* key,
               const char* systemFolder, char* buffer);

// Fills in [Config], the section `sectionName` and the scanner's camera sections of the
// configuration file in the scanner's system folder: kept keys are read (with their
// defaults) and written back whole, set keys get the scanner's current values. Camera
// sections above the camera count, calibration sections and other keys stay as they are.
// The file is replaced once, atomically, with every key (a platform::ProfileEdit); each
// read sees the keys written before it. Always returns 1.
int writeConfiguration(const Scanner& scanner, const char* sectionName);

}  // namespace quiltra

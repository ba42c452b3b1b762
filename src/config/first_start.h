// The content a missing configuration file is created with at the first start, and the
// default library names it carries, in this platform's own file naming.
#pragma once

#include "platform/file_path.h"

namespace quiltra {

// Library file names follow the platform's convention, which goes with its path separator:
// "OvixImageFilter.dll" on Windows, "libOvixImageFilter.so" elsewhere.
inline constexpr bool kWindowsLibraryNames = platform::kPathSeparator == '\\';
inline constexpr const char* kCameraDriverPlaceholder =
    kWindowsLibraryNames ? "<cameradriver.dll>" : "<cameradriver.so>";
inline constexpr const char* kDefaultFilterLibrary =
    kWindowsLibraryNames ? "OvixImageFilter.dll" : "libOvixImageFilter.so";
inline constexpr const char* kDefaultResampleLibrary =
    kWindowsLibraryNames ? "OvixResample.dll" : "libOvixResample.so";

// The configuration file's name in the host's system folder.
inline constexpr const char* kConfigFileName = "Quiltra.ini";

// Writes the first-start content into configFile, key by key in this order: [Config]
// (the driver placeholder, the default plug-in libraries, ResampleMode, Verbose), then
// [Scanner0001] with the settings of a scanner without cameras, then
// [Scanner0001.Camera1] with Port, Prefilter and CalibFile. Write failures are ignored.
void writeFirstStartContent(const char* configFile);

}  // namespace quiltra

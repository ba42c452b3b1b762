#include "config/first_start.h"

#include "platform/private_profile.h"

namespace quiltra {

namespace {

struct FirstStartEntry {
    const char* section;
    const char* key;
    const char* value;
};

// Each key is appended at the end of its section and each section at the end of the file,
// so writing in this order gives the file this order.
constexpr FirstStartEntry kFirstStartContent[] = {
    {"Config", "CameraDriver", kCameraDriverPlaceholder},
    {"Config", "FilterDLL", kDefaultFilterLibrary},
    {"Config", "ResampleDLL", kDefaultResampleLibrary},
    {"Config", "ResampleMode", "1"},
    {"Config", "Verbose", "0"},
    {"Scanner0001", "Cameras", "0"},
    {"Scanner0001", "Scans", "1"},
    {"Scanner0001", "Overlap", "0"},
    {"Scanner0001", "ActiveGrabTimeout", "0"},
    {"Scanner0001", "MinScans", "0"},
    {"Scanner0001", "Scale_x", "1"},
    {"Scanner0001", "Scale_y", "1"},
    {"Scanner0001", "TopLeft_x", "0"},
    {"Scanner0001", "TopLeft_y", "0"},
    {"Scanner0001", "Size_x", "100"},
    {"Scanner0001", "Size_y", "120"},
    {"Scanner0001", "Pitch_x", "1"},
    {"Scanner0001", "Pitch_y", "1"},
    {"Scanner0001", "PassThru", "1,-1"},
    {"Scanner0001", "Active", "0"},
    {"Scanner0001", "Threaded", "1"},
    {"Scanner0001.Camera1", "Port", "0"},
    {"Scanner0001.Camera1", "Prefilter", ""},
    {"Scanner0001.Camera1", "CalibFile", ""},
};

}  // namespace

void writeFirstStartContent(const char* configFile) {
    for (const FirstStartEntry& entry : kFirstStartContent) {
        platform::writePrivateProfileString(entry.section, entry.key, entry.value, configFile);
    }
}

}  // namespace quiltra

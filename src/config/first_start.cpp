#include "config/first_start.h"

#include "platform/private_profile.h"
#include "scanner/scanner.h"

namespace quiltra {

void writeFirstStartContent(DriverBinding& binding, const char* configFile) {
    platform::writePrivateProfileString(kConfigSection, "CameraDriver", kCameraDriverPlaceholder,
                                        configFile);
    Scanner firstScanner(&binding, "Scanner0001", 0, 0);
    writeConfiguration(firstScanner, "Scanner0001");
}

}  // namespace quiltra

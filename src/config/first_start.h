// The content a missing configuration file is created with at the first start.
#pragma once

#include "config/configuration_file.h"

namespace quiltra {

class DriverBinding;

// Writes the driver placeholder as [Config] CameraDriver into configFile, then fills in the
// file for a temporary scanner "Scanner0001" (grabber 0, port 0, no cameras, one scan, every
// other setting off) with writeConfiguration, in the system folder of `binding`, and
// destroys it: [Config] with the default plug-in libraries, ResampleMode 1 and Verbose 0,
// [Scanner0001] with the settings of a scanner without cameras, [Scanner0001.Camera1] with
// Port 0 and empty Prefilter and CalibFile. Write failures are ignored.
void writeFirstStartContent(DriverBinding& binding, const char* configFile);

}  // namespace quiltra

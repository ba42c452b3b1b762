// A scanner's properties, as getProperty and setProperty reach them on its port: a fixed
// table of values to read, a table of settings to write, the switch of the calibration
// entry, and every other name passed on to the driver of each of its cameras.
#pragma once

#include <cstdint>

namespace quiltra {

class Scanner;

// Reads a value of the read table (names without regard to ASCII case): "PixelSize",
// "Width", "Height", "ScanCount", "Overlap", "Count", "ActiveGrabTimeout",
// "MinScanCount", "ScanTime", "TrigTime", "ActiveGrabTimeoutCount", "Verbose". 1 with the
// value written; 0, with *value untouched and no driver called, for any other name, a
// scanner without cameras, or a null name or value. Takes no scanner lock: a counter may be
// one image old, while "Width" and "Height" always describe the image rows are read from.
int getScannerProperty(const Scanner& scanner, const char* name, int* value);

// Writes a setting, the names tested in this order: "ScanCount" (then the scanner's
// sections are written through its saveScannerHook), "Calib", "Overlap", "Count",
// "Verbose", "PassThru", "ActiveGrabTimeout", "MinScanCount"; any other name is passed on
// to every camera ("Continous" or "Continuous" with 0 first stops the grab timeout), and
// answers 1 only when every camera's driver answered 1. A scanner without cameras, or a
// null name: 0, nothing changed. Writes that change the cycle take the scanner lock; the
// configuration file is written and the drivers are called with no library lock held.
int setScannerProperty(Scanner& scanner, const char* name, int32_t value);

// Switches every camera to calibration entry `index`, resets the cycle and resizes the
// final image to the new output sizes, with the prefilter, calibration and timing lines as
// verbose messages. 0, with nothing changed, when some camera has no entry `index` or the
// scanner is closing. Takes the scanner lock, and each camera's lock around its switch.
int setCalib(Scanner& scanner, uint32_t index);

}  // namespace quiltra

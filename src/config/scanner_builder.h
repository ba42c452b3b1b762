// Building a scanner from its sections of the configuration file: its settings, one camera
// per camera section on a validated real camera port, and each camera's calibration entries
// with their prefilter and resampler bindings.
#pragma once

namespace quiltra {

class CameraPortLookup;
class Scanner;

// Fills a newly made scanner (name, grabber and port set, no cameras, one scan) from the
// section `name`, reading the file at this moment. Invalid camera ports and missing prefilter
// files are reported under the verbose rule; configurations outside the data model (more
// than 32 cameras, a negative Scans, a Pitch component that is not a positive number) are
// refused with a message naming the section and key. True when every configured camera was
// built; on false the caller destroys the scanner. Runs on the host's thread before the
// scanner is published; reads the port table through `ports`.
bool buildScanner(Scanner& scanner, const char* name, const CameraPortLookup& ports);

// Replaces the scanner's pass-through list from a text of comma-separated scan numbers: 0
// every scan, n scan n, -n scan scanCount + 1 - n; other numbers are dropped, "-" or an
// empty text gives an empty list. Uses the scan count of this moment. Returns the number of
// entries. Takes the scanner lock.
int setPassThruList(Scanner& scanner, const char* text);

}  // namespace quiltra

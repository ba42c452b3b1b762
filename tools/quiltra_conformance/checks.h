// The checks, one function each, and what they hand on to the checks after them.
#pragma once

#include <string>
#include <vector>

#include "conformance.h"
#include "driver_events.h"
#include "driver_session.h"

namespace quiltra::conformance {

// The grabber and ports every check uses: the checked camera on port 0, the second camera of
// two-ports on port 1.
inline constexpr int kGrabber = 0;
inline constexpr int kPort = 0;
inline constexpr int kSecondPort = 1;

// What the checks learn and leave for the ones after them. Only the worker thread that runs
// the checks touches it.
struct CheckState {
    CheckState(DriverSession& session, const ConformanceOptions& runOptions)
        : driver(session), options(runOptions) {}

    DriverSession& driver;
    const ConformanceOptions& options;

    bool initialized = false;        // the driver has been handed the system folder
    std::vector<std::string> names;  // the camera names read by camera-names
    std::string camera;              // the camera checked on port 0
    ImageFormat image;               // its image as Quiltra reads it (size from the open)
    bool portOpen = false;           // port 0 is open
    bool secondPortOpen = false;     // port 1 is open
    // Why later checks cannot run, naming the check that failed; empty while they can.
    std::string noPort;         // port 0 could not be opened with a usable size
    std::string noCompletions;  // the completion callback is not handed over or not called
    RowReading callbackRows;    // the image rows-in-callback read inside the callback
};

using CheckFunction = CheckResult (*)(CheckState&);

struct CheckEntry {
    CheckInfo info;
    CheckFunction run;
};
// Every check in the order they run.
const std::vector<CheckEntry>& checkEntries();

// Closes the ports the checks left open and finalizes the driver.
void finishSession(CheckState& state);

}  // namespace quiltra::conformance

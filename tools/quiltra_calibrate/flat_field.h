// `quiltra-calibrate flatfield`: a camera's dark and flat references for the prefilter
// plug-in (docs/prefilter.md), each the mean of several images (the dark ones with the lens
// covered, the flat ones of a uniform, evenly lit target), the prefilter file that names them
// and, for a scanner's camera, its `Prefilter` key in Quiltra.ini.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quiltra::calibrate {

struct FlatFieldRequest {
    std::vector<std::string> darkImages;  // PNG, PGM or PPM files, all of one size and kind
    std::vector<std::string> flatImages;
    std::string outDir = ".";  // where the references and the prefilter file go
    // Their names: <name>.dark.pgm, <name>.flat.pgm (.ppm for colour), <name>.pf; empty:
    // <scanner>.Camera<camera> with a camera, else "flatfield".
    std::string name;
    // With camera > 0, [<scanner>.Camera<camera>] Prefilter of <systemDir>/Quiltra.ini names
    // the prefilter file; 0: Quiltra.ini is left alone.
    std::string systemDir = ".";
    std::string scanner = "Scanner0001";
    int camera = 0;
    // Above 0: the prefilter's gain makes the flat target come out at this grey level, so
    // that cameras of different sensitivity agree; 0: each camera keeps its own flat's mean.
    double flatLevel = 0.0;
};

// Reads, checks and averages the images and writes the files; the exit code (kExitOk,
// kExitUsage without images, kExitGrab for an unreadable image, kExitBadReferences when the
// images do not make references, kExitWrite). Results go to out, reasons to err.
int runFlatField(const FlatFieldRequest& request, std::ostream& out, std::ostream& err);

// argv after the word "flatfield"; the exit code, or kExitUsage with the reason on `err`.
int runFlatFieldCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace quiltra::calibrate

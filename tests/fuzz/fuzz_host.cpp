#include "fuzz_host.h"

#include <cstdlib>

namespace quiltra::fuzz {

namespace {

void QUILTRA_CALL dropDebugText(const char*) {}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

FuzzHost& FuzzHost::instance() {
    static FuzzHost host;
    return host;
}

FuzzHost::FuzzHost() : driver_(driverPath_) {
#if !defined(_WIN32)
    // Verbose configurations would otherwise write every message to the fuzzer's output.
    setenv("QUILTRA_DEBUG_OUTPUT", "none", 1);
#endif
    driver_->setCameraNames({"Camera"});
    // Small images keep every final image and processing buffer small.
    driver_->setImageSize(-1, 8, 4);
    // The fake plug-ins stay loaded for the whole run: a log of every call would grow with
    // every input (about half a kilobyte each, seen as a creeping resident size).
    resampler_.set("log", 0);
    prefilter_.set("log", 0);
    // The files calibration entries may name, so that their plug-ins get loaded.
    test::writeFile(folder_.file("p.flt"), "filter\n");
    test::writeFile(folder_.file("c.cal"), "calibration\n");
}

void FuzzHost::writeConfiguration(const std::string& content) const {
    std::string text = content;
    replaceAll(text, "$DRIVER", driverPath_);
    replaceAll(text, "$RESAMPLER", resampler_.path());
    replaceAll(text, "$PREFILTER", prefilter_.path());
    test::writeFile(folder_.file("Quiltra.ini"), text);
}

int FuzzHost::initialize() const {
    return ::initialize(folderPath_.c_str(), &dropDebugText);
}

void FuzzHost::openCameras() const {
    for (int port = 0; port < kCameraPorts; ++port) {
        int size[2] = {0, 0};
        openCVLPort(0, port, "Camera", size);
    }
}

void FuzzHost::deliver(int port) const {
    driver_->deliver(0, port);
    driver_->waitForDeliveries();
}

void FuzzHost::resetDriverLog() const {
    driver_->clearCalls();
}

}  // namespace quiltra::fuzz

// Scanner construction from an arbitrary Quiltra.ini, as a host reaches it: initialize, the
// camera name list, the real cameras opened, every scanner name opened on a port of its own
// and closed again, finalize. The input is the whole file ($DRIVER, $RESAMPLER and
// $PREFILTER stand for the fakes' paths).
#include <cstring>
#include <string>

#include "fuzz_host.h"
#include "fuzz_input.h"

namespace {

using quiltra::fuzz::check;
using quiltra::fuzz::FuzzHost;

// Scanner ports: after the real cameras, one for each scanner name.
constexpr int kFirstScannerPort = FuzzHost::kCameraPorts;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzHost& host = FuzzHost::instance();
    host.writeConfiguration(std::string(reinterpret_cast<const char*>(data), size));
    if (host.initialize() == 1) {
        host.openCameras();
        const char** names = getCVLCameraConfigNames();
        check(names != nullptr, "a camera name list");
        int port = kFirstScannerPort;
        for (int i = 0; i < QUILTRA_CAMERA_NAME_LIST_SIZE && names[i] != nullptr; ++i) {
            if (std::strncmp(names[i], "Scanner", 7) != 0) {
                continue;
            }
            int imageSize[2] = {-1, -1};
            if (openCVLPort(0, port, names[i], imageSize) == 1) {
                int width = 0;
                if (getProperty(0, port, "Width", &width) == 1) {
                    check(width == imageSize[0], "Width is the opened width");
                }
                // A geometry beyond 32 bits is reported cut to 32 bits, and has no image: the
                // first pixel (at most 8 bytes) is read from an image that exists, or not at all.
                unsigned char pixel[8];
                const int read = getCVLGrabRow(0, port, pixel, 0, 0, 0);
                check(read == 0 || (imageSize[0] > 0 && imageSize[1] > 0),
                      "no row of an image without a size");
            }
            ++port;
        }
        for (int open = kFirstScannerPort; open < port; ++open) {
            closeCVLPort(0, open);
        }
    }
    finalize();
    host.resetDriverLog();
    return 0;
}

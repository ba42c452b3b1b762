// package_host SYSTEM_FOLDER: starts Quiltra on SYSTEM_FOLDER (whose Quiltra.ini names a
// camera driver) and prints the camera names it offers; exit 0 when the six scanners are
// among them.
#include <quiltra/camera_driver.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: package_host SYSTEM_FOLDER\n");
        return 2;
    }
    if (initialize(argv[1], nullptr) != 1) {
        std::fprintf(stderr, "initialize failed\n");
        return 1;
    }
    int scanners = 0;
    const char** names = getCVLCameraConfigNames();
    for (int i = 0; names != nullptr && names[i] != nullptr; ++i) {
        std::printf("%s\n", names[i]);
        scanners += std::strncmp(names[i], "Scanner000", 10) == 0 ? 1 : 0;
    }
    finalize();
    return scanners == 6 ? 0 : 1;
}

// Writes the configuration of one of two scanners that differ in scan count and camera
// ports into <folder>/Quiltra.ini, for the test that kills writers in the middle of a write.
//   config_crash_writer <folder> <n>        one write, of scanner n % 2
//   config_crash_writer <folder> <n> loop   writes alternately forever from scanner n % 2;
//                                           writes one byte to standard output first
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "config/configuration_file.h"
#include "driver/driver_binding.h"
#include "scanner/scanner.h"

namespace {

void QUILTRA_CALL ignore(const char*) {}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    quiltra::DriverBinding binding("", argv[1], ignore);
    std::unique_ptr<quiltra::Scanner> scanners[2];
    for (int i = 0; i < 2; ++i) {
        scanners[i] = std::make_unique<quiltra::Scanner>(&binding, "Scanner0001", 0, 0);
        scanners[i]->addCamera(1 + i, 1, 1);
        scanners[i]->addCamera(3 + i, 1, 1);
        scanners[i]->setScanCount(static_cast<uint32_t>(2 + i));
    }
    const unsigned first = static_cast<unsigned>(std::atoi(argv[2]));
    if (argc < 4) {
        quiltra::writeConfiguration(*scanners[first % 2], "Scanner0001");
        return 0;
    }
    if (write(STDOUT_FILENO, "r", 1) != 1) {
        return 1;
    }
    for (unsigned n = first;; ++n) {
        quiltra::writeConfiguration(*scanners[n % 2], "Scanner0001");
    }
}

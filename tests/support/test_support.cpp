#include "test_support.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/file_path.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quiltra::test {

std::filesystem::path binaryDir() {
    return platform::programFolder();
}

std::string libraryFileName(const std::string& baseName) {
#if defined(_WIN32)
    return baseName + ".dll";
#else
    return "lib" + baseName + ".so";
#endif
}

std::string libraryPath(const std::string& baseName) {
    return (binaryDir() / libraryFileName(baseName)).string();
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate =
            std::filesystem::temp_directory_path() /
            ("quiltra-test-" + std::to_string(pid) + "-" + std::to_string(counter.fetch_add(1)));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> firstStartLines(const std::string& cameraDriver,
                                         const std::string& filterLibrary,
                                         const std::string& resampleLibrary) {
    return {"[Config]",
            "CameraDriver=" + cameraDriver,
            "FilterDLL=" + filterLibrary,
            "ResampleDLL=" + resampleLibrary,
            "ResampleMode=1",
            "Verbose=0",
            "[Scanner0001]",
            "Cameras=0",
            "Scans=1",
            "Overlap=0",
            "ActiveGrabTimeout=0",
            "MinScans=0",
            "Scale_x=1",
            "Scale_y=1",
            "TopLeft_x=0",
            "TopLeft_y=0",
            "Size_x=100",
            "Size_y=120",
            "Pitch_x=1",
            "Pitch_y=1",
            "PassThru=1,-1",
            "Active=0",
            "Threaded=1",
            "[Scanner0001.Camera1]",
            "Port=0",
            "Prefilter=",
            "CalibFile="};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace quiltra::test

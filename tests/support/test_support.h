// Helpers shared by every test program: where the build put our libraries, and scratch
// folders that clean up after themselves. They work the same natively and under Wine.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quiltra::test {

// The folder of the running test program; every library of the build lies beside it.
std::filesystem::path binaryDir();

// The full path of a library of the build from its base name: "fake_driver" gives
// <binaryDir>/libfake_driver.so on Linux and <binaryDir>\fake_driver.dll on Windows.
std::string libraryPath(const std::string& baseName);

// The file name of such a library without a folder ("libfake_driver.so", "fake_driver.dll").
std::string libraryFileName(const std::string& baseName);

// A new, empty folder under the system temporary folder, removed with its content when
// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // path() as a native string, the form a host hands to initialize.
    std::string str() const { return path_.string(); }
    // The path of a file in this folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The lines of Quiltra.ini that a first start writes (the writer's output for a scanner
// without cameras on an empty file), in write order, with the three library names given.
std::vector<std::string> firstStartLines(const std::string& cameraDriver,
                                         const std::string& filterLibrary,
                                         const std::string& resampleLibrary);

// Whole-file helpers for checking what the library wrote.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace quiltra::test

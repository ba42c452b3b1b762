#include "tool_system.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <glob.h>
#include <unistd.h>

#include <fstream>
#endif

#include <cstdlib>
#include <filesystem>

#include "platform/file_path.h"

namespace quiltra::config_check {

namespace {

// The parts of a PATH-like list.
void appendList(std::vector<std::string>& folders, const char* list, char separator) {
    if (list == nullptr) {
        return;
    }
    std::string rest = list;
    for (std::size_t at; !rest.empty();) {
        at = rest.find(separator);
        const std::string part = rest.substr(0, at);
        if (!part.empty()) {
            folders.push_back(part);
        }
        rest = at == std::string::npos ? "" : rest.substr(at + 1);
    }
}

#if !defined(_WIN32)
// The folders of an ld.so.conf file and of the files its "include" lines name.
void appendConfFolders(std::vector<std::string>& folders, const std::string& file, int depth) {
    std::ifstream in(file);
    for (std::string line; depth < 4 && std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        if (line.rfind("include", 0) == 0) {
            std::string pattern = line.substr(line.find_first_not_of(" \t", 7));
            glob_t found{};
            if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
                for (std::size_t i = 0; i < found.gl_pathc; ++i) {
                    appendConfFolders(folders, found.gl_pathv[i], depth + 1);
                }
            }
            globfree(&found);
        } else if (line.front() == '/') {
            folders.push_back(line);
        }
    }
}
#endif

}  // namespace

#if defined(_WIN32)

double physicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? static_cast<double>(status.ullTotalPhys) : 0.0;
}

std::vector<std::string> loaderSearchFolders(const std::string& loaderFolder) {
    std::vector<std::string> folders;
    if (!loaderFolder.empty()) {
        folders.push_back(loaderFolder);
    }
    char folder[MAX_PATH];
    if (const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
        length > 0 && length < MAX_PATH) {
        folders.emplace_back(folder);
    }
    if (const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
        length > 0 && length < MAX_PATH) {
        folders.emplace_back(folder);
    }
    folders.push_back(std::filesystem::current_path().string());
    appendList(folders, std::getenv("PATH"), ';');
    return folders;
}

std::string loaderFileName(const std::string& name) {
    return std::filesystem::path(name).has_extension() ? name : name + ".dll";
}

std::string defaultLoaderFolder() {
    return platform::programFolder();
}

#else

double physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize)
                                     : 0.0;
}

std::vector<std::string> loaderSearchFolders(const std::string& loaderFolder) {
    std::vector<std::string> folders;
    appendList(folders, std::getenv("LD_LIBRARY_PATH"), ':');
    if (!loaderFolder.empty()) {
        folders.push_back(loaderFolder);
    }
    appendConfFolders(folders, "/etc/ld.so.conf", 0);
    for (const char* folder : {"/lib", "/usr/lib", "/lib64", "/usr/lib64"}) {
        folders.emplace_back(folder);
    }
    return folders;
}

std::string loaderFileName(const std::string& name) {
    return name;
}

std::string defaultLoaderFolder() {
    const std::filesystem::path tools = platform::programFolder();
    if (tools.empty() || std::filesystem::exists(tools / "libquiltra.so")) {
        return tools.string();
    }
    // Installed: the library folder, as the install placed it relative to the tools' folder.
    const std::filesystem::path installed = (tools / QUILTRA_LIBRARY_FROM_TOOLS).lexically_normal();
    return std::filesystem::exists(installed / "libquiltra.so") ? installed.string()
                                                                : tools.string();
}

#endif

}  // namespace quiltra::config_check

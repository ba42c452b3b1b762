#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <filesystem>

#include "platform/file_path.h"

namespace quiltra::platform {

bool fileExists(const char* path) {
    return path != nullptr && _access(path, 0) == 0;
}

std::string programFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::filesystem::path(path).parent_path().string();
}

bool isAbsolutePath(const char* path) {
    return path != nullptr && (path[0] == '\\' || (path[0] != '\0' && path[1] == ':'));
}

bool fullPath(const char* path, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    if (_fullpath(buffer, path, size) == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace quiltra::platform

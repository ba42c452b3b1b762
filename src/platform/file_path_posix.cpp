#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_path.h"
#include "platform/fixed_text.h"

namespace quiltra::platform {

namespace {

std::string currentFolder() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

bool fileExists(const char* path) {
    return path != nullptr && access(path, F_OK) == 0;
}

std::string programFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.parent_path().string();
}

bool isAbsolutePath(const char* path) {
    return path != nullptr && path[0] == '/';
}

bool fullPath(const char* path, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    std::string absolute;
    if (path[0] != '/') {
        absolute = currentFolder();
        if (absolute.empty()) {
            return false;
        }
        absolute += '/';
    }
    absolute += path;

    // Lexical: "." parts and empty parts vanish, ".." removes the part before it and stays
    // at the root. Symbolic links are not followed, so the file need not exist.
    std::vector<std::string_view> parts;
    const std::string_view whole(absolute);
    for (std::size_t begin = 0; begin < whole.size();) {
        const std::size_t slash = whole.find('/', begin);
        const std::size_t end = slash == std::string_view::npos ? whole.size() : slash;
        const std::string_view part = whole.substr(begin, end - begin);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        begin = end + 1;
    }
    std::string result(parts.empty() ? 1 : 0, '/');
    for (const std::string_view part : parts) {
        result.push_back('/');
        result.append(part);
    }
    if (result.size() >= size) {
        return false;
    }
    copyText(buffer, size, result.c_str());
    return true;
}

}  // namespace quiltra::platform

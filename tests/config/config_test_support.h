// What the configuration tests share: a scratch system folder with its Quiltra.ini, a
// driver binding that loaded nothing but collects the debug messages, and the file's lines.
#pragma once

#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/configuration_file.h"
#include "driver/driver_binding.h"
#include "test_support.h"

namespace quiltra::test {

inline std::mutex& messagesMutex() {
    static std::mutex mutex;
    return mutex;
}

inline std::vector<std::string>& messages() {
    static std::vector<std::string> list;
    return list;
}

inline void QUILTRA_CALL collectMessage(const char* text) {
    std::lock_guard guard(messagesMutex());
    messages().emplace_back(text);
}

inline std::vector<std::string> takeMessages() {
    std::lock_guard guard(messagesMutex());
    return std::exchange(messages(), {});
}

// The separator-joined path, as the library forms it.
inline std::string joined(const std::string& folder, const std::string& name) {
    return folder + platform::kPathSeparator + name;
}

class ConfigFolder {
public:
    ConfigFolder() : binding("", dir.str().c_str(), collectMessage) { takeMessages(); }

    // The file's lines without line ends and without blank lines.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream text(readFile(file));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                result.push_back(line);
            }
        }
        return result;
    }

    TempDir dir;
    std::string file = joined(dir.str(), "Quiltra.ini");
    DriverBinding binding;
};

}  // namespace quiltra::test

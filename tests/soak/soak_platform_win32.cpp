#include <windows.h>
// after windows.h
#include <psapi.h>

#include <cstdlib>
#include <string>

#include "soak_platform.h"

namespace quiltra::soak {

void setEnvironment(const char* name, const char* value) {
    // The C runtime's environment, which the library's getenv reads; the text is kept, as
    // an older runtime may keep a pointer to it.
    static std::string assignment;
    assignment = std::string(name) + "=" + value;
    _putenv(assignment.c_str());
}

std::optional<long long> residentBytes() {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory) == 0) {
        return std::nullopt;
    }
    return static_cast<long long>(memory.WorkingSetSize);
}

const char* residentBytesUnavailable() {
    return "GetProcessMemoryInfo failed";
}

}  // namespace quiltra::soak

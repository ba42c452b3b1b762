#include <windows.h>
// after windows.h
#include <psapi.h>

#include <cstdlib>

#include "soak_platform.h"

namespace quiltra::soak {

void setEnvironment(const char* name, const char* value) {
    _putenv_s(name, value);
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

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "soak_platform.h"

namespace quiltra::soak {

void setEnvironment(const char* name, const char* value) {
    setenv(name, value, 1);
}

std::optional<long long> residentBytes() {
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) {
        return std::nullopt;
    }
    long long size = 0;
    long long resident = 0;
    const int read = std::fscanf(file, "%lld %lld", &size, &resident);
    std::fclose(file);
    if (read != 2) {
        return std::nullopt;
    }
    return resident * sysconf(_SC_PAGESIZE);
}

const char* residentBytesUnavailable() {
    return "/proc/self/statm cannot be read";
}

}  // namespace quiltra::soak

// The few operating-system facilities the soak needs beyond the standard library.
#pragma once

#include <optional>

namespace quiltra::soak {

// Sets an environment variable of this process (before the library first reads it).
void setEnvironment(const char* name, const char* value);
// The resident size of this process in bytes; nothing where it cannot be measured.
std::optional<long long> residentBytes();
// Why residentBytes() gave nothing.
const char* residentBytesUnavailable();

}  // namespace quiltra::soak

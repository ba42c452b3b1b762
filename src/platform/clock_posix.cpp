#include <chrono>

#include "platform/clock.h"

namespace quiltra::platform {

int64_t performanceCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t performanceFrequency() {
    return 1000000000;
}

}  // namespace quiltra::platform

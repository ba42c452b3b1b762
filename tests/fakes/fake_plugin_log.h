// The shared state of one fake plug-in library: the call log, the script and the live
// instance count, guarded by one mutex so bindings may call from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace fake_plugin {

struct State {
    std::mutex mutex;
    std::string log;
    std::string logCopy;  // what FakePluginLog last handed out
    uintptr_t nextHandle = 1;
    int resultSize = -1;
    int delayMs = 0;
    int live = 0;
    bool logging = true;  // false: calls are not logged (a long run)
};

inline State& state() {
    static State instance;
    return instance;
}

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void
record(const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard guard(state().mutex);
    if (!state().logging) {
        return;
    }
    state().log += line;
    state().log += '\n';
}

inline uintptr_t newInstance() {
    std::lock_guard guard(state().mutex);
    const uintptr_t handle = state().nextHandle;
    if (handle != 0) {
        ++state().nextHandle;
        ++state().live;
    }
    return handle;
}

inline void releaseInstance(uintptr_t handle) {
    std::lock_guard guard(state().mutex);
    if (handle != 0) {
        --state().live;
    }
}

}  // namespace fake_plugin

// The four control functions, defined once per fake library.
#define FAKE_PLUGIN_CONTROL_FUNCTIONS                                                           \
    extern "C" QUILTRA_PLUGIN_API const char* QUILTRA_CALL FakePluginLog(void) {                \
        std::lock_guard guard(fake_plugin::state().mutex);                                      \
        fake_plugin::state().logCopy = fake_plugin::state().log;                                \
        return fake_plugin::state().logCopy.c_str();                                            \
    }                                                                                           \
    extern "C" QUILTRA_PLUGIN_API void QUILTRA_CALL FakePluginReset(void) {                     \
        std::lock_guard guard(fake_plugin::state().mutex);                                      \
        fake_plugin::state().log.clear();                                                       \
        fake_plugin::state().nextHandle = 1;                                                    \
        fake_plugin::state().resultSize = -1;                                                   \
        fake_plugin::state().delayMs = 0;                                                       \
        fake_plugin::state().live = 0;                                                          \
        fake_plugin::state().logging = true;                                                    \
    }                                                                                           \
    extern "C" QUILTRA_PLUGIN_API void QUILTRA_CALL FakePluginSet(const char* key, int value) { \
        std::lock_guard guard(fake_plugin::state().mutex);                                      \
        if (std::strcmp(key, "handleBase") == 0) {                                              \
            fake_plugin::state().nextHandle = static_cast<uintptr_t>(value);                    \
        } else if (std::strcmp(key, "resultSize") == 0) {                                       \
            fake_plugin::state().resultSize = value;                                            \
        } else if (std::strcmp(key, "delayMs") == 0) {                                          \
            fake_plugin::state().delayMs = value;                                               \
        } else if (std::strcmp(key, "log") == 0) {                                              \
            fake_plugin::state().logging = value != 0;                                          \
        }                                                                                       \
    }                                                                                           \
    extern "C" QUILTRA_PLUGIN_API int QUILTRA_CALL FakePluginLiveInstances(void) {              \
        std::lock_guard guard(fake_plugin::state().mutex);                                      \
        return fake_plugin::state().live;                                                       \
    }

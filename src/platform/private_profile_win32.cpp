#include <windows.h>

#include "platform/private_profile.h"

namespace quiltra::platform {

int getPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, int size, const char* file) {
    if (buffer == nullptr || size < 1) {
        return 0;
    }
    return static_cast<int>(GetPrivateProfileStringA(section, key,
                                                     defaultValue != nullptr ? defaultValue : "",
                                                     buffer, static_cast<DWORD>(size), file));
}

int getPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, file));
}

bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

}  // namespace quiltra::platform

#include <pthread.h>

#include <cstring>

#include "platform/thread_name.h"

namespace quiltra::platform {

void setCurrentThreadName(const char* name) {
    char cut[16] = {};  // Linux keeps 15 characters and the NUL
    std::strncpy(cut, name, sizeof cut - 1);
    pthread_setname_np(pthread_self(), cut);
}

}  // namespace quiltra::platform

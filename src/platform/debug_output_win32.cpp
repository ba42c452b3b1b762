#include <windows.h>

#include <cstring>

#include "platform/debug_output.h"
#include "platform/fixed_text.h"

namespace quiltra::platform {

namespace {

// QUILTRA_DEBUG_OUTPUT as read at the first write. Trivially destructible on purpose: the
// library may be unloaded while another thread still writes.
struct Destination {
    bool set = false;
    bool toFile = false;
    char path[MAX_PATH * 4] = {};
};

Destination readDestination() {
    Destination destination;
    // The process environment, so both _putenv and SetEnvironmentVariableA are seen.
    const DWORD length =
        GetEnvironmentVariableA("QUILTRA_DEBUG_OUTPUT", destination.path, sizeof destination.path);
    if (length == 0 || length >= sizeof destination.path) {
        destination.path[0] = '\0';
        return destination;
    }
    destination.set = true;
    destination.toFile = std::strcmp(destination.path, "none") != 0;
    return destination;
}

const Destination& destination() {
    static const Destination chosen = readDestination();  // thread-safe, read once
    return chosen;
}

// Serialises appends to the file: FILE_APPEND_DATA alone does not keep texts written at the
// same moment through several handles whole everywhere (Wine loses some). A static SRWLOCK
// needs no constructor or destructor, so unloading the library runs nothing here.
SRWLOCK fileLock = SRWLOCK_INIT;

}  // namespace

bool debugOutputRedirected() {
    return destination().set;
}

void outputDebugString(const char* text) {
    if (text == nullptr) {
        return;
    }
    OutputDebugStringA(text);
    const Destination& where = destination();
    if (!where.toFile) {
        return;
    }
    // Appended in one WriteFile, byte for byte.
    AcquireSRWLockExclusive(&fileLock);
    const HANDLE file = CreateFileA(where.path, FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        CloseHandle(file);
    }
    ReleaseSRWLockExclusive(&fileLock);
}

}  // namespace quiltra::platform

#include <windows.h>

#include "platform/debug_output.h"
#include "platform/message_box.h"

namespace quiltra::platform {

void showMessageBox(void* ownerWindow, const char* text, const char* caption) {
    // A headless run (tests, CI) cannot press OK: with the debugger output redirected the
    // message goes there instead.
    if (debugOutputRedirected()) {
        sendMessageBoxLine(text);
        return;
    }
    MessageBoxA(static_cast<HWND>(ownerWindow), text != nullptr ? text : "",
                caption != nullptr ? caption : "", MB_OK | MB_TASKMODAL);
}

}  // namespace quiltra::platform

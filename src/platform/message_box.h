// A task-modal message box with one OK button (MessageBoxA). Off Windows, and on Windows
// while QUILTRA_DEBUG_OUTPUT is set, it becomes the debugger-output line
// "Quiltra configuration: <text>\n".
#pragma once

namespace quiltra::platform {

void showMessageBox(void* ownerWindow, const char* text, const char* caption);

}  // namespace quiltra::platform

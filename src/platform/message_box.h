// A task-modal message box with one OK button (MessageBoxA). Off Windows, and on Windows
// while QUILTRA_DEBUG_OUTPUT is set, it becomes the debugger-output line
// "Quiltra configuration: <text>\n".
#pragma once

namespace quiltra::platform {

void showMessageBox(void* ownerWindow, const char* text, const char* caption);

// The debugger-output form of a message box: "Quiltra configuration: <text>\n".
void sendMessageBoxLine(const char* text);

}  // namespace quiltra::platform

// The system debugger output (OutputDebugStringA). Off Windows the text goes unchanged, in
// one write, to standard error. QUILTRA_DEBUG_OUTPUT, read once at the first write,
// redirects it: a file path appends to that file, "none" discards it. On Windows the
// variable, when set, sends the text to that file as well.
#pragma once

namespace quiltra::platform {

void outputDebugString(const char* text);

// True when QUILTRA_DEBUG_OUTPUT is set (to a file or to "none"), read as for the output.
bool debugOutputRedirected();

}  // namespace quiltra::platform

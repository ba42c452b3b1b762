// File paths: the separator, existence (_access mode 0 / access F_OK), absolute-path
// recognition as the configuration's path rules need it, and full-path normalisation.
#pragma once

#include <cstddef>
#include <string>

namespace quiltra::platform {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True when a file or folder exists at `path`.
bool fileExists(const char* path);

// True when a configured path is taken as already absolute: on Windows it begins with "\"
// or its second character is ":"; elsewhere it begins with "/".
bool isAbsolutePath(const char* path);

// Makes `path` absolute and removes "." and ".." parts (_fullpath; lexically elsewhere, the
// file need not exist; a relative path is taken against the current folder). Writes the
// result, NUL-terminated, into buffer; returns false (buffer empty) when it does not fit or
// fails.
bool fullPath(const char* path, char* buffer, std::size_t size);

// The folder of the running program's executable (GetModuleFileName of the process;
// /proc/self/exe elsewhere), empty when the system cannot tell it.
std::string programFolder();

}  // namespace quiltra::platform

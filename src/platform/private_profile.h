// Private-profile (INI) files with the Windows semantics the configuration relies on:
// sections and keys compared without regard to ASCII case, values trimmed of surrounding
// blanks, a value in matching quotes loses them, texts cut to the buffer size - 1, a new
// section appended at the end of the file, a new key at the end of its section, an
// existing key replaced where it stands, comments and unknown lines kept.
//
// On Windows these are the real GetPrivateProfileStringA, GetPrivateProfileIntA and
// WritePrivateProfileStringA. Elsewhere every write replaces the file atomically (a
// temporary file in the same folder, then rename) under one process-wide lock.
#pragma once

namespace quiltra::platform {

// Copies the value of `key` in `section`, or `defaultValue` when the file, section or key
// is missing or the file cannot be read (a null default counts as ""), into `buffer`, cut
// to size - 1 characters and NUL-terminated. Returns the number of characters copied,
// without the NUL. Nothing is written when buffer is null or size < 1. Trailing spaces of
// the default are dropped. Off Windows a null section or key reads as missing (no
// enumeration of names).
int getPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, int size, const char* file);

// The value as an integer: optional blanks, an optional sign, decimal digits, up to the
// first other character; no digits gives 0; values beyond 32 bits clamp. `defaultValue`
// when the key is missing or its value is empty (blanks only, or "" in quotes). (The
// Windows function differs at the edges: it wraps beyond 32 bits and reads "0x10" as 16.)
int getPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file);

// Writes `key`=`value` into `section`, creating file, section and key as needed. A null
// value removes the key, a null key the whole section. Off Windows a line break in a name
// or value ends it there (it cannot add lines to the file). Returns false when the file
// could not be written, or when it exists but could not be read: then it is left unchanged
// (only a missing file starts empty).
bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);

}  // namespace quiltra::platform

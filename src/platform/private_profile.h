// Private-profile (INI) files with the Windows semantics the configuration relies on:
// sections and keys compared without regard to ASCII case, values trimmed of surrounding
// blanks, a value in matching quotes loses them, texts cut to the buffer size - 1, a new
// section appended at the end of the file, a new key at the end of its section, an
// existing key replaced where it stands, comments and unknown lines kept.
//
// On Windows these are the real GetPrivateProfileStringA, GetPrivateProfileIntA and
// WritePrivateProfileStringA. Elsewhere every write replaces the file atomically (a
// temporary file "<file>.XXXXXX" in the same folder, synced, then renamed over the file)
// under one process-wide lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

// Writes `key`=`value` into `section`, creating file, section and key as needed; the value
// goes without its leading blanks. A null value removes the key, a null key the whole
// section. A line that holds a key's name without '=' is that key, without a value: reads
// give the default, a write sets it in place. The lines before the first section header
// form the section "". Of sections that share a name, reads and writes use the first; a
// removed key goes from the first that holds it. Off Windows a line break in a name
// or value ends it there (it cannot add lines to the file). Returns false when the file
// could not be written, or when it exists but could not be read: then it is left unchanged
// (only a missing file starts empty).
bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);

// Reads of one file from a single reading of it, for a reader of many keys that wants one
// consistent view (a scanner is built from one). Every call has the semantics of the file
// function of the same name. Off Windows the file is read and parsed once, when the reader
// is made, without the write lock; on Windows every call goes to the system function.
class ProfileReader {
public:
    explicit ProfileReader(const char* file);
    ~ProfileReader();
    ProfileReader(const ProfileReader&) = delete;
    ProfileReader& operator=(const ProfileReader&) = delete;

    int getString(const char* section, const char* key, const char* defaultValue, char* buffer,
                  int size) const;
    int getInt(const char* section, const char* key, int defaultValue) const;

    // For a checker of the file's names (the library reads only names it knows): the section
    // names in file order, a name as often as it has a header; and the key names of the first
    // section called `section`, in line order, empty names left out (the lines before the
    // first header form the section ""). On Windows as the system lists them
    // (GetPrivateProfileSectionNamesA; GetPrivateProfileStringA with a null key).
    std::vector<std::string> sectionNames() const;
    std::vector<std::string> keyNames(const char* section) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Several reads and writes of one file that reach it as one change. Reads see the writes
// made earlier through the same edit; every call has the semantics of the file function of
// the same name. Off Windows the file is read once when the edit is made and replaced once,
// atomically and durably, by commit; the process-wide write lock is held from the read to
// the end of the edit, so concurrent writers in this process lose nothing. Keep an edit
// short, make no second edit and call no file write function on the thread that holds one,
// and call out to nothing while holding it. On Windows every call goes to the system
// function at once and commit adds nothing.
class ProfileEdit {
public:
    explicit ProfileEdit(const char* file);
    ~ProfileEdit();
    ProfileEdit(const ProfileEdit&) = delete;
    ProfileEdit& operator=(const ProfileEdit&) = delete;

    int getString(const char* section, const char* key, const char* defaultValue, char* buffer,
                  int size) const;
    int getInt(const char* section, const char* key, int defaultValue) const;
    // False when the file exists but could not be read, or on Windows when the write failed.
    bool writeString(const char* section, const char* key, const char* value);
    // Writes the file when a write changed it. False when it could not be written, or when it
    // exists but could not be read: then it is left unchanged. Call it once.
    bool commit();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quiltra::platform

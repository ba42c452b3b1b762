#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/private_profile.h"

namespace quiltra::platform {

namespace {

// A file name kept for the system functions, which take none as a null pointer.
class FileName {
public:
    explicit FileName(const char* file) {
        if (file != nullptr) {
            name_ = file;
        }
    }
    const char* get() const { return name_ ? name_->c_str() : nullptr; }

private:
    std::optional<std::string> name_;
};

}  // namespace

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

struct ProfileReader::State {
    FileName file;
};

ProfileReader::ProfileReader(const char* file) : state_(std::make_unique<State>(FileName(file))) {}

ProfileReader::~ProfileReader() = default;

int ProfileReader::getString(const char* section, const char* key, const char* defaultValue,
                             char* buffer, int size) const {
    return getPrivateProfileString(section, key, defaultValue, buffer, size, state_->file.get());
}

int ProfileReader::getInt(const char* section, const char* key, int defaultValue) const {
    return getPrivateProfileInt(section, key, defaultValue, state_->file.get());
}

namespace {

// A list of NUL-terminated names ending in an empty one, as the enumerating calls fill it;
// `fill` is called with ever larger buffers until the list fits.
template <typename Fill>
std::vector<std::string> nameList(Fill fill) {
    std::vector<char> buffer;
    for (DWORD size = 4096;; size *= 2) {
        buffer.assign(size, '\0');
        const DWORD length = fill(buffer.data(), size);
        if (length + 2 < size || size >= (1u << 26)) {
            break;
        }
    }
    std::vector<std::string> names;
    for (const char* name = buffer.data(); *name != '\0'; name += std::strlen(name) + 1) {
        names.emplace_back(name);
    }
    return names;
}

}  // namespace

std::vector<std::string> ProfileReader::sectionNames() const {
    if (state_->file.get() == nullptr) {
        return {};
    }
    return nameList([this](char* buffer, DWORD size) {
        return GetPrivateProfileSectionNamesA(buffer, size, state_->file.get());
    });
}

std::vector<std::string> ProfileReader::keyNames(const char* section) const {
    if (state_->file.get() == nullptr || section == nullptr) {
        return {};
    }
    return nameList([this, section](char* buffer, DWORD size) {
        return GetPrivateProfileStringA(section, nullptr, "", buffer, size, state_->file.get());
    });
}

struct ProfileEdit::State {
    FileName file;
    bool failed = false;
};

ProfileEdit::ProfileEdit(const char* file) : state_(std::make_unique<State>(FileName(file))) {}

ProfileEdit::~ProfileEdit() = default;

int ProfileEdit::getString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, int size) const {
    return getPrivateProfileString(section, key, defaultValue, buffer, size, state_->file.get());
}

int ProfileEdit::getInt(const char* section, const char* key, int defaultValue) const {
    return getPrivateProfileInt(section, key, defaultValue, state_->file.get());
}

bool ProfileEdit::writeString(const char* section, const char* key, const char* value) {
    const bool written = writePrivateProfileString(section, key, value, state_->file.get());
    state_->failed = state_->failed || !written;
    return written;
}

bool ProfileEdit::commit() {
    return !state_->failed;
}

}  // namespace quiltra::platform

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fixed_text.h"
#include "platform/private_profile.h"

namespace quiltra::platform {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Serialises every read-modify-write of a profile file in this process, so two writers
// never both start from the same old content and lose one of their changes. Readers need
// no lock: a write replaces the file in one rename, so they see the old or the new file.
std::mutex writeLock;

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view withoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view trim(std::string_view text) {
    text = withoutLeadingBlanks(text);
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool hasNoBlanksAround(std::string_view name) {
    return trim(name) == name;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// A profile file as its lines, without line ends; every line not touched by a write is
// written back exactly as it was read.
struct Profile {
    bool byteOrderMark = false;
    std::vector<std::string> lines;
};

// The section name of a "[name]" line: up to the last ']', blanks around the line and the
// name ignored. A line with no ']' ("[name") starts no section; it is an unknown line of the
// section it stands in.
bool sectionHeader(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.empty() || line.front() != '[') {
        return false;
    }
    line.remove_prefix(1);
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) {
        return false;
    }
    name = trim(line.substr(0, close));
    return true;
}

// The key and the value of a "key=value" line, each without surrounding blanks. A line
// without '=' names a key without a value (`hasValue` false): reads give the default for
// it, and a write sets it where it stands.
bool keyLine(std::string_view line, std::string_view& key, std::string_view& value,
             bool& hasValue) {
    std::string_view name;
    if (sectionHeader(line, name)) {
        return false;
    }
    const std::size_t equals = line.find('=');
    hasValue = equals != std::string_view::npos;
    key = trim(line.substr(0, equals));
    value = hasValue ? trim(line.substr(equals + 1)) : std::string_view();
    return !key.empty() || hasValue;  // "=value" is the key with an empty name
}

// How reading a profile file ended. Only a missing file reads as an empty profile: a file
// that is there but cannot be read whole must never be taken for one, or a write would
// replace everything in it with its one key.
enum class ReadResult { read, missing, failed };

ReadResult readProfile(const char* file, Profile& profile) {
    std::FILE* stream = std::fopen(file, "rb");
    if (stream == nullptr) {
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    }
    std::string content;
    char chunk[8192];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) {
        content.append(chunk, got);
    }
    const bool readWhole = std::ferror(stream) == 0;
    std::fclose(stream);
    if (!readWhole) {
        return ReadResult::failed;
    }

    std::string_view rest(content);
    if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        profile.byteOrderMark = true;
        rest.remove_prefix(kByteOrderMark.size());
    }
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        profile.lines.emplace_back(line);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return ReadResult::read;
}

// The lines [begin, end) of the first section called `section` whose header is at or after
// line `from`; false when there is none. The lines before the first header form a section
// without a name (""), which always exists, and is the first such section unless
// `withNameless` is false. Only that section has begin 0.
bool findSection(const Profile& profile, std::string_view section, std::size_t& begin,
                 std::size_t& end, std::size_t from = 0, bool withNameless = true) {
    std::string_view name;
    const auto endOfSection = [&profile, &name](std::size_t line) {
        while (line < profile.lines.size() && !sectionHeader(profile.lines[line], name)) {
            ++line;
        }
        return line;
    };
    if (section.empty() && withNameless) {
        begin = 0;
        end = endOfSection(0);
        return true;
    }
    for (std::size_t i = from; i < profile.lines.size(); ++i) {
        if (sectionHeader(profile.lines[i], name) && equalIgnoringCase(name, section)) {
            begin = i + 1;
            end = endOfSection(begin);
            return true;
        }
    }
    return false;
}

// The line of `key` in the section [begin, end), or end.
std::size_t findKey(const Profile& profile, std::size_t begin, std::size_t end,
                    std::string_view key) {
    std::string_view name;
    std::string_view value;
    bool hasValue = false;
    for (std::size_t i = begin; i < end; ++i) {
        if (keyLine(profile.lines[i], name, value, hasValue) && equalIgnoringCase(name, key)) {
            return i;
        }
    }
    return end;
}

// The value of section/key as stored, or false when the section or key is missing.
bool lookUp(const Profile& profile, const char* section, const char* key, std::string& value) {
    if (section == nullptr || key == nullptr) {
        return false;
    }
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!findSection(profile, trim(section), begin, end)) {
        return false;
    }
    const std::size_t line = findKey(profile, begin, end, trim(key));
    if (line == end) {
        return false;
    }
    std::string_view name;
    std::string_view stored;
    bool hasValue = false;
    if (!keyLine(profile.lines[line], name, stored, hasValue) || !hasValue) {
        return false;
    }
    // A value in matching quotes (both " or both ') loses them.
    if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') &&
        stored.back() == stored.front()) {
        stored = stored.substr(1, stored.size() - 2);
    }
    value.assign(stored);
    return true;
}

// The string and integer reads of a profile; a null profile (a file that could not be
// read) gives the defaults.
int stringValue(const Profile* profile, const char* section, const char* key,
                const char* defaultValue, char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return 0;
    }
    std::string value;
    if (profile == nullptr || !lookUp(*profile, section, key, value)) {
        // As on Windows, trailing spaces of the default are dropped.
        std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
        while (!fallback.empty() && fallback.back() == ' ') {
            fallback.remove_suffix(1);
        }
        value.assign(fallback);
    }
    return static_cast<int>(copyText(buffer, static_cast<std::size_t>(size), value.c_str()));
}

int intValue(const Profile* profile, const char* section, const char* key, int defaultValue) {
    std::string value;
    // An empty value counts as missing, as on Windows.
    if (profile == nullptr || !lookUp(*profile, section, key, value) || value.empty()) {
        return defaultValue;
    }
    return parseInt(value.c_str());
}

// A line break inside a name or value would start a new line of the file: cut it there.
std::string_view singleLine(const char* text) {
    std::string_view line(text);
    return line.substr(0, line.find_first_of("\r\n"));
}

// Makes a rename in the folder of `file` durable. Best effort: the new content is in place
// whether or not this succeeds.
void syncFolderOf(const char* file) {
    const std::string_view path(file);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string_view::npos ? std::string(".")
                               : slash == 0                    ? std::string("/")
                                                               : std::string(path.substr(0, slash));
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

// Writes the whole profile to a new file with a unique name beside `file`, then renames it
// over `file`: the file is always either the old or the new content, never half of one.
bool replaceFile(const char* file, const Profile& profile) {
    std::string content;
    if (profile.byteOrderMark) {
        content.append(kByteOrderMark);
    }
    for (const std::string& line : profile.lines) {
        content.append(line);
        content.push_back('\n');
    }

    std::string temporary = std::string(file) + ".XXXXXX";
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    // mkostemp makes the file private (0600); keep the mode of the file it replaces, or
    // give a new file the mode the umask allows, as an ordinary create would.
    struct stat existing;
    if (stat(file, &existing) == 0) {
        fchmod(descriptor, existing.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(descriptor, 0666 & ~mask);
    }
    bool written = true;
    for (std::size_t done = 0; written && done < content.size();) {
        const ssize_t result = write(descriptor, content.data() + done, content.size() - done);
        if (result > 0) {
            done += static_cast<std::size_t>(result);
        } else if (result == 0 || errno != EINTR) {
            written = false;  // an error, or no progress that a retry would make
        }
    }
    written = written && fsync(descriptor) == 0;
    written = close(descriptor) == 0 && written;
    if (!written || std::rename(temporary.c_str(), file) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    syncFolderOf(file);
    return true;
}

// Sets section/key to value in the profile (a null value removes the key, a null key the
// section); `changed` tells whether a line was touched.
void editProfile(Profile& profile, const char* section, const char* key, const char* value,
                 bool& changed) {
    // Names are looked up without the blanks around them; a new section or key is named
    // without its leading blanks only. A removal takes the name as given: a name with blanks
    // around it names no section or key, and nothing goes.
    const std::string_view sectionName = trim(singleLine(section));
    if ((key == nullptr || value == nullptr) &&
        (!hasNoBlanksAround(section) || (key != nullptr && !hasNoBlanksAround(key)))) {
        return;
    }
    std::size_t begin = 0;
    std::size_t end = 0;
    const bool sectionFound = findSection(profile, sectionName, begin, end);
    auto& lines = profile.lines;

    if (key == nullptr) {
        // No key: the first section of that name goes, with its header (the section
        // without a name has none).
        if (sectionFound) {
            const std::size_t first = begin > 0 ? begin - 1 : 0;
            changed = end > first;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
                        lines.begin() + static_cast<std::ptrdiff_t>(end));
        }
        return;
    }
    const std::string_view keyName = trim(singleLine(key));
    const std::size_t line = sectionFound ? findKey(profile, begin, end, keyName) : end;
    const bool keyFound = sectionFound && line != end;

    if (value == nullptr) {
        // No value: the key goes, from the first section of that name that holds it.
        bool withNameless = true;
        for (std::size_t from = 0;
             findSection(profile, sectionName, begin, end, from, withNameless);) {
            const std::size_t at = findKey(profile, begin, end, keyName);
            if (at != end) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
                changed = true;
                return;
            }
            from = end;
            withNameless = false;
        }
        return;
    }
    // The value goes without its leading blanks (line breaks among them), as on Windows.
    std::string_view written = withoutLeadingBlanks(value);
    written = written.substr(0, written.find_first_of("\r\n"));
    std::string text;
    if (keyFound) {
        // Replaced where it stands, under the name as the file spells it.
        std::string_view storedKey;
        std::string_view storedValue;
        bool hasValue = false;
        keyLine(lines[line], storedKey, storedValue, hasValue);
        if (hasValue && storedValue == written) {
            return;  // the value it has: the file stays as it is
        }
        text.assign(storedKey);
    } else {
        text.assign(withoutLeadingBlanks(singleLine(key)));
    }
    text += '=';
    text += written;

    if (keyFound) {
        lines[line] = text;
    } else if (sectionFound) {
        // At the end of its section, before any blank lines that separate it from the next.
        std::size_t at = end;
        while (at > begin && trim(lines[at - 1]).empty()) {
            --at;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), text);
    } else {
        std::string header = "[";
        header += withoutLeadingBlanks(singleLine(section));
        header += ']';
        lines.push_back(std::move(header));
        lines.push_back(text);
    }
    changed = true;
}

}  // namespace

struct ProfileEdit::State {
    std::lock_guard<std::mutex> lock{writeLock};
    std::string file;
    bool readable = false;  // read whole, or missing and so empty
    bool changed = false;
    Profile profile;
};

ProfileEdit::ProfileEdit(const char* file) : state_(std::make_unique<State>()) {
    if (file != nullptr) {
        state_->file = file;
        state_->readable = readProfile(file, state_->profile) != ReadResult::failed;
    }
}

ProfileEdit::~ProfileEdit() = default;

int ProfileEdit::getString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, int size) const {
    return stringValue(state_->readable ? &state_->profile : nullptr, section, key, defaultValue,
                       buffer, size);
}

int ProfileEdit::getInt(const char* section, const char* key, int defaultValue) const {
    return intValue(state_->readable ? &state_->profile : nullptr, section, key, defaultValue);
}

bool ProfileEdit::writeString(const char* section, const char* key, const char* value) {
    if (section == nullptr || !state_->readable) {
        return false;  // nothing is written over a file that could not be read
    }
    editProfile(state_->profile, section, key, value, state_->changed);
    return true;
}

bool ProfileEdit::commit() {
    if (!state_->readable) {
        return false;
    }
    if (!state_->changed) {
        return true;
    }
    state_->changed = false;
    return replaceFile(state_->file.c_str(), state_->profile);
}

struct ProfileReader::State {
    bool read = false;  // read whole; otherwise every read gives its default
    Profile profile;
};

ProfileReader::ProfileReader(const char* file) : state_(std::make_unique<State>()) {
    state_->read = file != nullptr && readProfile(file, state_->profile) == ReadResult::read;
}

ProfileReader::~ProfileReader() = default;

int ProfileReader::getString(const char* section, const char* key, const char* defaultValue,
                             char* buffer, int size) const {
    return stringValue(state_->read ? &state_->profile : nullptr, section, key, defaultValue,
                       buffer, size);
}

int ProfileReader::getInt(const char* section, const char* key, int defaultValue) const {
    return intValue(state_->read ? &state_->profile : nullptr, section, key, defaultValue);
}

std::vector<std::string> ProfileReader::sectionNames() const {
    std::vector<std::string> names;
    std::string_view name;
    for (const std::string& line : state_->profile.lines) {
        if (sectionHeader(line, name)) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::vector<std::string> ProfileReader::keyNames(const char* section) const {
    std::vector<std::string> names;
    std::size_t begin = 0;
    std::size_t end = 0;
    if (section == nullptr || !findSection(state_->profile, trim(section), begin, end)) {
        return names;
    }
    std::string_view key;
    std::string_view value;
    bool hasValue = false;
    for (std::size_t i = begin; i < end; ++i) {
        if (keyLine(state_->profile.lines[i], key, value, hasValue) && !key.empty()) {
            names.emplace_back(key);
        }
    }
    return names;
}

int getPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, int size, const char* file) {
    return ProfileReader(file).getString(section, key, defaultValue, buffer, size);
}

int getPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file) {
    return ProfileReader(file).getInt(section, key, defaultValue);
}

bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    if (section == nullptr || file == nullptr) {
        return false;
    }
    ProfileEdit edit(file);
    return edit.writeString(section, key, value) && edit.commit();
}

}  // namespace quiltra::platform

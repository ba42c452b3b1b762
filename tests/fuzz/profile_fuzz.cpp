// The private-profile reader and writer on arbitrary file bytes, then a sequence of reads and
// writes of arbitrary sections, keys and values, directly and through one-write edits.
//
// Input: the file content up to the first NUL, then operations: one byte (the kind in the
// low three bits, null arguments in the next three, a null buffer in the highest) and its NUL-ended
// texts. Off Windows every key written with a plain section and key name is remembered, and every
// read of it, and the whole file after each write, must give back what was written.
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "platform/fixed_text.h"
#include "platform/private_profile.h"
#include "test_support.h"

namespace {

using quiltra::fuzz::check;
using quiltra::fuzz::FuzzInput;
namespace platform = quiltra::platform;

#if defined(_WIN32)
// The system functions differ from ours in documented ways at the edges; there the run only
// proves that nothing crashes.
constexpr bool kCheckContent = false;
#else
constexpr bool kCheckContent = true;
#endif

enum Kind { kGetString, kGetInt, kWrite, kBeginEdit, kCommit };
constexpr int kKinds = 5;
constexpr std::uint8_t kNullSection = 1 << 3;
constexpr std::uint8_t kNullKey = 1 << 4;
constexpr std::uint8_t kNullThird = 1 << 5;  // the default or the value
constexpr std::uint8_t kNullBuffer = 1 << 7;

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A name whose line in the file reads back as that name alone: no bracket, equals sign or
// line break, and not blank.
bool plainName(std::string_view name) {
    return name.find_first_of("[]=\r\n") == std::string_view::npos && !trimmed(name).empty();
}

std::string folded(std::string_view name) {
    std::string text(trimmed(name));
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// What a read gives for a written value: the value goes without its leading blanks (line
// breaks among them), then up to its first line break; a read takes that without
// surrounding blanks and without one pair of matching quotes around it.
std::string readBack(std::string_view value) {
    while (!value.empty() && isBlank(value.front())) {
        value.remove_prefix(1);
    }
    value = trimmed(value.substr(0, value.find_first_of("\r\n")));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// The keys written with plain names, as a read must give them: (section, key) folded to
// lower case, then the value as read back.
using Model = std::map<std::pair<std::string, std::string>, std::string>;

struct Run {
    std::string file;
    std::unique_ptr<platform::ProfileEdit> edit;
    Model committed;  // what the file holds
    Model pending;    // what the open edit holds
    bool exact = kCheckContent;

    Model& model() { return edit ? pending : committed; }

    int getString(const char* section, const char* key, const char* defaultValue, char* buffer,
                  int size) const {
        return edit ? edit->getString(section, key, defaultValue, buffer, size)
                    : platform::getPrivateProfileString(section, key, defaultValue, buffer, size,
                                                        file.c_str());
    }

    int getInt(const char* section, const char* key, int defaultValue) const {
        return edit ? edit->getInt(section, key, defaultValue)
                    : platform::getPrivateProfileInt(section, key, defaultValue, file.c_str());
    }

    bool write(const char* section, const char* key, const char* value) {
        return edit ? edit->writeString(section, key, value)
                    : platform::writePrivateProfileString(section, key, value, file.c_str());
    }

    // Every remembered key reads back as written.
    void verifyAll() const {
        if (!exact) {
            return;
        }
        const Model& expected = edit ? pending : committed;
        for (const auto& [name, value] : expected) {
            std::vector<char> buffer(value.size() + 2);
            const int length = getString(name.first.c_str(), name.second.c_str(), "\x01missing",
                                         buffer.data(), static_cast<int>(buffer.size()));
            check(std::string(buffer.data(), static_cast<std::size_t>(length)) == value,
                  "written key reads back", name.first + "/" + name.second + "=" + value);
        }
    }
};

void readString(Run& run, FuzzInput& input, std::uint8_t flags) {
    const std::string section = input.text();
    const std::string key = input.text();
    const std::string fallback = input.text();
    const int size = input.byte();
    // Exactly the size given, so a write past it is seen.
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\x7f');
    char* target = (flags & kNullBuffer) != 0 ? nullptr : buffer.data();
    const int length =
        run.getString((flags & kNullSection) != 0 ? nullptr : section.c_str(),
                      (flags & kNullKey) != 0 ? nullptr : key.c_str(),
                      (flags & kNullThird) != 0 ? nullptr : fallback.c_str(), target, size);
    check(buffer[static_cast<std::size_t>(size)] == '\x7f', "read stays inside its buffer");
    if (target == nullptr || size < 1) {
        check(length == 0 && buffer[0] == '\x7f', "no buffer, nothing read");
        return;
    }
    check(length >= 0 && length < size && buffer[static_cast<std::size_t>(length)] == '\0',
          "read is cut and ended");
    const auto found = run.model().find({folded(section), folded(key)});
    if (run.exact && (flags & (kNullSection | kNullKey)) == 0 && found != run.model().end()) {
        const std::string expected = found->second.substr(0, static_cast<std::size_t>(size - 1));
        check(std::string(buffer.data(), static_cast<std::size_t>(length)) == expected,
              "read gives the written value", section + "/" + key + "=" + found->second);
    }
}

void readInt(Run& run, FuzzInput& input) {
    const std::string section = input.text();
    const std::string key = input.text();
    const int fallback = input.int32();
    const int value = run.getInt(section.c_str(), key.c_str(), fallback);
    const auto found = run.model().find({folded(section), folded(key)});
    if (run.exact && found != run.model().end()) {
        const int expected =
            found->second.empty() ? fallback : platform::parseInt(found->second.c_str());
        check(value == expected, "integer read of a written value", found->second);
    }
}

void write(Run& run, FuzzInput& input, std::uint8_t flags) {
    const std::string section = input.text();
    const std::string key = input.text();
    const std::string value = input.text();
    const bool nullSection = (flags & kNullSection) != 0;
    const bool nullKey = (flags & kNullKey) != 0;
    const bool nullValue = (flags & kNullThird) != 0;
    const bool written =
        run.write(nullSection ? nullptr : section.c_str(), nullKey ? nullptr : key.c_str(),
                  nullValue ? nullptr : value.c_str());
    if (nullSection) {
        check(!written, "a write without a section fails");
        return;
    }
    if (!written || !plainName(section) || (!nullKey && !plainName(key))) {
        run.exact = false;  // what the file holds now is no longer known exactly
        return;
    }
    Model& model = run.model();
    const std::string sectionName = folded(section);
    // A removal names the section (and key) exactly: with blanks around a name it removes
    // nothing, as the system functions do.
    const bool removal = nullKey || nullValue;
    if (removal && (trimmed(section) != section || (!nullKey && trimmed(key) != key))) {
        run.verifyAll();
        return;
    }
    if (nullKey) {
        for (auto it = model.begin(); it != model.end();) {
            it = it->first.first == sectionName ? model.erase(it) : std::next(it);
        }
    } else if (nullValue) {
        model.erase({sectionName, folded(key)});
    } else {
        model[{sectionName, folded(key)}] = readBack(value);
    }
    run.verifyAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const quiltra::test::TempDir folder;
    static const std::string file = folder.file("Quiltra.ini");

    FuzzInput input(data, size);
    quiltra::test::writeFile(file, input.text());
    Run run;
    run.file = file;
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        switch (op % 8 % kKinds) {
            case kGetString:
                readString(run, input, op);
                break;
            case kGetInt:
                readInt(run, input);
                break;
            case kWrite:
                write(run, input, op);
                break;
            case kBeginEdit:
                if (!run.edit) {
                    run.edit = std::make_unique<platform::ProfileEdit>(file.c_str());
                    run.pending = run.committed;
                }
                break;
            case kCommit:
                if (run.edit) {
                    if (run.edit->commit()) {
                        run.committed = run.pending;
                    } else {
                        run.exact = false;
                    }
                    run.edit.reset();
                    run.verifyAll();
                }
                break;
        }
    }
    // An edit left open goes without a commit: the file keeps what was committed before.
    run.edit.reset();
    run.verifyAll();
    return 0;
}

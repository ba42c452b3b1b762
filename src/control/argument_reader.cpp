#include "control/argument_reader.h"

#include <cstring>

namespace quiltra {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool equalsIgnoringCase(const char* a, std::string_view b) {
    return a != nullptr && equalsIgnoringCase(std::string_view(a), b);
}

ArgumentValue readArgument(const char* arguments, const char* key) {
    if (arguments == nullptr || arguments[0] == '\0' || key == nullptr) {
        return {};
    }
    // The items are looked at in place; the caller's text is never changed.
    const char* item = arguments;
    while (*item == ' ') {
        ++item;
    }
    for (;;) {
        const char* equals = std::strchr(item, '=');
        const char* semicolon = std::strchr(item, ';');
        if (equals == nullptr) {
            return {};  // no item from here on has a "="
        }
        if (semicolon != nullptr && semicolon < equals) {
            return {};  // an item without "=" before one that has one
        }
        const char* keyStart = item;
        while (keyStart < equals && *keyStart == ' ') {
            ++keyStart;
        }
        const char* keyEnd = equals;
        while (keyEnd > keyStart && keyEnd[-1] == ' ') {
            --keyEnd;
        }
        if (equalsIgnoringCase(
                std::string_view(keyStart, static_cast<std::size_t>(keyEnd - keyStart)),
                std::string_view(key))) {
            const char* value = equals + 1;
            const char* end = semicolon != nullptr ? semicolon : value + std::strlen(value);
            return {value, static_cast<std::size_t>(end - value)};
        }
        if (semicolon == nullptr) {
            return {};
        }
        item = semicolon + 1;
    }
}

}  // namespace quiltra

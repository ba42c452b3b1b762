// Small helpers of the plug-ins' text-file readers. Standard C++ only.
#pragma once

#include <string>
#include <string_view>

namespace quiltra::plugins {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// `s` without the blanks (spaces and tabs) at either end.
inline std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// `s` in single quotes, for messages. Appended, not `"'" + std::string(s)`: GCC 12 at -O3
// takes that insertion at the front for an overlapping copy (a false -Wrestrict).
inline std::string quoted(std::string_view s) {
    std::string text(1, '\'');
    text += s;
    text += '\'';
    return text;
}

}  // namespace quiltra::plugins

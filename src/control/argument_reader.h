// The argument text of a scanner command: items "key=value" separated by ";", and the
// comparison of names and keys without regard to ASCII case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quiltra {

// Where a key's value stands in the caller's argument text. Not found: no text, length 0.
struct ArgumentValue {
    const char* text = nullptr;  // the first character of the value, inside the argument text
    std::size_t length = 0;

    bool found() const { return text != nullptr; }
    std::string str() const { return found() ? std::string(text, length) : std::string(); }
};

// Equal without regard to the case of ASCII letters (nothing else is folded). A null text
// equals nothing.
bool equalsIgnoringCase(const char* a, std::string_view b);

// Finds `key` in `arguments`. Only the space character counts as a space. Leading spaces of
// the text are skipped; an item's key is the text before its "=", without its leading and
// trailing spaces, compared without regard to case. An item without "=" is skipped while
// no item after it has one; an item without "=" before one that has one ends the search
// ("mode;fill=5" finds no "fill"). The value runs from after the "=" to the next ";" or the
// end of the text and keeps its spaces ("fill= 7 ;x" gives " 7 "). An absent or empty text
// finds nothing.
ArgumentValue readArgument(const char* arguments, const char* key);

}  // namespace quiltra

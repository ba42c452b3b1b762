#include <locale.h>

#include <cstdio>
#include <cstdlib>

#include "platform/c_locale.h"

namespace quiltra::platform {

namespace {

// The "C" locale, made once and kept for the life of the process (a locale_t is a plain
// handle, so nothing runs when the library is unloaded).
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

int vsnprintfInCLocale(char* buffer, std::size_t size, const char* format, va_list args) {
    // uselocale switches the calling thread only; other threads and the host's global
    // locale are untouched.
    const locale_t previous = cLocale() != nullptr ? uselocale(cLocale()) : nullptr;
    const int result = std::vsnprintf(buffer, size, format, args);
    if (previous != nullptr) {
        uselocale(previous);
    }
    return result;
}

double strtodInCLocale(const char* text) {
    return cLocale() != nullptr ? strtod_l(text, nullptr, cLocale()) : std::strtod(text, nullptr);
}

}  // namespace quiltra::platform

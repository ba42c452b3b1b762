// Fixed-size texts: every text the library builds or copies into a buffer of stated size is
// cut at size - 1 characters and NUL-terminated, through these helpers only. Number
// formatting and parsing here are independent of the host's locale.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace quiltra::platform {

// Copies source (null counts as "") into buffer, cut to size - 1, NUL-terminated. Nothing
// when buffer is null or size is 0. Returns the number of characters copied.
std::size_t copyText(char* buffer, std::size_t size, const char* source);

// snprintf into a buffer of `size`; "%g" and "%.1f" always use '.' whatever the locale.
// Returns the number of characters written (cut to size - 1).
std::size_t formatText(char* buffer, std::size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
std::size_t formatTextV(char* buffer, std::size_t size, const char* format, va_list args);

// "%g" of a single-precision value, locale-independent ("0.123457", "1e+06").
std::string formatG(double value);

// atof without the locale: leading blanks, an optional sign, digits with an optional '.'
// fraction and an optional exponent; no number gives 0.
double parseFloat(const char* text);

// atoi that clamps instead of overflowing: leading blanks, an optional sign, decimal
// digits, stop at the first other character; no digits gives 0.
int parseInt(const char* text);

}  // namespace quiltra::platform

// The C library's number formatting and parsing in the "C" locale, whatever locale the host
// has set; the building blocks of fixed_text's locale independence.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace quiltra::platform {

// vsnprintf with '.' as the decimal point; the calling thread's locale is unchanged after.
int vsnprintfInCLocale(char* buffer, std::size_t size, const char* format, va_list args);
// strtod with '.' as the decimal point.
double strtodInCLocale(const char* text);

}  // namespace quiltra::platform

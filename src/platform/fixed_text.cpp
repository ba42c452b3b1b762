#include "platform/fixed_text.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/c_locale.h"

namespace quiltra::platform {

std::size_t copyText(char* buffer, std::size_t size, const char* source) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::size_t length = 0;
    if (source != nullptr) {
        while (length + 1 < size && source[length] != '\0') {
            ++length;
        }
        std::memcpy(buffer, source, length);
    }
    buffer[length] = '\0';
    return length;
}

std::size_t formatText(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::size_t written = formatTextV(buffer, size, format, args);
    va_end(args);
    return written;
}

std::string formatG(double value) {
    // to_chars with a precision is printf's "%.6g" in the "C" locale, by definition.
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
}

int parseInt(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    // The blanks isspace knows in the "C" locale.
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // Accumulated as a magnitude that stops growing just past the 32-bit range.
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (magnitude <= int64_t{INT_MAX} + 1) {
            magnitude = magnitude * 10 + (*text - '0');
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

std::size_t formatTextV(char* buffer, std::size_t size, const char* format, va_list args) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const int result = vsnprintfInCLocale(buffer, size, format, args);
    if (result < 0) {
        buffer[0] = '\0';
        return 0;
    }
    const auto length = static_cast<std::size_t>(result);
    if (length >= size) {
        buffer[size - 1] = '\0';  // vsnprintf cut it already; this keeps any CRT honest
        return size - 1;
    }
    return length;
}

double parseFloat(const char* text) {
    return text == nullptr ? 0.0 : strtodInCLocale(text);
}

}  // namespace quiltra::platform

#include "console.h"

#include <cstdarg>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quiltra::grab {

void Console::clearProgressLocked() {
    if (progressShown_) {
        std::fputs("\r\033[K", stderr);
        progressShown_ = false;
    }
}

void Console::out(const std::string& line) {
    std::lock_guard lock(mutex_);
    clearProgressLocked();
    std::fflush(stderr);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Console::err(const std::string& line) {
    std::lock_guard lock(mutex_);
    clearProgressLocked();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void Console::progress(const std::string& line) {
    if (!showProgress_) {
        return;
    }
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void Console::endProgress() {
    std::lock_guard lock(mutex_);
    clearProgressLocked();
    std::fflush(stderr);
}

bool standardErrorIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

std::string format(const char* pattern, ...) {
    char text[1024];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

}  // namespace quiltra::grab

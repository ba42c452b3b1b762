#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/c_locale.h"

namespace quiltra::platform {

namespace {

// The CRT's "C" locale, made once and kept for the life of the process.
_locale_t cLocale() {
    static const _locale_t locale = _create_locale(LC_NUMERIC, "C");
    return locale;
}

bool decimalPointIsDot() {
    const char* point = localeconv()->decimal_point;
    return point != nullptr && point[0] == '.' && point[1] == '\0';
}

// While the calling thread's numeric locale is not "C", switches this thread alone to it
// (a per-thread CRT locale) for the lifetime of the object, then restores both the
// thread's locale and its per-thread setting.
class ThreadCLocale {
public:
    ThreadCLocale() {
        if (decimalPointIsDot()) {
            return;
        }
        previousMode_ = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
        const char* current = setlocale(LC_NUMERIC, nullptr);
        previousName_ = current != nullptr ? current : "C";
        setlocale(LC_NUMERIC, "C");
        switched_ = true;
    }
    ~ThreadCLocale() {
        if (switched_) {
            setlocale(LC_NUMERIC, previousName_.c_str());
            _configthreadlocale(previousMode_);
        }
    }
    ThreadCLocale(const ThreadCLocale&) = delete;
    ThreadCLocale& operator=(const ThreadCLocale&) = delete;

private:
    bool switched_ = false;
    int previousMode_ = 0;
    std::string previousName_;
};

}  // namespace

int vsnprintfInCLocale(char* buffer, std::size_t size, const char* format, va_list args) {
    ThreadCLocale cLocaleHere;
    return std::vsnprintf(buffer, size, format, args);
}

double strtodInCLocale(const char* text) {
    return cLocale() != nullptr ? _strtod_l(text, nullptr, cLocale()) : std::strtod(text, nullptr);
}

}  // namespace quiltra::platform

// quiltra-grab's output: messages from any thread (the driver's debug messages arrive on its
// threads) and one progress line on standard error that other output never mixes with.
#pragma once

#include <mutex>
#include <string>

namespace quiltra::grab {

class Console {
public:
    // showProgress: keep a progress line at the bottom of standard error.
    explicit Console(bool showProgress) : showProgress_(showProgress) {}

    // A line on standard output (results) or standard error (messages, errors).
    void out(const std::string& line);
    void err(const std::string& line);
    // Replaces the progress line; nothing unless progress is shown.
    void progress(const std::string& line);
    // Removes the progress line.
    void endProgress();

private:
    void clearProgressLocked();

    const bool showProgress_;
    std::mutex mutex_;  // guards the writes and progressShown_
    bool progressShown_ = false;
};

// True when standard error is a terminal.
bool standardErrorIsTerminal();

// printf into a string (up to 1023 characters).
std::string format(const char* pattern, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace quiltra::grab

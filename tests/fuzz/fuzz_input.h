// What every fuzz target shares: a reader that decodes one input into texts, numbers and
// choices, and the entry point both libFuzzer and the corpus replay call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace quiltra::fuzz {

// Reads an input from the front. Texts end at a NUL byte (or the end of the input), so the
// seed files stay readable; numbers are one to four raw bytes. Past the end everything reads
// as empty or 0.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : data_(reinterpret_cast<const char*>(data)), size_(size) {}

    bool empty() const { return at_ >= size_; }

    std::uint8_t byte() { return empty() ? 0 : static_cast<std::uint8_t>(data_[at_++]); }

    // A little-endian 32-bit value from the next four bytes.
    std::int32_t int32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return static_cast<std::int32_t>(value);
    }

    // The bytes up to the next NUL, which is consumed.
    std::string text() {
        const std::size_t start = at_;
        const void* nul = empty() ? nullptr : std::memchr(data_ + at_, '\0', size_ - at_);
        const std::size_t end =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data_)
                           : size_;
        at_ = nul != nullptr ? end + 1 : size_;
        return std::string(data_ + start, end - start);
    }

private:
    const char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// `text` with every LF turned into CR LF.
inline std::string withCrLf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

// Stops the run with a message when an invariant does not hold: libFuzzer keeps the input
// as a crash, and the replay program fails.
inline void check(bool holds, const char* what, const std::string& detail = "") {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

}  // namespace quiltra::fuzz

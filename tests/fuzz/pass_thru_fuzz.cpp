// The pass-through list of a scanner: an arbitrary scan count, then an arbitrary list text.
// Input: the scan count in decimal on the first line, the list text after it. The list must
// hold, in order, exactly the scans a reading of the text by other means names.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/scanner_builder.h"
#include "fuzz_input.h"
#include "scanner/scanner.h"

namespace {

using quiltra::fuzz::check;

// Each comma-separated item read as a decimal number with the C library (leading blanks and
// a sign allowed, clamped to 32 bits, no digits reading as 0); a comma that ends the text
// ends the list. Kept when it names a scan: n for scan n, -n for count + 1 - n, 0 for all.
std::vector<std::int32_t> expectedList(const std::string& text, std::int32_t count) {
    std::vector<std::int32_t> list;
    if (text.empty() || text == "-") {
        return list;
    }
    for (std::size_t at = 0;;) {
        const std::size_t comma = text.find(',', at);
        const std::string item =
            text.substr(at, comma == std::string::npos ? text.npos : comma - at);
        errno = 0;
        long long value = std::strtoll(item.c_str(), nullptr, 10);
        value = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value;
        if ((value < 0 ? -value : value) <= count) {
            list.push_back(static_cast<std::int32_t>(value < 0 ? value + count + 1 : value));
        }
        if (comma == std::string::npos || comma + 1 == text.size()) {
            return list;
        }
        at = comma + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static quiltra::Scanner scanner(nullptr, "Scanner0001", 0, 10);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string countText(input.substr(0, lineEnd));
    // The list ends at a NUL as the C text the library is given would.
    std::string text(lineEnd == input.npos ? std::string_view() : input.substr(lineEnd + 1));
    text = text.c_str();

    const auto scans = static_cast<std::uint32_t>(std::strtoull(countText.c_str(), nullptr, 10));
    scanner.setScanCount(scans);
    const int entries = quiltra::setPassThruList(scanner, text.c_str());

    std::lock_guard guard(scanner.lock);
    const std::vector<std::int32_t> expected =
        expectedList(text, static_cast<std::int32_t>(scanner.scanCount));
    check(entries == static_cast<int>(scanner.passThru.size()), "the count is the list's size");
    check(scanner.passThru == expected, "the list names the scans of the text", text);
    return 0;
}

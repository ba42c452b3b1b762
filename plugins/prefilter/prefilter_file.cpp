#include "prefilter_file.h"

#include <array>
#include <fstream>
#include <iterator>

#include "text_line.h"

namespace quiltra::prefilter {
namespace {

constexpr std::string_view kFormatName = "quiltra-prefilter";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

using plugins::isBlank;
using plugins::quoted;
using plugins::trim;

// A plain decimal number: an optional sign (when `signedValue`), 1 to 9 digits, and
// optionally a point and 1 to 9 digits. No exponent, no locale.
bool toDecimal(std::string_view word, bool signedValue, double& value) {
    bool negative = false;
    if (signedValue && !word.empty() && (word.front() == '+' || word.front() == '-')) {
        negative = word.front() == '-';
        word.remove_prefix(1);
    }
    const std::size_t point = word.find('.');
    const std::string_view whole = word.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : word.substr(point + 1);
    if (whole.empty() || whole.size() > 9 ||
        (point != std::string_view::npos && (fraction.empty() || fraction.size() > 9))) {
        return false;
    }
    int64_t digits = 0;
    int64_t scale = 1;
    for (char c : whole) {
        if (!isDigit(c)) {
            return false;
        }
        digits = digits * 10 + (c - '0');
    }
    for (char c : fraction) {
        if (!isDigit(c)) {
            return false;
        }
        digits = digits * 10 + (c - '0');
        scale *= 10;
    }
    value = double(digits) / double(scale);
    if (negative) {
        value = -value;
    }
    return true;
}

// A whole number 0..255 without sign, as written in a threshold or an image header.
bool toByte(std::string_view word, int& value) {
    if (word.empty() || word.size() > 3) {
        return false;
    }
    value = 0;
    for (char c : word) {
        if (!isDigit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= 255;
}

enum Key { kDark, kFlat, kGain, kOffset, kFilter, kThreshold, kKeyCount };
constexpr std::array<std::string_view, kKeyCount> kKeyNames = {"dark",   "flat",   "gain",
                                                               "offset", "filter", "threshold"};

int findKey(std::string_view name) {
    for (int k = 0; k < kKeyCount; ++k) {
        if (kKeyNames[k] == name) {
            return k;
        }
    }
    return -1;
}

// Sets one key of the operations from its value; sets `error` on a bad value.
bool setOperation(Key key, std::string_view value, Operations& operations, std::string& error) {
    bool good = false;
    switch (key) {
        case kGain:
            good = toDecimal(value, false, operations.gain) && operations.gain <= kMaxGain;
            break;
        case kOffset:
            good = toDecimal(value, true, operations.offset) && operations.offset >= -kMaxOffset &&
                   operations.offset <= kMaxOffset;
            break;
        case kFilter:
            good = true;
            if (value == "none") {
                operations.filter = Filter::kNone;
            } else if (value == "median3") {
                operations.filter = Filter::kMedian3;
            } else if (value == "box3") {
                operations.filter = Filter::kBox3;
            } else {
                good = false;
            }
            break;
        case kThreshold:
            if (value == "none") {
                operations.threshold = kNoThreshold;
                good = true;
            } else {
                good = toByte(value, operations.threshold);
            }
            break;
        default:
            break;
    }
    if (!good) {
        static constexpr std::array<std::string_view, kKeyCount> kExpected = {
            "",
            "",
            "a number from 0 to 255",
            "a number from -255 to 255",
            "none, median3 or box3",
            "none or a whole number from 0 to 255"};
        error = quoted(kKeyNames[key]) + " must be " + std::string(kExpected[key]) + ", found " +
                quoted(value);
    }
    return good;
}

// A key=value item of either form: the key's index, or -1 with `error` set.
int readKey(std::string_view item, std::string_view& value, std::string& error) {
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
        error = "expected 'key = value', found " + quoted(item);
        return -1;
    }
    const std::string_view name = trim(item.substr(0, equals));
    value = trim(item.substr(equals + 1));
    const int key = findKey(name);
    if (key < 0) {
        error = "unknown key " + quoted(name);
    }
    return key;
}

}  // namespace

bool parse(std::string_view text, Settings& settings, std::string& error) {
    settings = Settings{};
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::array<bool, kKeyCount> seen{};
    bool versionSeen = false;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        // No control characters but the tab: a stray CR or NUL is a damaged file, and would
        // otherwise end up in a file name.
        for (char c : line) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F') {
                error = where + "a control character (code " +
                        std::to_string(static_cast<unsigned char>(c)) + ")";
                return false;
            }
        }
        line = trim(line);
        if (!versionSeen) {
            // The first line names the format and its version.
            const std::string_view version =
                trim(line.substr(std::min(line.size(), kFormatName.size())));
            int number = 0;
            if (line.substr(0, kFormatName.size()) != kFormatName ||
                line.size() == kFormatName.size() || !isBlank(line[kFormatName.size()]) ||
                !toByte(version, number)) {
                error = where + "the first line must be '" + std::string(kFormatName) + " " +
                        std::to_string(kFormatVersion) + "', found " + quoted(line);
                return false;
            }
            if (number != kFormatVersion) {
                error = where + "format version " + std::to_string(number) +
                        " is not known (this reader knows " + std::to_string(kFormatVersion) + ")";
                return false;
            }
            versionSeen = true;
            continue;
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string_view value;
        const int key = readKey(line, value, error);
        if (key < 0) {
            error = where + error;
            return false;
        }
        if (seen[key]) {
            error = where + quoted(kKeyNames[key]) + " given twice";
            return false;
        }
        seen[key] = true;
        if (key == kDark || key == kFlat) {
            if (value.empty()) {
                error = where + quoted(kKeyNames[key]) + " needs a file name";
                return false;
            }
            (key == kDark ? settings.dark : settings.flat) = std::string(value);
        } else if (!setOperation(Key(key), value, settings.operations, error)) {
            error = where + error;
            return false;
        }
    }
    if (!versionSeen) {
        error = "the file is empty; its first line must be '" + std::string(kFormatName) + " " +
                std::to_string(kFormatVersion) + "'";
        return false;
    }
    return true;
}

bool applyOptions(std::string_view options, Operations& operations, std::string& error) {
    std::array<bool, kKeyCount> seen{};
    while (!options.empty()) {
        const std::size_t end = options.find(';');
        const std::string_view item = trim(options.substr(0, end));
        options.remove_prefix(end == std::string_view::npos ? options.size() : end + 1);
        if (item.empty()) {
            continue;
        }
        std::string_view value;
        const int key = readKey(item, value, error);
        if (key < 0) {
            return false;
        }
        if (key == kDark || key == kFlat) {
            error = quoted(kKeyNames[key]) + " can be set in the prefilter file only";
            return false;
        }
        if (seen[key]) {
            error = quoted(kKeyNames[key]) + " given twice";
            return false;
        }
        seen[key] = true;
        if (!setOperation(Key(key), value, operations, error)) {
            return false;
        }
    }
    return true;
}

bool parseImage(std::string_view bytes, Image& image, std::string& error) {
    image = Image{};
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) {
        error = "not a binary PGM (P5) or PPM (P6) image";
        return false;
    }
    image.channels = bytes[1] == '5' ? 1 : 3;
    std::size_t at = 2;
    // Width, height and maximum value, each after white space and comments.
    std::array<int64_t, 3> fields{};
    for (int64_t& field : fields) {
        const std::size_t before = at;
        while (at < bytes.size()) {
            const char c = bytes[at];
            if (c == '#') {
                while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r') {
                    ++at;
                }
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++at;
            } else {
                break;
            }
        }
        const std::size_t start = at;
        while (at < bytes.size() && isDigit(bytes[at]) && at - start < 7) {
            field = field * 10 + (bytes[at++] - '0');
        }
        if (start == before || at == start || at >= bytes.size() ||
            (bytes[at] != ' ' && bytes[at] != '\t' && bytes[at] != '\n' && bytes[at] != '\r' &&
             bytes[at] != '\v' && bytes[at] != '\f')) {
            error = "the image header is malformed";
            return false;
        }
    }
    ++at;  // the single white-space byte before the pixels
    if (fields[2] != 255) {
        error =
            "the image's maximum value must be 255 (8 bits), found " + std::to_string(fields[2]);
        return false;
    }
    if (fields[0] < 1 || fields[1] < 1 || fields[0] > kMaxSide || fields[1] > kMaxSide ||
        fields[0] * fields[1] > kMaxPixels) {
        error = "the image size " + std::to_string(fields[0]) + " x " + std::to_string(fields[1]) +
                " is out of range";
        return false;
    }
    const auto size = std::size_t(fields[0] * fields[1] * image.channels);
    if (bytes.size() - at != size) {
        error = "the image holds " + std::to_string(bytes.size() - at) + " pixel bytes, " +
                std::to_string(size) + " expected";
        return false;
    }
    image.columns = int(fields[0]);
    image.rows = int(fields[1]);
    image.pixels.assign(bytes.begin() + std::ptrdiff_t(at), bytes.end());
    return true;
}

bool readBytes(const std::string& path, std::size_t limit, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + quoted(path);
        return false;
    }
    bytes.clear();
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (bytes.size() + std::size_t(in.gcount()) > limit) {
            error = quoted(path) + " is larger than " + std::to_string(limit) + " bytes";
            return false;
        }
        bytes.append(buffer, std::size_t(in.gcount()));
    }
    if (in.bad()) {
        error = "cannot read " + quoted(path);
        return false;
    }
    return true;
}

}  // namespace quiltra::prefilter

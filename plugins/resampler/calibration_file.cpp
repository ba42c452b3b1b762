#include "calibration_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "text_line.h"

namespace quiltra::calibration {
namespace {

constexpr std::string_view kFormatName = "quiltra-calibration";
// No calibration file is anywhere near this size; a larger file is the wrong file.
constexpr std::size_t kMaxFileBytes = 1 << 20;

using plugins::isBlank;
using plugins::quoted;
using plugins::trim;

std::vector<std::string_view> split(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i])) {
            ++i;
        }
        std::size_t start = i;
        while (i < s.size() && !isBlank(s[i])) {
            ++i;
        }
        if (i > start) {
            words.push_back(s.substr(start, i - start));
        }
    }
    return words;
}

// A decimal number as strtod reads it in the C locale, independent of the process locale;
// a number beyond the range of double reads as infinity, as strtod gives it.
bool toDouble(std::string_view word, double& value) {
    if (!word.empty() && word.front() == '+') {
        word.remove_prefix(1);
        if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
            return false;
        }
    }
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, value);
    if (ec == std::errc::result_out_of_range && ptr == end) {
        // Too small reads as 0 (or a denormal) in strtod, too large as infinity.
        std::size_t e = word.find_first_of("eE");
        bool tiny = e != std::string_view::npos && e + 1 < word.size() && word[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        return true;
    }
    return ec == std::errc() && ptr == end;
}

bool toInt(std::string_view word, int& value) {
    if (!word.empty() && word.front() == '+') {
        word.remove_prefix(1);
    }
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Reads exactly values.size() finite numbers from `words`; sets `error` on failure.
template <std::size_t N>
bool readNumbers(const std::vector<std::string_view>& words, std::string_view key,
                 std::array<double, N>& values, std::string& error) {
    if (words.size() != N) {
        error = quoted(key) + " needs " + std::to_string(N) + " numbers, found " +
                std::to_string(words.size());
        return false;
    }
    for (std::size_t i = 0; i < N; ++i) {
        if (!toDouble(words[i], values[i])) {
            error = quoted(key) + ": " + quoted(words[i]) + " is not a number";
            return false;
        }
        if (!std::isfinite(values[i])) {
            error = quoted(key) + ": " + quoted(words[i]) + " is not a finite number";
            return false;
        }
    }
    return true;
}

// |det| tiny relative to the matrix's scale (judged on the matrix scaled to entries <= 1).
bool isSingular(const std::array<double, 9>& homography) {
    double scale = 0.0;
    for (double v : homography) {
        scale = std::max(scale, std::fabs(v));
    }
    if (scale == 0.0) {
        return true;
    }
    std::array<double, 9> h{};
    for (std::size_t i = 0; i < h.size(); ++i) {
        h[i] = homography[i] / scale;
    }
    double det = h[0] * (h[4] * h[8] - h[5] * h[7]) - h[1] * (h[3] * h[8] - h[5] * h[6]) +
                 h[2] * (h[3] * h[7] - h[4] * h[6]);
    return !(std::fabs(det) > 1e-12);
}

enum Key { kFormat, kUnits, kImage, kHomography, kLens, kDistortion, kKeyCount };
constexpr std::array<std::string_view, kKeyCount> kKeyNames = {"format",     "units", "image",
                                                               "homography", "lens",  "distortion"};

// Reads the value of one key into `model`; sets `error` (without the line) on failure.
bool readValue(Key key, std::string_view value, Model& model, std::string& error) {
    std::vector<std::string_view> words = split(value);
    switch (key) {
        case kFormat: {
            int version = 0;
            if (words.size() != 2 || words[0] != kFormatName || !toInt(words[1], version)) {
                error = "'format' must be '" + std::string(kFormatName) + " " +
                        std::to_string(kFormatVersion) + "', found " + quoted(value);
                return false;
            }
            if (version != kFormatVersion) {
                error = "format version " + std::to_string(version) +
                        " is not supported (this program reads version " +
                        std::to_string(kFormatVersion) + ")";
                return false;
            }
            return true;
        }
        case kUnits: {
            bool letters = words.size() == 1 && words[0].size() <= 15;
            for (char c : value) {
                letters = letters && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
            }
            if (!letters) {
                error = "'units' must be one name of 1 to 15 letters, found " + quoted(value);
                return false;
            }
            model.units = std::string(words[0]);
            return true;
        }
        case kImage:
            if (words.size() != 2 || !toInt(words[0], model.imageColumns) ||
                !toInt(words[1], model.imageRows) || model.imageColumns <= 0 ||
                model.imageRows <= 0) {
                error =
                    "'image' must be the image's columns and rows, two whole numbers > 0, "
                    "found " +
                    quoted(value);
                return false;
            }
            return true;
        case kHomography:
            if (!readNumbers(words, kKeyNames[key], model.homography, error)) {
                return false;
            }
            if (isSingular(model.homography)) {
                error = "the homography is singular";
                return false;
            }
            return true;
        case kLens: {
            std::array<double, 4> lens{};
            if (!readNumbers(words, kKeyNames[key], lens, error)) {
                return false;
            }
            if (!(lens[0] > 0.0) || !(lens[1] > 0.0)) {
                error = "'lens': fx and fy must be > 0";
                return false;
            }
            model.hasLens = true;
            model.fx = lens[0];
            model.fy = lens[1];
            model.cx = lens[2];
            model.cy = lens[3];
            return true;
        }
        case kDistortion:
            return readNumbers(words, kKeyNames[key], model.distortion, error);
        case kKeyCount:
            break;
    }
    return false;
}

bool hasDistortion(const Model& model) {
    for (double d : model.distortion) {
        if (d != 0.0) {
            return true;
        }
    }
    return false;
}

void appendNumber(std::string& out, double value) {
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? ptr : buffer);
}

template <std::size_t N>
void appendLine(std::string& out, std::string_view key, const std::array<double, N>& values) {
    out += key;
    out += " =";
    for (double v : values) {
        out += ' ';
        appendNumber(out, v);
    }
    out += '\n';
}

// The smallest normalised r^2 > 0 at which r (1 + k1 r^2 + k2 r^4 + k3 r^6) stops growing
// with r, or infinity when it grows over the whole range a lens can have.
double foldRadius2(const std::array<double, 5>& d) {
    auto slope = [&](double s) {
        return 1.0 + s * (3.0 * d[0] + s * (5.0 * d[1] + s * 7.0 * d[4]));
    };
    constexpr double kRange = 100.0;  // r = 10: far wider than any lens's view
    constexpr int kSteps = 4096;
    double previous = 0.0;
    for (int i = 1; i <= kSteps; ++i) {
        double t = static_cast<double>(i) / kSteps;
        double s = t * t * kRange;
        if (slope(s) <= 0.0) {
            double low = previous;
            double high = s;
            for (int k = 0; k < 60; ++k) {
                double mid = 0.5 * (low + high);
                (slope(mid) > 0.0 ? low : high) = mid;
            }
            return low;
        }
        previous = s;
    }
    return std::numeric_limits<double>::infinity();
}

}  // namespace

bool parse(std::string_view text, Model& model, std::string& error) {
    model = Model{};
    std::array<int, kKeyCount> seenOnLine{};
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);  // a UTF-8 byte order mark, as some editors write
    }
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string where = "line " + std::to_string(lineNumber) + ": ";
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            error = where + "expected 'key = value', found " + quoted(line);
            return false;
        }
        std::string_view name = trim(line.substr(0, equals));
        std::string_view value = trim(line.substr(equals + 1));
        int key = 0;
        while (key < kKeyCount && kKeyNames[key] != name) {
            ++key;
        }
        if (key == kKeyCount) {
            error = where + "unknown key " + quoted(name);
            return false;
        }
        if (seenOnLine[key] != 0) {
            error = where + quoted(name) + " repeats the key of line " +
                    std::to_string(seenOnLine[key]);
            return false;
        }
        if (key != kFormat && seenOnLine[kFormat] == 0) {
            error = where + "the first key must be 'format', found " + quoted(name);
            return false;
        }
        seenOnLine[key] = lineNumber;
        if (!readValue(static_cast<Key>(key), value, model, error)) {
            error = where + error;
            return false;
        }
    }
    for (Key key : {kFormat, kUnits, kImage, kHomography}) {
        if (seenOnLine[key] == 0) {
            error = "the required key " + quoted(kKeyNames[key]) + " is missing";
            return false;
        }
    }
    if (!model.hasLens && hasDistortion(model)) {
        error = "line " + std::to_string(seenOnLine[kDistortion]) +
                ": 'distortion' is not all 0, so the file needs a 'lens' line";
        return false;
    }
    return true;
}

bool readFile(const std::string& path, Model& model, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + quoted(path);
        return false;
    }
    std::string text;
    text.resize(kMaxFileBytes + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        error = "cannot read " + quoted(path);
        return false;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxFileBytes) {
        error = quoted(path) + " is larger than " + std::to_string(kMaxFileBytes) +
                " bytes: not a calibration file";
        return false;
    }
    if (!parse(text, model, error)) {
        error = quoted(path) + ", " + error;
        return false;
    }
    return true;
}

std::string format(const Model& model) {
    std::string out =
        "format = " + std::string(kFormatName) + " " + std::to_string(kFormatVersion) + "\n";
    out += "units = " + model.units + "\n";
    out += "image = " + std::to_string(model.imageColumns) + " " + std::to_string(model.imageRows) +
           "\n";
    appendLine(out, "homography", model.homography);
    if (model.hasLens) {
        appendLine(out, "lens", std::array<double, 4>{model.fx, model.fy, model.cx, model.cy});
    }
    if (model.hasLens || hasDistortion(model)) {
        appendLine(out, "distortion", model.distortion);
    }
    return out;
}

Projection::Projection(const Model& model)
    : model_(model),
      distorted_(model.hasLens && hasDistortion(model)),
      maxRadius2_(distorted_ ? foldRadius2(model.distortion)
                             : std::numeric_limits<double>::infinity()) {}

bool Projection::toPixel(double x, double y, double& u, double& v) const {
    const std::array<double, 9>& h = model_.homography;
    double w = h[6] * x + h[7] * y + h[8];
    if (!(w > 0.0)) {
        return false;
    }
    u = (h[0] * x + h[1] * y + h[2]) / w;
    v = (h[3] * x + h[4] * y + h[5]) / w;
    if (distorted_) {
        const std::array<double, 5>& d = model_.distortion;
        double a = (u - model_.cx) / model_.fx;
        double b = (v - model_.cy) / model_.fy;
        double r2 = a * a + b * b;
        if (!(r2 < maxRadius2_)) {
            return false;
        }
        double k = 1.0 + r2 * (d[0] + r2 * (d[1] + r2 * d[4]));
        double a2 = a * k + 2.0 * d[2] * a * b + d[3] * (r2 + 2.0 * a * a);
        double b2 = b * k + d[2] * (r2 + 2.0 * b * b) + 2.0 * d[3] * a * b;
        u = model_.cx + model_.fx * a2;
        v = model_.cy + model_.fy * b2;
    }
    return std::isfinite(u) && std::isfinite(v);
}

}  // namespace quiltra::calibration

#include "profile_cases.h"

#include <climits>
#include <initializer_list>
#include <utility>

namespace quiltra::test {
namespace {

// SplitMix64: small, fast and fully specified, so both targets draw the same numbers.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n - 1.
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool percent(int p) { return below(100) < p; }
    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(static_cast<int>(N))];
    }
    template <typename T>
    T pick(std::initializer_list<T> items) {
        return items.begin()[below(static_cast<int>(items.size()))];
    }

private:
    std::uint64_t state_;
};

const char* const kSections[] = {"Config", "Scanner0001", "Scanner0001.Camera1", "A", "b"};
const char* const kKeys[] = {"Key", "Verbose", "Cameras", "Value", "x", "Long"};
const char* const kBlanks[] = {"", "", "", " ", "\t", "  ", " \t "};
const char* const kWords[] = {"a.dll", "some value", "text", "a=b", "a ; not a comment", "x"};

// A name with some letters in the other case.
std::string caseVariant(Random& random, std::string name) {
    if (random.percent(70)) {
        return name;
    }
    for (char& c : name) {
        if (random.percent(50)) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            } else if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    }
    return name;
}

std::string digits(Random& random, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>('0' + random.below(10));
    }
    return text;
}

// Integers as a file may hold them: blanks, signs, junk after the digits, hex, overflow.
std::string integerText(Random& random) {
    const char* const signs[] = {"", "", "", "-", "+"};
    const char* const junk[] = {"", "", "", "abc", " 5", "x", ".5", "-3"};
    std::string text = random.pick(kBlanks);
    text += random.pick(signs);
    switch (random.below(8)) {
        case 0:
            text += random.percent(50) ? "0x" : "0X";
            text += random.pick({"10", "1F", "ff", "", "g"});
            break;
        case 1:
            text += digits(random, 10 + random.below(4));  // beyond 32 bits, mostly
            break;
        case 2:
            text += random.pick({"2147483647", "2147483648", "4294967295", "4294967296",
                                 "4294967297", "2147483649"});
            break;
        case 3:
            break;  // a sign or junk alone
        default:
            text += digits(random, 1 + random.below(5));
            break;
    }
    return text + random.pick(junk);
}

std::string quotedText(Random& random) {
    const char* const inner[] = {"v", "", " x ", "a\"b", "it's", "5", "a dll"};
    const char* const shapes[] = {"\"%\"", "'%'",  "\"%",       "%\"",     "'%",
                                  "\"%'",  "'%\"", "\"\"%\"\"", "'\"%\"'", "\"'%'\""};
    std::string shape = random.pick(shapes);
    const std::size_t at = shape.find('%');
    return shape.replace(at, 1, random.pick(inner));
}

// A value as it may stand in a file or be written; `size` is near a buffer size read with.
std::string valueText(Random& random) {
    switch (random.below(9)) {
        case 0:
        case 1:
            return integerText(random);
        case 2:
        case 3:
            return quotedText(random);
        case 4:
            return random.pick({"", " ", "\t"});
        case 5: {
            const int sizes[] = {255, 256, 257, 299, 300, 1023, 1024};
            return std::string(static_cast<std::size_t>(random.pick(sizes) - 2 + random.below(4)),
                               static_cast<char>('a' + random.below(26)));
        }
        default:
            return random.pick(kWords);
    }
}

std::string sectionName(Random& random) {
    return caseVariant(random, random.pick(kSections));
}

std::string keyName(Random& random) {
    return caseVariant(random, random.pick(kKeys));
}

// The section and key names a generated file holds, for operations to aim at.
struct Names {
    std::vector<std::pair<std::string, std::string>> keys;
    std::string section;
};

std::string headerLine(Random& random, Names& names) {
    const std::string name = sectionName(random);
    names.section = name;
    switch (random.below(12)) {
        case 0:
            return "[ " + name + " ]";
        case 1:
            return random.pick(kBlanks) + ("[" + name + "]") + random.pick(kBlanks);
        case 2:
            return "[" + name + "] ; note";
        case 3:
            return "[" + name;
        case 4:
            return "[" + name + "]]";
        default:
            return "[" + name + "]";
    }
}

std::string otherLine(Random& random) {
    switch (random.below(9)) {
        case 0:
            return "; a comment";
        case 1:
            return "# a comment";
        case 2:
            return std::string(random.pick(kBlanks)) + ";" + keyName(random) + "=1";
        case 3:
            return "";
        case 4:
            return random.pick({" ", "\t", "  \t"});
        case 5:
            return random.pick({"justtext", "a line without an equals sign"});
        case 6:
            return keyName(random);  // a known name without '='
        case 7:
            return std::string(random.pick(kBlanks)) + "=" + valueText(random);  // an empty name
        default:
            return keyName(random) + random.pick(kBlanks) + "=";
    }
}

std::string keyLine(Random& random, Names& names) {
    const std::string key = keyName(random);
    names.keys.emplace_back(names.section, key);
    return random.pick(kBlanks) + key + random.pick(kBlanks) + "=" + random.pick(kBlanks) +
           valueText(random) + random.pick(kBlanks);
}

std::string fileText(Random& random, Names& names) {
    std::vector<std::string> lines;
    if (random.percent(15)) {
        lines.push_back(random.percent(50) ? keyLine(random, names) : otherLine(random));
    }
    const int sections = random.below(5);
    for (int s = 0; s < sections; ++s) {
        lines.push_back(headerLine(random, names));
        const int count = random.below(6);
        for (int k = 0; k < count; ++k) {
            lines.push_back(random.percent(70) ? keyLine(random, names) : otherLine(random));
        }
    }
    const int lineEnds = random.below(3);  // LF, CRLF, each line either
    std::string text = random.percent(10) ? "\xEF\xBB\xBF" : "";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 == lines.size() && random.percent(20)) {
            break;  // no final line end
        }
        const bool crlf = lineEnds == 1 || (lineEnds == 2 && random.percent(50));
        text += crlf ? "\r\n" : "\n";
    }
    return text;
}

// A name as a caller passes it: usually one of the file's, now and then in blanks or new.
std::string callerName(Random& random, bool section) {
    if (random.percent(8)) {
        return std::string(section ? "NewSection" : "NewKey") + std::to_string(random.below(3));
    }
    std::string name = section ? sectionName(random) : keyName(random);
    if (random.percent(8)) {
        name = random.pick(kBlanks) + name + random.pick(kBlanks);
    }
    return name;
}

ProfileOp makeOp(Random& random, const Names& names) {
    ProfileOp op;
    op.section = callerName(random, true);
    op.key = callerName(random, false);
    if (!names.keys.empty() && random.percent(50)) {
        // A key the file holds, as it names it or in other letter case.
        const auto& [section, key] =
            names.keys[static_cast<std::size_t>(random.below(static_cast<int>(names.keys.size())))];
        op.section = caseVariant(random, section);
        op.key = caseVariant(random, key);
    }
    switch (random.below(10)) {
        case 0:
        case 1:
        case 2:
        case 3: {
            op.kind = ProfileOp::Kind::getString;
            const std::optional<std::string> defaults[] = {"def",        "def  ",  "",
                                                           std::nullopt, "  lead", "d e"};
            op.text = random.pick(defaults);
            const int sizes[] = {1, 2, 3, 4, 5, 8, 16, 64, 256, 300, 1024, 2000};
            op.number = random.pick(sizes);
            break;
        }
        case 4:
        case 5:
            op.kind = ProfileOp::Kind::getInt;
            op.number = random.pick({-99, 0, 7, -1, INT_MIN, INT_MAX});
            break;
        default:
            op.kind = random.percent(70) ? ProfileOp::Kind::write : ProfileOp::Kind::edit;
            op.text = random.percent(6) ? std::nullopt : std::optional(valueText(random));
            if (op.text && random.percent(6)) {
                *op.text += random.pick({"\n[Evil]\nx=1", "\r\nnext", "\nrest"});
            }
            if (random.percent(3)) {
                op.key.reset();
                op.text.reset();
            }
            break;
    }
    return op;
}

}  // namespace

ProfileCase makeProfileCase(std::uint64_t seed, std::uint64_t index) {
    Random random(seed * 0x100000001B3ull ^ index);
    random.next();
    ProfileCase result;
    Names names;
    if (random.percent(92)) {
        result.file = fileText(random, names);
    }
    const int count = 1 + random.below(8);
    for (int i = 0; i < count; ++i) {
        result.ops.push_back(makeOp(random, names));
        const ProfileOp& op = result.ops.back();
        // A line break written into the file ends the case: the two files then hold
        // different lines by rule, and later reads would only repeat that difference.
        if (op.text && op.text->find_first_of("\r\n") != std::string::npos) {
            break;
        }
    }
    return result;
}

}  // namespace quiltra::test

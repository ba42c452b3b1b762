#include "profile_transcript.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

namespace quiltra::test {
namespace {

const char* kindName(ProfileOp::Kind kind) {
    switch (kind) {
        case ProfileOp::Kind::getString:
            return "getString";
        case ProfileOp::Kind::getInt:
            return "getInt";
        case ProfileOp::Kind::write:
            return "write";
        case ProfileOp::Kind::edit:
            return "edit";
    }
    return "?";
}

// The tokens of a line after its record letter; "=" splits arguments from results.
void parseTokens(const std::string& line, std::size_t at, std::vector<Token>& before,
                 std::vector<Token>& after) {
    std::vector<Token>* into = &before;
    auto fail = [&line](const char* what) {
        throw std::runtime_error(std::string("transcript: ") + what +
                                 " in: " + line.substr(0, 200));
    };
    while (at < line.size()) {
        if (line[at] == ' ') {
            ++at;
        } else if (line[at] == '=') {
            into = &after;
            ++at;
        } else if (line[at] == '-') {
            into->emplace_back(std::nullopt);
            ++at;
        } else if (line[at] == '"') {
            std::string text;
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] != '\\') {
                    text += line[at];
                    continue;
                }
                if (++at >= line.size()) {
                    fail("a cut escape");
                }
                switch (line[at]) {
                    case 'n':
                        text += '\n';
                        break;
                    case 'r':
                        text += '\r';
                        break;
                    case 't':
                        text += '\t';
                        break;
                    case 'x':
                        if (at + 2 >= line.size()) {
                            fail("a cut escape");
                        }
                        text += static_cast<char>(std::stoi(line.substr(at + 1, 2), nullptr, 16));
                        at += 2;
                        break;
                    default:
                        text += line[at];
                        break;
                }
            }
            if (at >= line.size()) {
                fail("an unclosed text");
            }
            ++at;
            into->emplace_back(std::move(text));
        } else {
            fail("an unknown token");
        }
    }
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

bool isBlankLine(const std::string& line) {
    return line.find_first_not_of(" \t\r\v\f") == std::string::npos;
}

std::string withoutBlankLines(const std::string& text) {
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (!isBlankLine(text.substr(at, next - at - (end == std::string::npos ? 0 : 1)))) {
            result.append(text, at, next - at);
        }
        at = next;
    }
    return result;
}

std::string trimmed(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\n\v\f\r");
    if (begin == std::string::npos) {
        return "";
    }
    return text.substr(begin, text.find_last_not_of(" \t\n\v\f\r") + 1 - begin);
}

// A value as a read gives it: blanks trimmed, then matching quotes dropped.
std::string readValue(const std::string& text) {
    std::string value = trimmed(text);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

// A line as the Windows writer puts a line it read from the file: "[name]" without blanks
// or text after the ']', "name=value" without blanks around either, other lines trimmed;
// nothing for a blank line. Windows drops an empty-name line right after another (blank
// lines between them aside) as it reads the file, so such a line of ours may be missing:
// `droppable` says so. `emptyName` tells whether the line before was one.
std::optional<std::string> reformedByWindows(const std::string& text, bool& emptyName,
                                             bool& droppable) {
    droppable = false;
    const std::string line = trimmed(text);
    const std::size_t close = line.rfind(']');
    const std::size_t equals = line.find('=');
    if (line.empty()) {
        return std::nullopt;
    }
    if (line.front() == '[' && close != std::string::npos) {
        emptyName = false;
        return "[" + trimmed(line.substr(1, close - 1)) + "]";
    }
    const std::string name = equals == std::string::npos ? line : trimmed(line.substr(0, equals));
    droppable = std::exchange(emptyName, name.empty()) && name.empty();
    return equals == std::string::npos ? line : name + "=" + trimmed(line.substr(equals + 1));
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// Whether Windows' file is ours with some of its lines re-formed as Windows writes the lines
// it read: every line of ours is in Windows' file as it stands or re-formed, or is one that
// re-forming drops and is absent.
bool agreesWithLinesReformed(const std::string& ours, const std::string& windows) {
    // A byte order mark both keep is no part of the first line.
    const std::string mark = "\xEF\xBB\xBF";
    const bool marked = ours.rfind(mark, 0) == 0 && windows.rfind(mark, 0) == 0;
    const std::vector<std::string> o = linesOf(marked ? ours.substr(mark.size()) : ours);
    const std::vector<std::string> w = linesOf(marked ? windows.substr(mark.size()) : windows);
    std::size_t next = 0;
    bool emptyName = false;
    bool droppable = false;
    for (const std::string& line : o) {
        const std::optional<std::string> reformed = reformedByWindows(line, emptyName, droppable);
        if (!reformed) {
            continue;
        }
        const bool stands = next < w.size() && (w[next] == line || w[next] == *reformed);
        if (!stands && !droppable) {
            return false;
        }
        next += stands;
    }
    return next == w.size();
}

// An integer value as our reader takes it: blanks, a sign, decimal digits, clamped.
std::int64_t ourInteger(const std::string& text) {
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos) {
        return 0;
    }
    const bool negative = text[at] == '-';
    at += text[at] == '-' || text[at] == '+';
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value > INT64_MAX / 100 ? INT64_MAX / 100 : value * 10 + (text[at] - '0');
    }
    value = negative ? -value : value;
    return value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value;
}

// As the Windows reader takes it: the first 29 characters (its buffer), blanks, a sign, a
// radix prefix, digits, wrapped modulo 2^32. `hex` tells whether a 0x prefix was read.
std::int64_t windowsInteger(std::string text, bool& hex, bool& beyond32Bits) {
    text = text.substr(0, 29);
    std::size_t at = 0;
    while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ') {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    at += at < text.size() && (text[at] == '-' || text[at] == '+');
    hex = at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X');
    const unsigned base = hex ? 16 : 10;
    at += hex ? 2 : 0;
    std::uint32_t value = 0;
    std::uint64_t exact = 0;
    beyond32Bits = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        const unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                               : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                               : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                      : 99;
        if (digit >= base) {
            break;
        }
        value = value * base + digit;
        exact = exact * base + digit;
        beyond32Bits = beyond32Bits || exact > (negative ? 2147483648u : 2147483647u);
    }
    return static_cast<std::int32_t>(negative ? 0u - value : value);
}

void compareInteger(const OpRecord& ours, const OpRecord& windows, OpVerdict& verdict) {
    if (ours.results[1] != windows.results[1]) {
        verdict.unexplained = "the raw texts differ";
        return;
    }
    const std::string raw = ours.results[1].value_or("");
    bool hex = false;
    bool beyond = false;
    const std::int64_t expectedWindows = windowsInteger(raw, hex, beyond);
    const bool bothAsModelled = std::stoll(ours.results[0].value_or("0")) == ourInteger(raw) &&
                                std::stoll(windows.results[0].value_or("0")) == expectedWindows;
    if (bothAsModelled && hex) {
        verdict.exceptions.push_back(Exception::hexNotRead);
    } else if (bothAsModelled && beyond) {
        verdict.exceptions.push_back(Exception::integerClamp);
    } else {
        verdict.unexplained = "the integers differ";
    }
}

// Both writers drop the leading blanks of a value (line breaks among them).
std::string writtenValue(const std::string& value) {
    const std::size_t begin = value.find_first_not_of(" \t\n\v\f\r");
    return begin == std::string::npos ? "" : value.substr(begin);
}

// A written value with a line break after its leading blanks, as we write it: up to the
// break.
std::optional<std::string> cutAtLineBreak(const Token& value) {
    if (!value) {
        return std::nullopt;
    }
    const std::string written = writtenValue(*value);
    const std::size_t cut = written.find_first_of("\r\n");
    if (cut == std::string::npos) {
        return std::nullopt;
    }
    return written.substr(0, cut);
}

void compareFile(const OpRecord& ours, const OpRecord& windows, OpVerdict& verdict) {
    const Token& ourFile = ours.results.back();
    const Token& windowsFile = windows.results.back();
    if (!ourFile || !windowsFile) {
        verdict.unexplained = "the file exists on one side only";
        return;
    }
    std::string o = *ourFile;
    std::string w = *windowsFile;
    if (const std::optional<std::string> cut = cutAtLineBreak(ours.args[2])) {
        // Windows writes the value line breaks and all; we write it up to the break.
        const std::string written = "=" + writtenValue(*ours.args[2]);
        const std::size_t at = w.find(written);
        if (at != std::string::npos) {
            w.replace(at, written.size(), "=" + *cut);
            verdict.exceptions.push_back(Exception::lineBreakCut);
        }
    }
    // Windows ends every line with CRLF.
    const std::string lineFeeds = replaceAll(w, "\r\n", "\n");
    const auto crlf = static_cast<std::ptrdiff_t>(w.size() - lineFeeds.size());
    if (crlf > 0 && crlf == std::count(w.begin(), w.end(), '\n')) {
        w = lineFeeds;
        verdict.exceptions.push_back(Exception::lineEnds);
    }
    if (w != o) {
        const std::string shorter = withoutBlankLines(o);
        if (shorter != o && shorter == withoutBlankLines(w)) {
            verdict.exceptions.push_back(Exception::blankLines);
        } else if (agreesWithLinesReformed(o, w)) {
            verdict.exceptions.push_back(Exception::untouchedLinesReformed);
        } else {
            verdict.unexplained = "the files differ";
        }
    }
}

// The value of section/key in a file as stored (blanks around it trimmed), as our reader
// finds it: the first section of that name (keys before any section form the one without a
// name), the first key of that name in it.
std::optional<std::string> storedValue(const std::string& file, const std::string& section,
                                       const std::string& key) {
    bool inSection = trimmed(section).empty();
    for (const std::string& line : linesOf(file)) {
        const std::string text = trimmed(line);
        const std::size_t close = text.rfind(']');
        if (!text.empty() && text.front() == '[' && close != std::string::npos) {
            if (inSection) {
                return std::nullopt;
            }
            inSection = equalIgnoringCase(trimmed(text.substr(1, close - 1)), trimmed(section));
            continue;
        }
        const std::size_t equals = text.find('=');
        if (inSection && equals != std::string::npos &&
            equalIgnoringCase(trimmed(text.substr(0, equals)), trimmed(key))) {
            return trimmed(text.substr(equals + 1));
        }
    }
    return std::nullopt;
}

// A read whose buffer holds all of a value in matching quotes but its closing quote: we give
// the value without its quotes, Windows one character less.
bool quotedValueCut(const OpRecord& ours, const OpRecord& windows, const Token& file) {
    if (ours.args.size() != 4 || !ours.args[0] || !ours.args[1] || !ours.args[3] || !file ||
        ours.results.size() != 2 || !ours.results[1] || !windows.results[1]) {
        return false;
    }
    const std::optional<std::string> stored =
        storedValue(replaceAll(*file, "\xEF\xBB\xBF", ""), *ours.args[0], *ours.args[1]);
    if (!stored || readValue(*stored) == *stored) {
        return false;
    }
    const std::string unquoted = readValue(*stored);
    const std::string& text = *ours.results[1];
    return !unquoted.empty() && text == unquoted &&
           *ours.args[3] == std::to_string(unquoted.size() + 1) &&
           *windows.results[1] == unquoted.substr(0, unquoted.size() - 1) &&
           windows.results[0] == std::to_string(unquoted.size() - 1) &&
           ours.results[0] == std::to_string(unquoted.size());
}

// A transcript text for reading: a run of more than 8 of one character as "c<xN>".
std::string shortened(const std::string& text) {
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t run = 1;
        while (at + run < text.size() && text[at + run] == text[at]) {
            ++run;
        }
        result +=
            run > 8 ? text.substr(at, 1) + "<x" + std::to_string(run) + ">" : text.substr(at, run);
        at += run;
    }
    return result;
}

}  // namespace

std::string escapeToken(const Token& token) {
    if (!token) {
        return "-";
    }
    std::string text = "\"";
    for (const char c : *token) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (byte < 0x20 || byte >= 0x7F) {
            const char hexDigits[] = "0123456789abcdef";
            text += "\\x";
            text += hexDigits[byte >> 4];
            text += hexDigits[byte & 15];
        } else {
            text += c;
        }
    }
    return text + "\"";
}

OpRecord describe(const ProfileOp& op) {
    OpRecord record;
    record.kind = kindName(op.kind);
    record.args = {op.section, op.key, op.text, std::to_string(op.number)};
    return record;
}

std::string formatOp(const OpRecord& op) {
    std::string line = "O " + op.kind;
    for (const Token& arg : op.args) {
        line += ' ' + escapeToken(arg);
    }
    line += " =";
    for (const Token& result : op.results) {
        line += ' ' + escapeToken(result);
    }
    return line;
}

bool readCase(std::istream& in, CaseRecord& record) {
    record = CaseRecord{};
    std::string line;
    bool started = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // a transcript written in text mode on Windows
        }
        if (line.rfind("C ", 0) == 0) {
            record.index = std::stoull(line.substr(2));
            started = true;
        } else if (line.rfind("F ", 0) == 0 && started) {
            std::vector<Token> file;
            std::vector<Token> none;
            parseTokens(line, 2, file, none);
            if (file.size() != 1) {
                throw std::runtime_error("transcript: a bad file record in case " +
                                         std::to_string(record.index));
            }
            record.file = file[0];
        } else if (line.rfind("O ", 0) == 0 && started) {
            OpRecord op;
            const std::size_t space = line.find(' ', 2);
            op.kind = line.substr(2, space - 2);
            parseTokens(line, space, op.args, op.results);
            record.ops.push_back(std::move(op));
        } else if (line == "E" && started) {
            return true;
        } else {
            throw std::runtime_error("transcript: an unexpected line: " + line.substr(0, 200));
        }
    }
    if (started) {
        throw std::runtime_error("transcript: case " + std::to_string(record.index) + " is cut");
    }
    return false;
}

const char* exceptionName(Exception exception) {
    switch (exception) {
        case Exception::lineEnds:
            return "line ends: CRLF written by Windows, LF by us";
        case Exception::blankLines:
            return "blank lines: kept by us, dropped by Windows";
        case Exception::lineBreakCut:
            return "a line break in a written value: cut there by us, written by Windows";
        case Exception::integerClamp:
            return "integers beyond 32 bits: clamped by us, wrapped by Windows";
        case Exception::hexNotRead:
            return "\"0x\" integers: 0 for us, hexadecimal for Windows";
        case Exception::untouchedLinesReformed:
            return "lines a write does not touch: kept byte for byte by us, re-formed by Windows";
        case Exception::quotesBeforeCut:
            return "a value in matching quotes cut by the buffer: quotes dropped, then cut by us; "
                   "one more character dropped by Windows";
    }
    return "?";
}

OpVerdict compareOp(const OpRecord& ours, const OpRecord& windows, const Token& file) {
    if (ours.kind != windows.kind || ours.args != windows.args ||
        ours.results.size() != windows.results.size()) {
        throw std::runtime_error("transcripts: different operations: " + formatOp(ours) + " / " +
                                 formatOp(windows));
    }
    OpVerdict verdict;
    if (ours.results == windows.results) {
        return verdict;
    }
    const std::size_t last = ours.results.size() - 1;
    if (ours.kind == "getInt" && ours.results.size() == 2) {
        compareInteger(ours, windows, verdict);
    } else if ((ours.kind == "write" || ours.kind == "edit") && ours.args.size() == 4) {
        for (std::size_t i = 0; i < last; ++i) {
            // The edit's read-back of a value we cut at a line break.
            const std::optional<std::string> cut = cutAtLineBreak(ours.args[2]);
            if (i == 1 && cut && ours.results[i] == readValue(*cut) &&
                windows.results[i] != ours.results[i]) {
                verdict.exceptions.push_back(Exception::lineBreakCut);
                continue;
            }
            if (ours.results[i] != windows.results[i]) {
                verdict.unexplained = "result " + std::to_string(i + 1) + " differs";
                return verdict;
            }
        }
        compareFile(ours, windows, verdict);
    } else if (ours.kind == "getString" && quotedValueCut(ours, windows, file)) {
        verdict.exceptions.push_back(Exception::quotesBeforeCut);
    } else {
        verdict.unexplained = "the results differ";
    }
    return verdict;
}

AgreementReport compareTranscripts(std::istream& ours, std::istream& windows,
                                   std::size_t examples) {
    AgreementReport report;
    CaseRecord a;
    CaseRecord b;
    while (true) {
        const bool more = readCase(ours, a);
        if (more != readCase(windows, b)) {
            throw std::runtime_error("transcripts: one ends before the other");
        }
        if (!more) {
            break;
        }
        if (a.index != b.index || a.file != b.file || a.ops.size() != b.ops.size()) {
            throw std::runtime_error("transcripts: different cases at " + std::to_string(a.index));
        }
        ++report.cases;
        report.operations += a.ops.size();
        bool differs = false;
        bool unexplained = false;
        Token before = a.file;
        for (std::size_t i = 0; i < a.ops.size(); ++i) {
            const OpVerdict verdict = compareOp(a.ops[i], b.ops[i], before);
            differs = differs || !verdict.exceptions.empty() || !verdict.unexplained.empty();
            for (const Exception exception : verdict.exceptions) {
                ++report.seen[exception];
            }
            if (!verdict.unexplained.empty() && !unexplained) {
                unexplained = true;
                ++report.causes[verdict.unexplained];
                if (report.examples.size() < examples) {
                    // The case cut down to the file as it stood and the first operation
                    // that differs without a rule for it.
                    report.examples.push_back("case " + std::to_string(a.index) + ": " +
                                              verdict.unexplained +
                                              "\n  file:    " + shortened(escapeToken(before)) +
                                              "\n  ours:    " + shortened(formatOp(a.ops[i])) +
                                              "\n  windows: " + shortened(formatOp(b.ops[i])));
                }
            }
            if (a.ops[i].kind == "write" || a.ops[i].kind == "edit") {
                before = a.ops[i].results.back();
            }
        }
        report.exact += !differs;
        report.documented += differs && !unexplained;
        report.unexplained += unexplained;
    }
    return report;
}

}  // namespace quiltra::test

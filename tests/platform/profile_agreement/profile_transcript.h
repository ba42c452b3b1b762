// Transcripts of generated private-profile cases, and their comparison.
//
// A transcript is text, a record a line:
//   C <index>                 a case begins
//   F <bytes>                 its starting file ("-": missing)
//   O <kind> <args..> = <results..>
// Every argument and result is a token: "-" for a null pointer, or a quoted, escaped text.
// Results: getString: length, text; getInt: value, the raw text of the key (read with a
// large buffer); write: success, the file's bytes after it; edit: success of the write, the
// text read back through the edit, success of the commit, the file's bytes after it.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profile_cases.h"

namespace quiltra::test {

using Token = std::optional<std::string>;

std::string escapeToken(const Token& token);

// One O record: the operation as described and what it gave.
struct OpRecord {
    std::string kind;
    std::vector<Token> args;
    std::vector<Token> results;
};

struct CaseRecord {
    std::uint64_t index = 0;
    Token file;
    std::vector<OpRecord> ops;
};

// The description of an operation in a transcript (kind and arguments).
OpRecord describe(const ProfileOp& op);
// The record's line without its end.
std::string formatOp(const OpRecord& op);

// Reads the next case; false at the end. Throws std::runtime_error on a malformed line.
bool readCase(std::istream& in, CaseRecord& record);

// A difference the documented rules explain, by name.
enum class Exception {
    lineEnds,                // Windows ends lines with CRLF, we with LF
    blankLines,              // we keep blank lines, Windows drops them
    lineBreakCut,            // a value with a line break: we cut it at the break
    integerClamp,            // beyond 32 bits: we clamp, Windows wraps
    hexNotRead,              // "0x10": we read 0, Windows reads hex
    untouchedLinesReformed,  // lines a write leaves: kept by us, re-formed by Windows
    quotesBeforeCut,         // a quoted value cut by the buffer: quotes go first for us
};
const char* exceptionName(Exception exception);

// How one operation compares: the same, different only in documented ways (listed), or
// different in some other way (said in `unexplained`).
struct OpVerdict {
    std::vector<Exception> exceptions;
    std::string unexplained;
};
// `file`: the file as it stood before the operation.
OpVerdict compareOp(const OpRecord& ours, const OpRecord& windows, const Token& file);

struct AgreementReport {
    std::uint64_t cases = 0;
    std::uint64_t operations = 0;
    std::uint64_t exact = 0;                      // cases without any difference
    std::uint64_t documented = 0;                 // cases whose differences are all documented
    std::uint64_t unexplained = 0;                // cases with another difference
    std::map<Exception, std::uint64_t> seen;      // operations, by exception
    std::map<std::string, std::uint64_t> causes;  // unexplained cases, by their first cause
    std::vector<std::string> examples;            // the first unexplained, shown
};

// Walks both transcripts case by case. Throws std::runtime_error when they do not hold the
// same cases and operations.
AgreementReport compareTranscripts(std::istream& ours, std::istream& windows, std::size_t examples);

}  // namespace quiltra::test

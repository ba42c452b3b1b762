// The command line of quiltra-config and the printed report.
#pragma once

#include <iosfwd>

#include "config_check.h"

namespace quiltra::config_check {

inline constexpr int kExitOk = 0;
inline constexpr int kExitErrors = 1;  // the configuration has errors
inline constexpr int kExitUsage = 2;   // bad command line, or the picture could not be written

// quiltra-config with its arguments (argv[0] the program). Prints the report on `out`,
// usage errors on `err`; returns the exit code.
int runConfigCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

// The report as text: one line per problem ("<file>: error: [section] key: message"), each
// scanner's geometry, and the count of errors and warnings.
void printText(const CheckReport& report, std::ostream& out);

// The report as one JSON object: file, errors, warnings, problems, scanners.
void printJson(const CheckReport& report, std::ostream& out);

}  // namespace quiltra::config_check

// Runs generated private-profile cases through the platform interface and writes their
// transcript, or compares two transcripts: ours (Linux) and the system functions' (Windows,
// under Wine).
//
//   profile_agreement run [--seed S] [--first K] [--cases N] > transcript
//   profile_agreement compare OURS WINDOWS [--examples N]
//
// compare prints the report and exits 1 when a difference is not a documented one, 2 when
// the transcripts cannot be compared.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/private_profile.h"
#include "profile_cases.h"
#include "profile_transcript.h"
#include "test_support.h"

namespace quiltra::test {
namespace {

namespace platform = quiltra::platform;

const char* nameOrNull(const Token& token) {
    return token ? token->c_str() : nullptr;
}

Token fileBytes(const std::string& path) {
    if (!std::filesystem::exists(path)) {
        return std::nullopt;
    }
    return readFile(path);
}

// The text a read gave: up to the NUL, and never past the buffer.
std::string bufferText(const std::vector<char>& buffer) {
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

OpRecord runOp(const ProfileOp& op, const std::string& path) {
    OpRecord record = describe(op);
    const char* section = nameOrNull(op.section);
    const char* key = nameOrNull(op.key);
    const char* text = nameOrNull(op.text);
    std::vector<char> large(4096, '#');
    switch (op.kind) {
        case ProfileOp::Kind::getString: {
            std::vector<char> buffer(static_cast<std::size_t>(op.number), '#');
            const int length = platform::getPrivateProfileString(section, key, text, buffer.data(),
                                                                 op.number, path.c_str());
            record.results = {std::to_string(length), bufferText(buffer)};
            break;
        }
        case ProfileOp::Kind::getInt: {
            const int value = platform::getPrivateProfileInt(section, key, op.number, path.c_str());
            platform::getPrivateProfileString(section, key, "", large.data(),
                                              static_cast<int>(large.size()), path.c_str());
            record.results = {std::to_string(value), bufferText(large)};
            break;
        }
        case ProfileOp::Kind::write: {
            const bool written =
                platform::writePrivateProfileString(section, key, text, path.c_str());
            record.results = {written ? "1" : "0", fileBytes(path)};
            break;
        }
        case ProfileOp::Kind::edit: {
            platform::ProfileEdit edit(path.c_str());
            const bool written = edit.writeString(section, key, text);
            edit.getString(section, key != nullptr ? key : "", "(none)", large.data(),
                           static_cast<int>(large.size()));
            const std::string readBack = bufferText(large);
            const bool committed = edit.commit();
            record.results = {written ? "1" : "0", readBack, committed ? "1" : "0",
                              fileBytes(path)};
            break;
        }
    }
    return record;
}

int run(std::uint64_t seed, std::uint64_t first, std::uint64_t count) {
    TempDir folder;
    std::string out;
    for (std::uint64_t index = first; index < first + count; ++index) {
        const ProfileCase profileCase = makeProfileCase(seed, index);
        // A file name of its own for every case: nothing a system cache holds of one case
        // can be taken for the next.
        std::string name = "p";
        name += std::to_string(index);
        const std::string path = folder.file(name + ".ini");
        if (profileCase.file) {
            writeFile(path, *profileCase.file);
        }
        out += "C " + std::to_string(index) + "\nF " + escapeToken(profileCase.file) + "\n";
        for (const ProfileOp& op : profileCase.ops) {
            out += formatOp(runOp(op, path)) + "\n";
        }
        out += "E\n";
        std::filesystem::remove(path);
        if (out.size() > (1u << 20) || index + 1 == first + count) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 2;
}

int compare(const char* oursPath, const char* windowsPath, std::size_t examples) {
    std::ifstream ours(oursPath, std::ios::binary);
    std::ifstream windows(windowsPath, std::ios::binary);
    if (!ours || !windows) {
        std::cerr << "profile_agreement: cannot open " << (ours ? windowsPath : oursPath) << "\n";
        return 2;
    }
    const AgreementReport report = compareTranscripts(ours, windows, examples);
    const auto rate = [&report](std::uint64_t n) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f%%",
                      report.cases == 0
                          ? 0.0
                          : 100.0 * static_cast<double>(n) / static_cast<double>(report.cases));
        return std::string(text);
    };
    std::cout << "cases: " << report.cases << "\noperations: " << report.operations
              << "\nexact agreement: " << report.exact << " cases (" << rate(report.exact)
              << ")\nagreement with documented exceptions: " << report.exact + report.documented
              << " cases (" << rate(report.exact + report.documented) << "; " << report.documented
              << " with documented differences only)\n"
              << "unexplained differences: " << report.unexplained << " cases ("
              << rate(report.unexplained) << ")\n";
    for (const auto& [exception, count] : report.seen) {
        std::cout << "  documented: " << exceptionName(exception) << ": " << count
                  << " operations\n";
    }
    for (const auto& [cause, count] : report.causes) {
        std::cout << "  unexplained: " << cause << ": " << count << " cases\n";
    }
    for (const std::string& example : report.examples) {
        std::cout << example << "\n";
    }
    return report.unexplained == 0 && report.cases > 0 ? 0 : 1;
}

int usage() {
    std::cerr << "usage: profile_agreement run [--seed S] [--first K] [--cases N]\n"
                 "       profile_agreement compare OURS WINDOWS [--examples N]\n";
    return 2;
}

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::uint64_t seed = 1;
    std::uint64_t first = 0;
    std::uint64_t cases = 1000;
    std::size_t examples = 5;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool valued = i + 1 < args.size();
        if (args[i] == "--seed" && valued) {
            seed = std::stoull(args[++i]);
        } else if (args[i] == "--first" && valued) {
            first = std::stoull(args[++i]);
        } else if (args[i] == "--cases" && valued) {
            cases = std::stoull(args[++i]);
        } else if (args[i] == "--examples" && valued) {
            examples = std::stoul(args[++i]);
        } else if (args[i].rfind("--", 0) == 0) {
            return usage();
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() == 1 && positional[0] == "run") {
        return run(seed, first, cases);
    }
    if (positional.size() == 3 && positional[0] == "compare") {
        return compare(positional[1].c_str(), positional[2].c_str(), examples);
    }
    return usage();
}

}  // namespace
}  // namespace quiltra::test

int main(int argc, char** argv) {
    try {
        return quiltra::test::main(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "profile_agreement: " << error.what() << "\n";
        return 2;
    }
}

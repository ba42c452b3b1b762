// Runs a fuzz target over every file of the corpus folders given as arguments, without
// libFuzzer: the seeds and the regression files replay as an ordinary test program on every
// build. A missing or empty folder fails, so a wrong path cannot pass unnoticed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_input.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        if (error || files.empty()) {
            std::fprintf(stderr, "no corpus files in %s\n", argv[i]);
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            std::ifstream stream(file, std::ios::binary);
            const std::vector<char> bytes{std::istreambuf_iterator<char>(stream),
                                          std::istreambuf_iterator<char>()};
            if (!stream.eof() && stream.fail()) {
                std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
                return 1;
            }
            std::printf("%s\n", file.filename().string().c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
        }
        std::printf("%zu files of %s replayed\n", files.size(), argv[i]);
    }
    return 0;
}

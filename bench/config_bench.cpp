// The cost of writing one scanner's configuration: writeConfiguration as it is (one read,
// one atomic replacement of the file), and the same keys written back one by one through
// the file functions, each a read and a replacement of the whole file, as a writer that
// goes key by key pays.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/configuration_file.h"
#include "driver/driver_binding.h"
#include "platform/private_profile.h"
#include "scanner/scanner.h"
#include "scratch_folder.h"

namespace {

void QUILTRA_CALL ignore(const char*) {}

// A scratch system folder with the configuration of a scanner of two cameras.
class Folder {
public:
    Folder() {
        binding = std::make_unique<quiltra::DriverBinding>("", scratch.path().c_str(), ignore);
        scanner = std::make_unique<quiltra::Scanner>(binding.get(), "Scanner0001", 0, 0);
        scanner->addCamera(1, 1, 1);
        scanner->addCamera(2, 1, 1);
        file = quiltra::configFilePath(scratch.path(), quiltra::kPathSize);
        quiltra::writeConfiguration(*scanner, "Scanner0001");
    }

    // Every section/key pair of the file, in file order.
    std::vector<std::pair<std::string, std::string>> keys() const {
        std::vector<std::pair<std::string, std::string>> result;
        std::ifstream in(file);
        std::string section;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.front() == '[') {
                section = line.substr(1, line.find(']') - 1);
            } else if (const auto equals = line.find('='); equals != std::string::npos) {
                result.emplace_back(section, line.substr(0, equals));
            }
        }
        return result;
    }

    const quiltra::bench::ScratchFolder scratch{"quiltra-config-bench"};  // outlives the rest
    std::string file;
    std::unique_ptr<quiltra::DriverBinding> binding;
    std::unique_ptr<quiltra::Scanner> scanner;
};

void BM_WriteConfiguration(benchmark::State& state) {
    Folder folder;
    for (auto _ : state) {
        quiltra::writeConfiguration(*folder.scanner, "Scanner0001");
    }
}
BENCHMARK(BM_WriteConfiguration)->Unit(benchmark::kMillisecond);

void BM_KeyByKey(benchmark::State& state) {
    Folder folder;
    const auto keys = folder.keys();
    char value[quiltra::kPathSize];
    for (auto _ : state) {
        for (const auto& [section, key] : keys) {
            quiltra::platform::getPrivateProfileString(section.c_str(), key.c_str(), "", value,
                                                       sizeof value, folder.file.c_str());
            quiltra::platform::writePrivateProfileString(section.c_str(), key.c_str(), value,
                                                         folder.file.c_str());
        }
    }
    state.counters["keys"] = static_cast<double>(keys.size());
}
BENCHMARK(BM_KeyByKey)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

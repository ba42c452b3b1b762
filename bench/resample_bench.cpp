// ResampleBuffer of the reference resampler plug-in, per image size, bytes per pixel and
// mode, on one thread, as a ratio against memcpy of the same output image measured in the
// same run (counter "x_memcpy": resampling time / copying time). The field is the usual job:
// the camera's whole image at pitch 1, turned by 0.5 degrees, so every sample lies between
// pixel centres.
#include <benchmark/benchmark.h>
#include <quiltra/plugin.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kSizes[][2] = {{640, 480}, {2448, 2048}};  // columns, rows
constexpr const char* kModes[] = {"nearest", "bilinear", "bicubic"};

// The median time of one memcpy of `bytes` over a few runs, in seconds.
double memcpySeconds(std::size_t bytes) {
    std::vector<uint8_t> from(bytes, 1);
    std::vector<uint8_t> to(bytes, 0);
    std::vector<double> times;
    for (int run = 0; run < 21; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

void resample(benchmark::State& state, int columns, int rows, int bytesPerPixel, int mode) {
    const uintptr_t resampler = CreateResampler("", rows, columns, rows / 2.0f, columns / 2.0f,
                                                float(rows), float(columns), 0.5f, rows, columns);
    if (resampler == 0 || SetResampleMode(resampler, mode) != 1) {
        state.SkipWithError("the resampler refused the field");
        return;
    }
    const std::size_t bytes = std::size_t(rows) * columns * bytesPerPixel;
    std::vector<uint8_t> source(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        source[i] = uint8_t(i * 7 + i / 4093);
    }
    std::vector<uint8_t> destination(bytes);
    const double copy = memcpySeconds(bytes);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        uint32_t size = uint32_t(bytes);
        ResampleBuffer(resampler, source.data(), rows, columns, bytesPerPixel, destination.data(),
                       &size);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    const double each =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    ReleaseResampler(resampler);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["x_memcpy"] = each / copy;
    state.counters["memcpy_us"] = copy * 1e6;
}

const bool registered = [] {
    for (const auto& size : kSizes) {
        for (int bytesPerPixel : {1, 3}) {
            for (int mode = 0; mode < 3; ++mode) {
                const std::string name = "Resample/" + std::to_string(size[0]) + "x" +
                                         std::to_string(size[1]) + "x" +
                                         std::to_string(bytesPerPixel) + "/" + kModes[mode];
                benchmark::RegisterBenchmark(name.c_str(), resample, size[0], size[1],
                                             bytesPerPixel, mode)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
        }
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();

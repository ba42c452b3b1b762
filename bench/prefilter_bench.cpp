// ExecuteFilter of the reference prefilter plug-in against memcpy of the same image, on one
// thread, in the same run: per image size and bytes per pixel, each operation of the plug-in
// alone, out of place (the camera's ring buffer into `processed`) and in place. Each timed
// iteration copies the image once with memcpy and filters it once. Counter:
//   x_memcpy   ExecuteFilter time / memcpy time (medians over the iterations)
//   x_floor    the same, for the corrected pass only: the time of a pass that moves exactly
//              its bytes and computes nothing (each image byte, its 16-bit factor and its
//              dark byte read, the byte written) / memcpy time. The corrected pass cannot go
//              below it.
// flat+gain is the flat field alone with a gain; dark+flat+gain adds the dark frame, as a
// camera calibration gives both.
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <quiltra/plugin.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace {

constexpr int kSizes[][2] = {{640, 480}, {2448, 2048}};  // columns, rows

struct Operation {
    const char* name;
    const char* keys;  // the prefilter file's keys
    bool dark, flat;   // the file names the dark frame, the flat field
};
constexpr Operation kOperations[] = {
    {"flat+gain", "gain = 1.1\n", false, true},
    {"dark+flat+gain", "gain = 1.1\n", true, true},
    {"median3", "filter = median3\n", false, false},
    {"box3", "filter = box3\n", false, false},
    {"threshold", "threshold = 128\n", false, false},
};

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

std::vector<uint8_t> noise(std::size_t bytes, uint32_t seed, int low, int high) {
    std::vector<uint8_t> image(bytes);
    for (uint8_t& b : image) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(low + (seed >> 8) % uint32_t(high - low + 1));
    }
    return image;
}

// Grey references for a grey image, colour ones for a colour image.
std::string pnm(int columns, int rows, int channels, const std::vector<uint8_t>& pixels) {
    return std::string(channels == 1 ? "P5" : "P6") + "\n" + std::to_string(columns) + " " +
           std::to_string(rows) + "\n255\n" + std::string(pixels.begin(), pixels.end());
}

// The corrected pass's bytes with no arithmetic, 32 image bytes a step as the pass itself
// runs here: the factors are below 2^15, so the byte written is the byte read less its dark
// byte (zero where there is none).
__attribute__((target("avx2"))) void moveBytes(const uint8_t* in, const uint8_t* dark,
                                               const uint16_t* factors, uint8_t* out,
                                               std::size_t bytes) {
    for (std::size_t i = 0; i + 32 <= bytes; i += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        if (dark != nullptr) {
            v = _mm256_subs_epu8(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dark + i)));
        }
        const __m256i f0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(factors + i));
        const __m256i f1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(factors + i + 16));
        const __m256i top =
            _mm256_packus_epi16(_mm256_srli_epi16(f0, 15), _mm256_srli_epi16(f1, 15));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_or_si256(v, top));
    }
}

void filter(benchmark::State& state, const std::string& file, int columns, int rows,
            int bytesPerPixel, bool inPlace, const Operation& op) {
    const uintptr_t handle = CreateFilter("f", file.c_str(), "");
    if (handle == 0) {
        state.SkipWithError("the prefilter refused its file");
        return;
    }
    const std::size_t bytes = std::size_t(rows) * columns * bytesPerPixel;
    const std::vector<uint8_t> camera = noise(bytes, 5, 30, 220);
    std::vector<uint8_t> ring = camera, processed(bytes), copy(bytes);
    ImageDescriptor in{rows, columns, uint8_t(bytesPerPixel), {}, ring.data()};
    ImageDescriptor out{
        rows, columns, uint8_t(bytesPerPixel), {}, inPlace ? ring.data() : processed.data()};
    std::vector<double> filterTimes, copyTimes, floorTimes;
    // The floor is timed for the corrected pass alone, with the pass's own AVX2 width.
    const bool timeFloor = op.flat && __builtin_cpu_supports("avx2");
    const std::vector<uint8_t> darkFrame =
        op.dark ? noise(bytes, 1, 0, 20) : std::vector<uint8_t>();
    std::vector<uint16_t> factors(timeFloor ? bytes : 0);
    for (std::size_t i = 0; i < factors.size(); ++i) {
        factors[i] = uint16_t(0x4000 + (i * 2654435761u >> 20) % 0x2000);
    }
    for (auto _ : state) {
        auto start = Clock::now();
        std::memcpy(copy.data(), camera.data(), bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        copyTimes.push_back(seconds(start));
        if (timeFloor) {
            start = Clock::now();
            moveBytes(ring.data(), op.dark ? darkFrame.data() : nullptr, factors.data(),
                      inPlace ? ring.data() : processed.data(), bytes);
            benchmark::ClobberMemory();
            floorTimes.push_back(seconds(start));
        }
        if (inPlace) {
            // Each in-place run starts from the camera's image again, outside the timing.
            state.PauseTiming();
            std::memcpy(ring.data(), camera.data(), bytes);
            state.ResumeTiming();
        }
        start = Clock::now();
        const int result = ExecuteFilter(handle, &in, &out, "");
        benchmark::ClobberMemory();
        const double each = seconds(start);
        filterTimes.push_back(each);
        state.SetIterationTime(each);
        if (result != 1) {
            state.SkipWithError("ExecuteFilter failed");
            break;
        }
    }
    ReleaseFilter(handle);
    if (!filterTimes.empty()) {
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
        state.counters["x_memcpy"] = median(filterTimes) / median(copyTimes);
        state.counters["memcpy_ms"] = median(copyTimes) * 1e3;
        if (timeFloor) {
            state.counters["x_floor"] = median(floorTimes) / median(copyTimes);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const quiltra::bench::ScratchFolder folder("quiltra-prefilter-bench");
    if (!folder.ok()) {
        std::perror("quiltra-prefilter-bench: the scratch folder");
        return 1;
    }
    for (const auto& size : kSizes) {
        for (int bytesPerPixel : {1, 3}) {
            const std::string image = std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                      "x" + std::to_string(bytesPerPixel);
            const std::size_t bytes = std::size_t(size[0]) * size[1] * bytesPerPixel;
            const std::string dark = folder.write(
                image + "-dark.pnm", pnm(size[0], size[1], bytesPerPixel, noise(bytes, 1, 0, 20)));
            const std::string flat =
                folder.write(image + "-flat.pnm",
                             pnm(size[0], size[1], bytesPerPixel, noise(bytes, 2, 150, 250)));
            if (dark.empty() || flat.empty()) {
                return 1;
            }
            for (const Operation& op : kOperations) {
                std::string text = std::string("quiltra-prefilter 1\n") + op.keys;
                if (op.dark) {
                    text += "dark = " + dark + "\n";
                }
                if (op.flat) {
                    text += "flat = " + flat + "\n";
                }
                const std::string file = folder.write(image + "-" + op.name + ".pf", text);
                if (file.empty()) {
                    return 1;
                }
                for (bool inPlace : {false, true}) {
                    const std::string name =
                        "Prefilter/" + image + "/" + op.name + (inPlace ? "/in-place" : "/apart");
                    benchmark::RegisterBenchmark(name.c_str(), filter, file, size[0], size[1],
                                                 bytesPerPixel, inPlace, op)
                        ->Unit(benchmark::kMillisecond)
                        ->UseManualTime()
                        ->Iterations(size[0] < 1000 ? 200 : 20);
                }
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

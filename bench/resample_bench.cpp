// ResampleBuffer of the reference resampler plug-in against OpenCV on the same work, on one
// thread, in the same run: per image size, bytes per pixel, mode and field, each timed
// iteration runs ResampleBuffer once and OpenCV's remap once over fixed-point maps of the same
// sample positions (and, for the pure rotation, warpAffine once). Counters:
//   x_opencv   ResampleBuffer time / remap time (medians over the iterations)
//   x_warp     ResampleBuffer time / warpAffine time (the rotation only)
//   x_memcpy   ResampleBuffer time / memcpy of the output image
//   max_diff, mean_diff  bilinear: |ours - remap| in grey levels over the pixels whose four
//              taps both read inside the image
// The fields: the identity, the whole image turned by 0.5 degrees, and a homography with lens
// distortion from a calibration file. The map of either side is built outside the timing.
#include <benchmark/benchmark.h>
#include <quiltra/plugin.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <string>
#include <vector>

#include "calibration_file.h"
#include "scratch_folder.h"

namespace {

constexpr int kSizes[][2] = {{640, 480}, {2448, 2048}};  // columns, rows
constexpr const char* kModes[] = {"nearest", "bilinear", "bicubic"};
constexpr int kOpenCvModes[] = {cv::INTER_NEAREST, cv::INTER_LINEAR, cv::INTER_CUBIC};
enum FieldKind { kIdentity, kRotation, kHomography };
constexpr const char* kFields[] = {"identity", "rotation", "homography"};
constexpr double kPi = 3.14159265358979323846;
constexpr float kAngle = 0.5f;

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// The median time of one memcpy of `bytes` over a few runs, in seconds.
double memcpySeconds(std::size_t bytes) {
    std::vector<uint8_t> from(bytes, 1);
    std::vector<uint8_t> to(bytes, 0);
    std::vector<double> times;
    for (int run = 0; run < 21; ++run) {
        const auto start = Clock::now();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        times.push_back(seconds(start));
    }
    return median(times);
}

// A camera's model for the homography field: about 10 pixels per mm, a slight tilt and
// turn, and barrel distortion reaching a few pixels at the corners.
quiltra::calibration::Model distortedModel(int columns, int rows) {
    quiltra::calibration::Model m;
    m.units = "mm";
    m.imageColumns = columns;
    m.imageRows = rows;
    const double s = 10.0;
    m.homography = {0.1 * s,  s,           0.02 * columns,   s,
                    -0.1 * s, 0.01 * rows, 0.3 / (rows / s), 0.2 / (columns / s),
                    1};
    m.hasLens = true;
    m.fx = m.fy = columns;
    m.cx = columns / 2.0;
    m.cy = rows / 2.0;
    m.distortion = {-0.06, 0.01, 0.0005, -0.0005, 0.0};
    return m;
}

// One size, field and mode: both sides' sample positions and the plug-in's instance.
struct Work {
    int columns, rows, bytesPerPixel, mode;
    FieldKind field;
    uintptr_t resampler = 0;
    cv::Mat map1, map2;         // OpenCV's fixed-point maps
    cv::Mat rowPos, columnPos;  // the sample positions in double, for the accuracy
    cv::Mat rotation;           // warpAffine's inverse map, for the rotation

    Work(int c, int r, int b, int m, FieldKind f)
        : columns(c), rows(r), bytesPerPixel(b), mode(m), field(f) {}
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;
    ~Work() {
        if (resampler != 0) {
            ReleaseResampler(resampler);
        }
    }

    bool build(const std::string& calibFile) {
        const float centreX = rows / 2.0f;
        const float centreY = columns / 2.0f;
        float sizeX = float(rows);
        float sizeY = float(columns);
        float angle = field == kRotation ? kAngle : 0.0f;
        std::optional<quiltra::calibration::Projection> projection;
        float cx = centreX, cy = centreY;
        if (field == kHomography) {
            // The world rectangle the camera sees, a little inside its edges.
            sizeX = float(rows / 10.0 * 0.9);
            sizeY = float(columns / 10.0 * 0.9);
            cx = float(rows / 20.0);
            cy = float(columns / 20.0);
            projection.emplace(distortedModel(columns, rows));
        }
        resampler = CreateResampler(field == kHomography ? calibFile.c_str() : "", rows, columns,
                                    cx, cy, sizeX, sizeY, angle, rows, columns);
        if (resampler == 0 || SetResampleMode(resampler, mode) != 1) {
            return false;
        }
        const double a = angle * kPi / 180.0;
        cv::Mat mapX(rows, columns, CV_32FC1), mapY(rows, columns, CV_32FC1);
        rowPos.create(rows, columns, CV_64FC1);
        columnPos.create(rows, columns, CV_64FC1);
        for (int i = 0; i < rows; ++i) {
            const double dx = (i + 0.5) * sizeX / rows - sizeX / 2.0;
            for (int j = 0; j < columns; ++j) {
                const double dy = (j + 0.5) * sizeY / columns - sizeY / 2.0;
                const double px = cx + std::cos(a) * dx - std::sin(a) * dy;
                const double py = cy + std::sin(a) * dx + std::cos(a) * dy;
                double r = px - 0.5, c = py - 0.5;
                if (projection && !projection->toPixel(px, py, c, r)) {
                    r = c = -1e4;  // not seen: outside on both sides
                }
                rowPos.at<double>(i, j) = r;
                columnPos.at<double>(i, j) = c;
                mapX.at<float>(i, j) = float(c);
                mapY.at<float>(i, j) = float(r);
            }
        }
        cv::convertMaps(mapX, mapY, map1, map2, CV_16SC2, mode == 0);
        // warpAffine's inverse map: output (j, i) to source (column, row).
        const double c0 =
            cy - 0.5 + std::sin(a) * (0.5 - sizeX / 2.0) + std::cos(a) * (0.5 - sizeY / 2.0);
        const double r0 =
            cx - 0.5 + std::cos(a) * (0.5 - sizeX / 2.0) - std::sin(a) * (0.5 - sizeY / 2.0);
        rotation =
            (cv::Mat_<double>(2, 3) << std::cos(a), std::sin(a), c0, -std::sin(a), std::cos(a), r0);
        return true;
    }
};

// A smooth image with texture (steps of up to about 15 grey levels per pixel), like a
// camera's view of a real scene; each byte of a pixel has its own phase.
cv::Mat scene(int columns, int rows, int bytesPerPixel) {
    cv::Mat image(rows, columns, bytesPerPixel == 1 ? CV_8UC1 : CV_8UC3);
    for (int r = 0; r < rows; ++r) {
        uint8_t* line = image.ptr<uint8_t>(r);
        for (int c = 0; c < columns; ++c) {
            for (int b = 0; b < bytesPerPixel; ++b) {
                const double v = 128 + 60 * std::sin(c / 7.0 + b) + 55 * std::cos(r / 9.0 - b) +
                                 10 * std::sin((r + c) / 3.0);
                line[c * bytesPerPixel + b] = cv::saturate_cast<uint8_t>(v);
            }
        }
    }
    return image;
}

void resample(benchmark::State& state, int columns, int rows, int bytesPerPixel, int mode,
              FieldKind field, const std::string& calibFile) {
    Work work(columns, rows, bytesPerPixel, mode, field);
    if (!work.build(calibFile)) {
        state.SkipWithError("the resampler refused the field");
        return;
    }
    const cv::Mat source = scene(columns, rows, bytesPerPixel);
    const std::size_t bytes = std::size_t(rows) * columns * bytesPerPixel;
    cv::Mat ours(rows, columns, source.type());
    cv::Mat theirs(rows, columns, source.type());
    cv::Mat warped(rows, columns, source.type());
    const double copy = memcpySeconds(bytes);
    std::vector<double> oursTimes, remapTimes, warpTimes;
    for (auto _ : state) {
        auto start = Clock::now();
        uint32_t size = uint32_t(bytes);
        ResampleBuffer(work.resampler, source.data, rows, columns, bytesPerPixel, ours.data, &size);
        benchmark::DoNotOptimize(ours.data);
        benchmark::ClobberMemory();
        const double each = seconds(start);
        oursTimes.push_back(each);
        state.SetIterationTime(each);

        start = Clock::now();
        cv::remap(source, theirs, work.map1, work.map2, kOpenCvModes[mode], cv::BORDER_CONSTANT);
        benchmark::ClobberMemory();
        remapTimes.push_back(seconds(start));
        if (field == kRotation) {
            start = Clock::now();
            cv::warpAffine(source, warped, work.rotation, warped.size(),
                           kOpenCvModes[mode] | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
            benchmark::ClobberMemory();
            warpTimes.push_back(seconds(start));
        }
    }
    const double oursTime = median(oursTimes);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["x_opencv"] = oursTime / median(remapTimes);
    state.counters["x_memcpy"] = oursTime / copy;
    if (!warpTimes.empty()) {
        state.counters["x_warp"] = oursTime / median(warpTimes);
    }
    if (mode == 1) {
        double worst = 0, sum = 0;
        int64_t count = 0;
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < columns; ++j) {
                const double r = work.rowPos.at<double>(i, j);
                const double c = work.columnPos.at<double>(i, j);
                if (!(r >= 0 && r <= rows - 1 && c >= 0 && c <= columns - 1)) {
                    continue;
                }
                for (int b = 0; b < bytesPerPixel; ++b) {
                    const int k = j * bytesPerPixel + b;
                    const double d =
                        std::abs(int(ours.ptr<uint8_t>(i)[k]) - int(theirs.ptr<uint8_t>(i)[k]));
                    worst = std::max(worst, d);
                    sum += d;
                    ++count;
                }
            }
        }
        state.counters["max_diff"] = worst;
        state.counters["mean_diff"] = count > 0 ? sum / double(count) : 0.0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    std::printf("OpenCV %s on 1 thread; CPU features used: %s\n", CV_VERSION,
                cv::getCPUFeaturesLine().c_str());
    // The calibration files of the homography field, one per image size.
    const quiltra::bench::ScratchFolder folder("quiltra-resample-bench");
    if (!folder.ok()) {
        std::perror("quiltra-resample-bench: the scratch folder");
        return 1;
    }
    std::vector<std::string> files;
    for (const auto& size : kSizes) {
        files.push_back(
            folder.write(std::to_string(size[0]) + "x" + std::to_string(size[1]) + ".cal",
                         quiltra::calibration::format(distortedModel(size[0], size[1]))));
        if (files.back().empty()) {
            return 1;
        }
    }
    for (std::size_t s = 0; s < std::size(kSizes); ++s) {
        const auto& size = kSizes[s];
        for (int bytesPerPixel : {1, 3}) {
            for (int mode = 0; mode < 3; ++mode) {
                for (FieldKind field : {kIdentity, kRotation, kHomography}) {
                    const std::string name = "Resample/" + std::to_string(size[0]) + "x" +
                                             std::to_string(size[1]) + "x" +
                                             std::to_string(bytesPerPixel) + "/" + kModes[mode] +
                                             "/" + kFields[field];
                    benchmark::RegisterBenchmark(name.c_str(), resample, size[0], size[1],
                                                 bytesPerPixel, mode, field, files[s])
                        ->Unit(benchmark::kMillisecond)
                        ->UseManualTime()
                        ->Iterations(size[0] < 1000 ? 60 : 9);
                }
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

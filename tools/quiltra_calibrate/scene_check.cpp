#include "scene_check.h"

#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "platform/private_profile.h"

namespace quiltra::calibrate {

namespace {

// A fixed pseudo-random sequence, so that the scene is the same on every machine.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed) {}
    double next() {  // [0, 1)
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / static_cast<double>(1u << 24);
    }

private:
    std::uint32_t state_;
};

// Smooth value noise: random values on a grid `cell` pixels apart, blended with a smooth step.
class ValueNoise {
public:
    ValueNoise(int columns, int rows, double cell, Random& random)
        : cell_(cell),
          gridColumns_(static_cast<int>(columns / cell) + 2),
          gridRows_(static_cast<int>(rows / cell) + 2) {
        values_.resize(static_cast<std::size_t>(gridColumns_) * gridRows_);
        for (double& value : values_) {
            value = random.next() * 2.0 - 1.0;
        }
    }
    double at(double column, double row) const {
        const double gx = column / cell_;
        const double gy = row / cell_;
        const int x = static_cast<int>(gx);
        const int y = static_cast<int>(gy);
        const double fx = smooth(gx - x);
        const double fy = smooth(gy - y);
        const double top = value(x, y) + (value(x + 1, y) - value(x, y)) * fx;
        const double bottom = value(x, y + 1) + (value(x + 1, y + 1) - value(x, y + 1)) * fx;
        return top + (bottom - top) * fy;
    }

private:
    static double smooth(double t) { return t * t * (3.0 - 2.0 * t); }
    double value(int x, int y) const {
        return values_[static_cast<std::size_t>(std::min(y, gridRows_ - 1)) * gridColumns_ +
                       std::min(x, gridColumns_ - 1)];
    }
    double cell_;
    int gridColumns_;
    int gridRows_;
    std::vector<double> values_;
};

// 1 inside, 0 outside, with an edge `soft` pixels wide, for a signed distance d.
double cover(double d, double soft) {
    return std::clamp(0.5 - d / soft, 0.0, 1.0);
}

struct Stroke {
    double x0, y0, x1, y1, width, grey;
};

double distanceToSegment(double x, double y, const Stroke& s) {
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double t =
        std::clamp(((x - s.x0) * dx + (y - s.y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - s.x0 - t * dx, y - s.y0 - t * dy);
}

}  // namespace

std::string StitchError::failures(const StitchLimits& limits) const {
    std::ostringstream out;
    if (pixels == 0) {
        out << "no pixel compared; ";
    }
    if (!(mean <= limits.mean)) {
        out << "mean difference " << mean << " > " << limits.mean << " grey levels; ";
    }
    if (!(percentile99 <= limits.percentile99)) {
        out << "99th percentile " << percentile99 << " > " << limits.percentile99
            << " grey levels; ";
    }
    if (!(seamMean <= limits.seamFactor * elsewhereMean + 1.0)) {
        out << "mean along the worst seam " << seamMean << " > " << limits.seamFactor
            << " x the mean elsewhere (" << elsewhereMean << ") + 1 grey level; ";
    }
    std::string text = out.str();
    return text.empty() ? text : text.substr(0, text.size() - 2);
}

GreyImage demoScene(int columns, int rows) {
    Random random(20261209u);
    std::vector<ValueNoise> octaves;
    for (double cell : {160.0, 48.0, 14.0, 4.0}) {
        octaves.emplace_back(columns, rows, cell, random);
    }
    // Soft discs and rings like stains and punched marks, then strokes like lettering.
    struct Disc {
        double x, y, radius, ring, grey;
    };
    std::vector<Disc> discs;
    for (int i = 0; i < 14; ++i) {
        discs.push_back({random.next() * columns, random.next() * rows, 12.0 + random.next() * 50.0,
                         random.next() < 0.4 ? 4.0 + random.next() * 4.0 : 0.0,
                         random.next() < 0.5 ? 40.0 : 225.0});
    }
    std::vector<Stroke> strokes;
    for (int i = 0; i < 50; ++i) {
        const double x = random.next() * columns;
        const double y = random.next() * rows;
        const double angle = random.next() * 6.2832;
        const double length = 15.0 + random.next() * 60.0;
        strokes.push_back({x, y, x + length * std::cos(angle), y + length * std::sin(angle),
                           1.5 + random.next() * 3.0, random.next() < 0.7 ? 25.0 : 235.0});
    }
    GreyImage image{columns, rows, std::vector<unsigned char>(std::size_t(columns) * rows)};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const double x = c + 0.5;
            const double y = r + 0.5;
            double grey = 140.0 + 45.0 * octaves[0].at(x, y) + 25.0 * octaves[1].at(x, y) +
                          10.0 * octaves[2].at(x, y) + 4.0 * octaves[3].at(x, y);
            for (const Disc& d : discs) {
                const double distance = std::hypot(x - d.x, y - d.y) - d.radius;
                const double a =
                    d.ring > 0.0 ? cover(std::fabs(distance) - d.ring, 2.0) : cover(distance, 3.0);
                grey += (d.grey - grey) * 0.6 * a;
            }
            for (const Stroke& s : strokes) {
                const double a = cover(distanceToSegment(x, y, s) - s.width, 1.5);
                grey += (s.grey - grey) * 0.8 * a;
            }
            image.pixels[std::size_t(r) * columns + c] =
                static_cast<unsigned char>(std::lround(std::clamp(grey, 0.0, 255.0)));
        }
    }
    return image;
}

GreyImage sceneAtPitch(const GreyImage& scene, double scenePitch, double topLeftX, double topLeftY,
                       double pitch, int rows, int columns) {
    GreyImage out{columns, rows, std::vector<unsigned char>(std::size_t(columns) * rows)};
    auto wrap = [](long value, int size) {
        return static_cast<int>(((value % size) + size) % size);
    };
    for (int r = 0; r < rows; ++r) {
        const double sy = (topLeftX + (r + 0.5) * pitch) / scenePitch - 0.5;
        const double fy = std::floor(sy);
        const int y0 = wrap(static_cast<long>(fy), scene.height);
        const int y1 = wrap(static_cast<long>(fy) + 1, scene.height);
        for (int c = 0; c < columns; ++c) {
            const double sx = (topLeftY + (c + 0.5) * pitch) / scenePitch - 0.5;
            const double fx = std::floor(sx);
            const int x0 = wrap(static_cast<long>(fx), scene.width);
            const int x1 = wrap(static_cast<long>(fx) + 1, scene.width);
            auto at = [&](int x, int y) {
                return static_cast<double>(scene.pixels[std::size_t(y) * scene.width + x]);
            };
            const double top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * (sx - fx);
            const double bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * (sx - fx);
            out.pixels[std::size_t(r) * columns + c] =
                static_cast<unsigned char>(std::lround(top + (bottom - top) * (sy - fy)));
        }
    }
    return out;
}

StitchError compareWithScene(const GreyImage& image, const GreyImage& reference,
                             const std::vector<int>& seams, int band) {
    StitchError error;
    if (image.width != reference.width || image.height != reference.height) {
        return error;
    }
    // Per column the sum of the absolute differences, for the bands along the seams.
    std::vector<double> columnSum(static_cast<std::size_t>(image.width), 0.0);
    std::vector<int> histogram(256, 0);
    for (int r = 0; r < image.height; ++r) {
        for (int c = 0; c < image.width; ++c) {
            const std::size_t i = std::size_t(r) * image.width + c;
            const int d = std::abs(image.pixels[i] - reference.pixels[i]);
            ++histogram[static_cast<std::size_t>(d)];
            columnSum[static_cast<std::size_t>(c)] += d;
        }
    }
    error.pixels = image.pixels.size();
    if (error.pixels == 0) {
        return error;
    }
    std::vector<bool> nearSeam(static_cast<std::size_t>(image.width), false);
    for (int seam : seams) {
        double sum = 0.0;
        int columns = 0;
        for (int c = std::max(0, seam - band); c < std::min(image.width, seam + band); ++c) {
            nearSeam[static_cast<std::size_t>(c)] = true;
            sum += columnSum[static_cast<std::size_t>(c)];
            ++columns;
        }
        if (columns > 0) {
            error.seamMean = std::max(error.seamMean, sum / (double(columns) * image.height));
        }
    }
    double total = 0.0;
    double elsewhere = 0.0;
    int elsewhereColumns = 0;
    for (int c = 0; c < image.width; ++c) {
        total += columnSum[static_cast<std::size_t>(c)];
        if (!nearSeam[static_cast<std::size_t>(c)]) {
            elsewhere += columnSum[static_cast<std::size_t>(c)];
            ++elsewhereColumns;
        }
    }
    error.mean = total / static_cast<double>(error.pixels);
    error.elsewhereMean =
        elsewhereColumns > 0 ? elsewhere / (double(elsewhereColumns) * image.height) : 0.0;
    std::size_t below = 0;
    for (int d = 0; d < 256; ++d) {
        below += static_cast<std::size_t>(histogram[static_cast<std::size_t>(d)]);
        if (below * 100 >= error.pixels * 99) {
            error.percentile99 = d;
            break;
        }
    }
    return error;
}

std::vector<std::vector<double>> segmentMeans(const GreyImage& image, int bands, int cameras) {
    std::vector<std::vector<double>> means(static_cast<std::size_t>(bands),
                                           std::vector<double>(static_cast<std::size_t>(cameras)));
    const int rows = image.height / bands;
    const int columns = image.width / cameras;
    for (int band = 0; band < bands; ++band) {
        for (int camera = 0; camera < cameras; ++camera) {
            double sum = 0.0;
            for (int r = band * rows; r < (band + 1) * rows; ++r) {
                const unsigned char* row = image.pixels.data() + std::size_t(r) * image.width;
                for (int c = camera * columns; c < (camera + 1) * columns; ++c) {
                    sum += row[c];
                }
            }
            means[std::size_t(band)][std::size_t(camera)] =
                rows * columns > 0 ? sum / (double(rows) * columns) : 0.0;
        }
    }
    return means;
}

double largestBandSpread(const std::vector<std::vector<double>>& means) {
    double spread = 0.0;
    for (const std::vector<double>& band : means) {
        const auto [low, high] = std::minmax_element(band.begin(), band.end());
        spread = band.empty() ? spread : std::max(spread, *high - *low);
    }
    return spread;
}

GreyImage sideBySide(const std::vector<GreyImage>& images, int gap, int shrink) {
    int columns = 0;
    int rows = 0;
    for (const GreyImage& image : images) {
        columns += image.width / shrink + (columns > 0 ? gap : 0);
        rows = std::max(rows, image.height / shrink);
    }
    GreyImage out{columns, rows, std::vector<unsigned char>(std::size_t(columns) * rows, 255)};
    int left = 0;
    for (const GreyImage& image : images) {
        for (int r = 0; r < image.height / shrink; ++r) {
            for (int c = 0; c < image.width / shrink; ++c) {
                int sum = 0;
                for (int i = 0; i < shrink; ++i) {
                    for (int j = 0; j < shrink; ++j) {
                        sum +=
                            image
                                .pixels[std::size_t(r * shrink + i) * image.width + c * shrink + j];
                    }
                }
                out.pixels[std::size_t(r) * columns + left + c] =
                    static_cast<unsigned char>((sum + shrink * shrink / 2) / (shrink * shrink));
            }
        }
        left += image.width / shrink + gap;
    }
    return out;
}

bool readFinalLayout(const std::string& ini, const std::string& scanner, FinalLayout& layout,
                     std::string& reason) {
    auto number = [&](const std::string& section, const char* key, double& value) {
        char text[64] = "";
        platform::getPrivateProfileString(section.c_str(), key, "", text, sizeof text, ini.c_str());
        char* end = nullptr;
        value = std::strtod(text, &end);
        if (text[0] == '\0' || *end != '\0' || !std::isfinite(value)) {
            reason = "[" + section + "] " + key + " in " + ini + " is missing or not a number";
            return false;
        }
        return true;
    };
    double cameras = 0.0;
    if (!number(scanner, "TopLeft_x", layout.topLeftX) ||
        !number(scanner, "TopLeft_y", layout.topLeftY) ||
        !number(scanner, "Pitch_y", layout.pitch) || !number(scanner, "Cameras", cameras)) {
        return false;
    }
    if (!(layout.pitch > 0.0)) {
        reason = "[" + scanner + "] Pitch_y in " + ini + " is not above 0";
        return false;
    }
    layout.seams.clear();
    double columns = 0.0;
    for (int i = 1; i < static_cast<int>(cameras); ++i) {
        double width = 0.0;
        if (!number(scanner + ".Camera" + std::to_string(i), "Size_y", width)) {
            return false;
        }
        columns += width / layout.pitch;
        layout.seams.push_back(static_cast<int>(std::lround(columns)));
    }
    return true;
}

bool loadGreyImage(const std::string& path, GreyImage& image, std::string& reason) {
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &image.width, &image.height, &channels, 1);
    if (data == nullptr) {
        const char* why = stbi_failure_reason();
        reason = why != nullptr ? why : "unreadable";
        return false;
    }
    image.pixels.assign(data, data + static_cast<std::size_t>(image.width) * image.height);
    stbi_image_free(data);
    return true;
}

}  // namespace quiltra::calibrate

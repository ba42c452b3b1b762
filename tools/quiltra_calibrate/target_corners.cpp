#include "target_corners.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <sstream>

namespace quiltra::calibrate {

namespace {

constexpr double kMinSquarePixels = 8.0;

// Saddle points of the smoothed image: where the Hessian's determinant is most negative.
std::vector<cv::Point2f> saddleCandidates(const cv::Mat& grey, double squarePixels) {
    cv::Mat smooth;
    grey.convertTo(smooth, CV_32F);
    const double sigma = std::max(1.0, squarePixels / 8.0);
    cv::GaussianBlur(smooth, smooth, cv::Size(), sigma);
    cv::Mat dxx;
    cv::Mat dyy;
    cv::Mat dxy;
    cv::Sobel(smooth, dxx, CV_32F, 2, 0, 3);
    cv::Sobel(smooth, dyy, CV_32F, 0, 2, 3);
    cv::Sobel(smooth, dxy, CV_32F, 1, 1, 3);
    cv::Mat response = dxy.mul(dxy) - dxx.mul(dyy);
    double maxResponse = 0.0;
    cv::minMaxLoc(response, nullptr, &maxResponse);
    if (maxResponse <= 0.0) {
        return {};
    }
    const int radius = std::max(2, static_cast<int>(squarePixels / 4.0));
    cv::Mat dilated;
    cv::dilate(response, dilated,
               cv::getStructuringElement(cv::MORPH_RECT, {2 * radius + 1, 2 * radius + 1}));
    std::vector<cv::Point2f> candidates;
    const float threshold = static_cast<float>(0.1 * maxResponse);
    for (int y = 1; y < response.rows - 1; ++y) {
        for (int x = 1; x < response.cols - 1; ++x) {
            const float r = response.at<float>(y, x);
            if (r > threshold && r >= dilated.at<float>(y, x)) {
                candidates.emplace_back(static_cast<float>(x), static_cast<float>(y));
            }
        }
    }
    if (candidates.empty()) {
        return candidates;
    }
    const int window = std::max(3, static_cast<int>(squarePixels / 4.0));
    std::vector<cv::Point2f> refined = candidates;
    cv::cornerSubPix(grey, refined, {window, window}, {-1, -1},
                     cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 100, 1e-4));
    std::vector<cv::Point2f> kept;
    for (std::size_t i = 0; i < refined.size(); ++i) {
        if (cv::norm(refined[i] - candidates[i]) < squarePixels / 4.0) {
            kept.push_back(refined[i]);
        }
    }
    return kept;
}

struct Grid {
    const TargetBoard& target;
    cv::Mat homography;  // world -> pixel, the current estimate

    cv::Point2d predict(int i, int j) const {
        const double x = i * target.square;
        const double y = j * target.square;
        const double* h = homography.ptr<double>();
        const double w = h[6] * x + h[7] * y + h[8];
        return {(h[0] * x + h[1] * y + h[2]) / w, (h[3] * x + h[4] * y + h[5]) / w};
    }
};

}  // namespace

TargetCorners findTargetCorners(const GreyImage& image, const TargetBoard& target,
                                const NominalView& view) {
    TargetCorners result;
    const double squarePixels = target.square / view.pitch;
    if (squarePixels < kMinSquarePixels) {
        std::ostringstream reason;
        reason << "the target's squares are " << squarePixels
               << " pixels wide at the nominal pitch; they need at least " << kMinSquarePixels;
        result.failure = reason.str();
        return result;
    }
    const cv::Mat grey(image.height, image.width, CV_8U,
                       const_cast<unsigned char*>(image.pixels.data()));
    const std::vector<cv::Point2f> candidates = saddleCandidates(grey, squarePixels);
    const double p = view.pitch;
    // The nominal view, world (x, y) -> pixel (u, v).
    Grid grid{target, (cv::Mat_<double>(3, 3) << 0.0, 1.0 / p, -view.originY / p - 0.5, 1.0 / p,
                       0.0, -view.originX / p - 0.5, 0.0, 0.0, 1.0)};
    auto nearest = [&](cv::Point2d at, double within, const std::set<std::size_t>& used) {
        std::size_t best = candidates.size();
        double bestDistance = within;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const double d = cv::norm(cv::Point2d(candidates[k]) - at);
            if (d < bestDistance && used.count(k) == 0) {
                best = k;
                bestDistance = d;
            }
        }
        return best;
    };
    // The seed: the target corner nominally nearest to the image centre.
    const double centreX = view.originX + image.height * p / 2.0;
    const double centreY = view.originY + image.width * p / 2.0;
    const int i0 =
        std::clamp(static_cast<int>(std::lround(centreX / target.square)), 1, target.rows - 1);
    const int j0 =
        std::clamp(static_cast<int>(std::lround(centreY / target.square)), 1, target.columns - 1);
    std::set<std::size_t> used;
    const std::size_t seed = nearest(grid.predict(i0, j0), squarePixels / 2.0, used);
    if (seed == candidates.size()) {
        result.failure =
            "no target corner within half a square of where the nominal view puts corner (" +
            std::to_string(i0) + ", " + std::to_string(j0) + ")";
        return result;
    }
    std::map<std::pair<int, int>, cv::Point2d> found;
    found[{i0, j0}] = candidates[seed];
    used.insert(seed);
    std::deque<std::pair<int, int>> queue{{i0, j0}};
    std::size_t lastFit = 1;
    while (!queue.empty()) {
        const auto [i, j] = queue.front();
        queue.pop_front();
        const cv::Point2d here = found[{i, j}];
        const cv::Point2d predictedHere = grid.predict(i, j);
        for (const auto& [di, dj] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int ni = i + di;
            const int nj = j + dj;
            if (ni < 1 || nj < 1 || ni >= target.rows || nj >= target.columns ||
                found.count({ni, nj}) != 0) {
                continue;
            }
            // The neighbour as the current model moves it from this corner.
            const cv::Point2d step = grid.predict(ni, nj) - predictedHere;
            const std::size_t k = nearest(here + step, 0.3 * cv::norm(step), used);
            if (k == candidates.size()) {
                continue;
            }
            used.insert(k);
            found[{ni, nj}] = candidates[k];
            queue.emplace_back(ni, nj);
        }
        // Refit the model whenever the corners found have doubled.
        if (found.size() >= 2 * lastFit && found.size() >= 6) {
            std::vector<cv::Point2d> world;
            std::vector<cv::Point2d> pixel;
            for (const auto& [index, at] : found) {
                world.emplace_back(index.first * target.square, index.second * target.square);
                pixel.push_back(at);
            }
            const cv::Mat h = cv::findHomography(world, pixel, 0);
            if (!h.empty()) {
                grid.homography = h;
            }
            lastFit = found.size();
        }
    }
    std::set<int> rows;
    std::set<int> columns;
    double minU = image.width;
    double maxU = 0.0;
    double minV = image.height;
    double maxV = 0.0;
    for (const auto& [index, at] : found) {
        result.corners.push_back(
            {{index.first * target.square, index.second * target.square}, {at.x, at.y}});
        rows.insert(index.first);
        columns.insert(index.second);
        minU = std::min(minU, at.x);
        maxU = std::max(maxU, at.x);
        minV = std::min(minV, at.y);
        maxV = std::max(maxV, at.y);
    }
    result.rowsSpanned = static_cast<int>(rows.size());
    result.columnsSpanned = static_cast<int>(columns.size());
    result.widthCovered = std::max(0.0, maxU - minU) / image.width;
    result.heightCovered = std::max(0.0, maxV - minV) / image.height;
    return result;
}

}  // namespace quiltra::calibrate

#include "model_fit.h"

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <utility>

namespace quiltra::calibrate {

namespace {

constexpr int kHomographyParameters = 8;  // h22 is kept at 1 in normalised coordinates

int distortionCount(DistortionTerms terms) {
    switch (terms) {
        case DistortionTerms::none:
            return 0;
        case DistortionTerms::radial:
            return 2;
        case DistortionTerms::tangential:
            return 4;
        case DistortionTerms::full:
            return 5;
    }
    return 0;
}

// The world points are moved and scaled to about unit size around 0 for the fit, so that
// the normal equations stay well conditioned; the fitted homography is turned back after.
struct Normalisation {
    double x0 = 0.0;
    double y0 = 0.0;
    double scale = 1.0;
};

class Fitter {
public:
    Fitter(const std::vector<Correspondence>& points, int width, int height, DistortionTerms terms,
           const std::string& units)
        : points_(points), terms_(distortionCount(terms)) {
        base_.units = units;
        base_.width = width;
        base_.height = height;
        const double half =
            0.5 * std::hypot(static_cast<double>(width), static_cast<double>(height));
        base_.lens = {half, half, (width - 1) / 2.0, (height - 1) / 2.0};
        double sx = 0.0;
        double sy = 0.0;
        for (const Correspondence& p : points_) {
            sx += p.world.x;
            sy += p.world.y;
        }
        norm_.x0 = sx / static_cast<double>(points_.size());
        norm_.y0 = sy / static_cast<double>(points_.size());
        double spread = 0.0;
        for (const Correspondence& p : points_) {
            spread = std::max(spread, std::hypot(p.world.x - norm_.x0, p.world.y - norm_.y0));
        }
        norm_.scale = spread > 0.0 ? spread : 1.0;
    }

    // The homography alone, as the start of the fit.
    std::vector<double> start() const {
        std::vector<cv::Point2d> world;
        std::vector<cv::Point2d> pixel;
        for (const Correspondence& p : points_) {
            world.push_back(normalised(p.world));
            pixel.emplace_back(p.pixel.u, p.pixel.v);
        }
        const cv::Mat h = cv::findHomography(world, pixel, 0);
        if (h.empty() || std::fabs(h.at<double>(2, 2)) < 1e-12) {
            throw std::runtime_error(
                "the corners do not determine a homography (too few, or in a line)");
        }
        std::vector<double> parameters(static_cast<std::size_t>(kHomographyParameters + terms_),
                                       0.0);
        for (int i = 0; i < kHomographyParameters; ++i) {
            parameters[static_cast<std::size_t>(i)] =
                h.at<double>(i / 3, i % 3) / h.at<double>(2, 2);
        }
        return parameters;
    }

    // Levenberg-Marquardt on the reprojection error, with a numerical Jacobian.
    std::vector<double> refine(std::vector<double> parameters) const {
        const int n = static_cast<int>(parameters.size());
        const int m = static_cast<int>(points_.size()) * 2;
        double lambda = 1e-3;
        std::vector<double> residual = residuals(parameters);
        double cost = sumOfSquares(residual);
        for (int iteration = 0; iteration < 200; ++iteration) {
            cv::Mat jacobian(m, n, CV_64F);
            for (int j = 0; j < n; ++j) {
                std::vector<double> moved = parameters;
                const double step =
                    1e-7 * std::max(1.0, std::fabs(parameters[static_cast<std::size_t>(j)]));
                moved[static_cast<std::size_t>(j)] += step;
                const std::vector<double> r = residuals(moved);
                for (int i = 0; i < m; ++i) {
                    jacobian.at<double>(i, j) =
                        (r[static_cast<std::size_t>(i)] - residual[static_cast<std::size_t>(i)]) /
                        step;
                }
            }
            const cv::Mat r(m, 1, CV_64F, residual.data());
            const cv::Mat normal = jacobian.t() * jacobian;
            const cv::Mat gradient = jacobian.t() * r;
            bool improved = false;
            while (lambda < 1e12) {
                cv::Mat damped = normal.clone();
                for (int j = 0; j < n; ++j) {
                    damped.at<double>(j, j) *= 1.0 + lambda;
                }
                cv::Mat delta;
                if (!cv::solve(damped, -gradient, delta, cv::DECOMP_CHOLESKY)) {
                    lambda *= 10.0;
                    continue;
                }
                std::vector<double> trial = parameters;
                for (int j = 0; j < n; ++j) {
                    trial[static_cast<std::size_t>(j)] += delta.at<double>(j);
                }
                const std::vector<double> trialResidual = residuals(trial);
                const double trialCost = sumOfSquares(trialResidual);
                if (trialCost < cost) {
                    const double gain = cost - trialCost;
                    parameters = trial;
                    residual = trialResidual;
                    cost = trialCost;
                    lambda = std::max(lambda / 10.0, 1e-12);
                    improved = gain > 1e-14 * std::max(cost, 1e-30);
                    break;
                }
                lambda *= 10.0;
            }
            if (!improved) {
                break;
            }
        }
        return parameters;
    }

    CameraCalibration calibration(const std::vector<double>& parameters) const {
        CameraCalibration c = base_;
        // H = Hn * T, T taking world to normalised coordinates.
        const double s = 1.0 / norm_.scale;
        const double t[9] = {s, 0.0, -norm_.x0 * s, 0.0, s, -norm_.y0 * s, 0.0, 0.0, 1.0};
        double hn[9];
        for (int i = 0; i < 8; ++i) {
            hn[i] = parameters[static_cast<std::size_t>(i)];
        }
        hn[8] = 1.0;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                double sum = 0.0;
                for (int k = 0; k < 3; ++k) {
                    sum += hn[i * 3 + k] * t[k * 3 + j];
                }
                c.homography[static_cast<std::size_t>(i * 3 + j)] = sum;
            }
        }
        // Scaled so that h22 is 1 where it can be: the same mapping, easier to read. A
        // positive factor only, so that w stays positive where the target was seen.
        const double h22 = std::fabs(c.homography[8]);
        if (h22 > 1e-12) {
            for (double& h : c.homography) {
                h /= h22;
            }
        }
        for (int k = 0; k < terms_; ++k) {
            c.distortion[static_cast<std::size_t>(k)] =
                parameters[static_cast<std::size_t>(kHomographyParameters + k)];
        }
        return c;
    }

private:
    cv::Point2d normalised(WorldPoint p) const {
        return {(p.x - norm_.x0) / norm_.scale, (p.y - norm_.y0) / norm_.scale};
    }

    std::vector<double> residuals(const std::vector<double>& parameters) const {
        const CameraCalibration c = calibration(parameters);
        std::vector<double> r;
        r.reserve(points_.size() * 2);
        for (const Correspondence& p : points_) {
            const std::optional<PixelPoint> seen = worldToPixel(c, p.world);
            // A corner behind the horizon counts as far off.
            r.push_back(seen ? seen->u - p.pixel.u : 1e6);
            r.push_back(seen ? seen->v - p.pixel.v : 1e6);
        }
        return r;
    }

    static double sumOfSquares(const std::vector<double>& values) {
        double sum = 0.0;
        for (double v : values) {
            sum += v * v;
        }
        return sum;
    }

    const std::vector<Correspondence>& points_;
    int terms_ = 0;
    CameraCalibration base_;
    Normalisation norm_;
};

double pixelError(const CameraCalibration& c, const Correspondence& p) {
    const std::optional<PixelPoint> seen = worldToPixel(c, p.world);
    return seen ? std::hypot(seen->u - p.pixel.u, seen->v - p.pixel.v) : 1e6;
}

CameraCalibration fitOnce(const std::vector<Correspondence>& points, int width, int height,
                          DistortionTerms terms, const std::string& units) {
    const Fitter fitter(points, width, height, terms, units);
    std::vector<double> parameters = fitter.start();
    parameters = fitter.refine(parameters);
    return fitter.calibration(parameters);
}

}  // namespace

FitResult fitCamera(const std::vector<Correspondence>& points, int width, int height,
                    DistortionTerms terms, const std::string& units) {
    const std::size_t needed = 8;
    if (points.size() < needed) {
        throw std::runtime_error("a model needs at least 8 target corners");
    }
    FitResult result;
    std::vector<Correspondence> kept = points;
    result.calibration = fitOnce(kept, width, height, terms, units);
    // Corners taken from something else than the target (or partly hidden) are left out,
    // and the model fitted again, until none is more than 1 pixel and 5 times the rms off.
    for (int round = 0; round < 5; ++round) {
        double sum = 0.0;
        for (const Correspondence& p : kept) {
            const double e = pixelError(result.calibration, p);
            sum += e * e;
        }
        const double limit = std::max(1.0, 5.0 * std::sqrt(sum / static_cast<double>(kept.size())));
        std::vector<Correspondence> closer;
        for (const Correspondence& p : kept) {
            if (pixelError(result.calibration, p) <= limit) {
                closer.push_back(p);
            }
        }
        if (closer.size() == kept.size() || closer.size() < needed) {
            break;
        }
        kept = std::move(closer);
        result.calibration = fitOnce(kept, width, height, terms, units);
    }
    result.used = kept.size();
    result.dropped = points.size() - kept.size();
    double pixelSum = 0.0;
    double worldSum = 0.0;
    for (const Correspondence& p : kept) {
        const double e = pixelError(result.calibration, p);
        const double w = e * worldPerPixel(result.calibration, p.world);
        pixelSum += e * e;
        worldSum += w * w;
        result.maxPixels = std::max(result.maxPixels, e);
        result.maxWorld = std::max(result.maxWorld, w);
    }
    result.rmsPixels = std::sqrt(pixelSum / static_cast<double>(kept.size()));
    result.rmsWorld = std::sqrt(worldSum / static_cast<double>(kept.size()));
    return result;
}

}  // namespace quiltra::calibrate

// quiltra-stitch-check: the demo's scene, pictures of images side by side, the check of a
// calibrated scanner's final image against the scene it shows, and the brightness of a final
// image's segments.
//
//   quiltra-stitch-check scene --out scene.png [--columns N --rows N]
//   quiltra-stitch-check join --out picture.png [--shrink N] [--gap N] IMAGE...
//   quiltra-stitch-check check --final F.png --scene S.png --scene-pitch MM --system-dir DIR
//                              [--scanner Scanner0001] [--band 3]
//   quiltra-stitch-check segments --final F.png --bands N --cameras N [--max-spread GREY]
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "png_file.h"
#include "scene_check.h"

namespace {

using namespace quiltra::calibrate;

bool save(const std::string& path, const GreyImage& image) {
    if (quiltra::tools::writePngFile(path, image.width, image.height, 1, image.pixels)) {
        return true;
    }
    std::cerr << "quiltra-stitch-check: error: cannot write " << path << "\n";
    return false;
}

bool load(const std::string& path, GreyImage& image) {
    std::string reason;
    if (loadGreyImage(path, image, reason)) {
        return true;
    }
    std::cerr << "quiltra-stitch-check: error: cannot read " << path << " (" << reason << ")\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The demo's scene, pictures side by side, and a final image against its scene"};
    app.require_subcommand(1);
    std::string out;
    int columns = 2000;
    int rows = 600;
    CLI::App* scene = app.add_subcommand("scene", "write the demo's scene (grey PNG)");
    scene->add_option("--out", out, "the PNG file")->required();
    scene->add_option("--columns", columns, "its width in pixels")->check(CLI::Range(16, 20000));
    scene->add_option("--rows", rows, "its height in pixels")->check(CLI::Range(16, 20000));

    std::vector<std::string> images;
    int shrink = 2;
    int gap = 8;
    CLI::App* join = app.add_subcommand("join", "write images side by side, shrunk (grey PNG)");
    join->add_option("--out", out, "the PNG file")->required();
    join->add_option("--shrink", shrink, "shrink each image by this whole factor")
        ->check(CLI::Range(1, 16));
    join->add_option("--gap", gap, "white pixels between the images")->check(CLI::Range(0, 1000));
    join->add_option("images", images, "the images, left to right")->required();

    std::string final;
    std::string sceneFile;
    double scenePitch = 0.0;
    std::string systemDir;
    std::string scanner = "Scanner0001";
    int band = 3;
    StitchLimits limits;
    CLI::App* check = app.add_subcommand(
        "check", "compare a scanner's final image with its scene rendered at the final pitch");
    check->add_option("--final", final, "the final image (PNG)")->required();
    check->add_option("--scene", sceneFile, "the scene the cameras look at (PNG)")->required();
    check->add_option("--scene-pitch", scenePitch, "world units per scene pixel")
        ->required()
        ->check(CLI::PositiveNumber);
    check->add_option("--system-dir", systemDir, "the folder of Quiltra.ini")->required();
    check->add_option("--scanner", scanner, "the scanner's section");
    check->add_option("--band", band, "pixels each side of a seam")->check(CLI::Range(1, 100));
    check->add_option("--max-mean", limits.mean, "grey levels");
    check->add_option("--max-p99", limits.percentile99, "grey levels");
    check->add_option("--max-seam-factor", limits.seamFactor, "seam band mean / mean elsewhere");

    int bands = 1;
    int cameras = 1;
    double maxSpread = -1.0;
    CLI::App* segments = app.add_subcommand(
        "segments", "the mean grey of each segment of a final image, band by band");
    segments->add_option("--final", final, "the final image (PNG)")->required();
    segments->add_option("--bands", bands, "scans of the image")->check(CLI::Range(1, 1000));
    segments->add_option("--cameras", cameras, "segments of a band")->check(CLI::Range(1, 32));
    segments->add_option("--max-spread", maxSpread,
                         "fail when two segments of one band differ by more (grey levels)");
    CLI11_PARSE(app, argc, argv);

    if (scene->parsed()) {
        return save(out, demoScene(columns, rows)) ? 0 : 1;
    }
    if (join->parsed()) {
        std::vector<GreyImage> loaded(images.size());
        for (std::size_t i = 0; i < images.size(); ++i) {
            if (!load(images[i], loaded[i])) {
                return 1;
            }
        }
        return save(out, sideBySide(loaded, gap, shrink)) ? 0 : 1;
    }
    GreyImage image;
    if (segments->parsed()) {
        if (!load(final, image)) {
            return 1;
        }
        const auto means = segmentMeans(image, bands, cameras);
        for (std::size_t band = 0; band < means.size(); ++band) {
            std::printf("band %zu:", band + 1);
            for (double mean : means[band]) {
                std::printf(" %6.2f", mean);
            }
            std::printf("\n");
        }
        const double spread = largestBandSpread(means);
        std::printf("largest difference within a band: %.2f grey levels\n", spread);
        if (maxSpread >= 0.0 && spread > maxSpread) {
            std::cerr << "quiltra-stitch-check: error: " << final << ": segments of one band "
                      << "differ by " << spread << " grey levels, more than " << maxSpread << "\n";
            return 1;
        }
        return 0;
    }
    GreyImage plane;
    if (!load(final, image) || !load(sceneFile, plane)) {
        return 1;
    }
    FinalLayout layout;
    std::string reason;
    const std::string ini = (std::filesystem::path(systemDir) / "Quiltra.ini").string();
    if (!readFinalLayout(ini, scanner, layout, reason)) {
        std::cerr << "quiltra-stitch-check: error: " << reason << "\n";
        return 1;
    }
    const GreyImage reference = sceneAtPitch(plane, scenePitch, layout.topLeftX, layout.topLeftY,
                                             layout.pitch, image.height, image.width);
    const StitchError error = compareWithScene(image, reference, layout.seams, band);
    std::cout << final << " against the scene at pitch " << layout.pitch << ": " << image.width
              << " x " << image.height << " pixels, absolute difference mean " << error.mean
              << ", 99th percentile " << error.percentile99 << " grey levels; within " << band
              << " pixels of the worst of the " << layout.seams.size() << " seams mean "
              << error.seamMean << ", elsewhere " << error.elsewhereMean << "\n";
    const std::string failures = error.failures(limits);
    if (!failures.empty()) {
        std::cerr << "quiltra-stitch-check: error: " << final
                  << " does not match its scene: " << failures << "\n";
        return 1;
    }
    return 0;
}

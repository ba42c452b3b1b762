#include "flat_field.h"

#include <stb_image.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "calibrate_options.h"
#include "platform/private_profile.h"

namespace quiltra::calibrate {

namespace {

// An image as bytes: 1 per pixel (grey) or 3 (R, G, B).
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> bytes;
};

// A PNG, PGM or PPM file; grey with alpha counts as grey, RGBA as RGB.
bool loadPicture(const std::string& path, Picture& picture, std::string& reason) {
    int stored = 0;
    unsigned char* data = stbi_load(path.c_str(), &picture.width, &picture.height, &stored, 0);
    if (data == nullptr) {
        const char* why = stbi_failure_reason();
        reason = why != nullptr ? why : "unreadable";
        return false;
    }
    picture.channels = stored <= 2 ? 1 : 3;
    const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;
    picture.bytes.resize(pixels * static_cast<std::size_t>(picture.channels));
    for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < picture.channels; ++c) {
            picture.bytes[i * picture.channels + c] = data[i * stored + c];
        }
    }
    stbi_image_free(data);
    return true;
}

std::string sizeText(const Picture& picture) {
    return std::to_string(picture.width) + " x " + std::to_string(picture.height) +
           (picture.channels == 1 ? " grey" : " colour");
}

// The mean of the images, byte by byte and rounded: kExitOk, or with the reason on `err`
// kExitGrab when an image cannot be read and kExitBadReferences when one differs in size or
// kind from `first` (the first image of all).
int averageImages(const std::vector<std::string>& files, const char* kind, Picture& first,
                  std::string& firstFile, Picture& mean, std::ostream& err) {
    std::vector<uint32_t> sums;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string which =
            std::string(kind) + " image " + std::to_string(i + 1) + " (" + files[i] + ")";
        Picture picture;
        std::string reason;
        if (!loadPicture(files[i], picture, reason)) {
            err << "quiltra-calibrate: error: cannot read " << which << ": " << reason << "\n";
            return kExitGrab;
        }
        if (first.bytes.empty()) {
            first = picture;
            firstFile = which;
        } else if (picture.width != first.width || picture.height != first.height ||
                   picture.channels != first.channels) {
            err << "quiltra-calibrate: error: " << which << " is " << sizeText(picture) << ", "
                << firstFile << " " << sizeText(first)
                << ": every dark and flat image must be of one size and kind\n";
            return kExitBadReferences;
        }
        sums.resize(picture.bytes.size(), 0);
        for (std::size_t b = 0; b < sums.size(); ++b) {
            sums[b] += picture.bytes[b];
        }
    }
    mean = first;
    const auto count = static_cast<uint32_t>(files.size());
    for (std::size_t b = 0; b < sums.size(); ++b) {
        mean.bytes[b] = static_cast<uint8_t>((sums[b] + count / 2) / count);
    }
    return kExitOk;
}

double meanOf(const Picture& picture) {
    double sum = 0.0;
    for (uint8_t byte : picture.bytes) {
        sum += byte;
    }
    return picture.bytes.empty() ? 0.0 : sum / static_cast<double>(picture.bytes.size());
}

// A binary PGM (P5) or PPM (P6) with maximum value 255, as the prefilter plug-in reads it.
bool writePicture(const std::string& path, const Picture& picture) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << (picture.channels == 1 ? "P5" : "P6") << "\n"
         << picture.width << " " << picture.height << "\n255\n";
    file.write(reinterpret_cast<const char*>(picture.bytes.data()),
               static_cast<std::streamsize>(picture.bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

// What Quiltra.ini's Prefilter should say for `file`: relative to the system folder when it
// lies below it (Quiltra joins such a path to the folder), else absolute.
std::string prefilterKey(const std::filesystem::path& file, const std::string& systemDir) {
    const std::filesystem::path absolute = std::filesystem::absolute(file).lexically_normal();
    const std::filesystem::path relative =
        absolute.lexically_relative(std::filesystem::absolute(systemDir).lexically_normal());
    if (!relative.empty() && *relative.begin() != "..") {
        return relative.generic_string();
    }
    return absolute.string();
}

}  // namespace

int runFlatField(const FlatFieldRequest& request, std::ostream& out, std::ostream& err) {
    if (request.darkImages.empty() || request.flatImages.empty()) {
        err << "quiltra-calibrate: error: no " << (request.darkImages.empty() ? "dark" : "flat")
            << " images given: the references are the mean of at least one image each, the "
               "dark ones with the lens covered, the flat ones of a uniform, evenly lit target\n";
        return kExitUsage;
    }
    Picture first;
    std::string firstFile;
    Picture dark;
    Picture flat;
    for (const auto& [files, kind, mean] :
         {std::tuple{&request.darkImages, "dark", &dark}, {&request.flatImages, "flat", &flat}}) {
        const int code = averageImages(*files, kind, first, firstFile, *mean, err);
        if (code != kExitOk) {
            return code;
        }
    }
    // What the plug-in divides by: flat - dark, and its mean over the bytes where it is above 0.
    std::size_t notAbove = 0;
    std::size_t saturated = 0;
    double sum = 0.0;
    for (std::size_t b = 0; b < flat.bytes.size(); ++b) {
        const int difference = int{flat.bytes[b]} - int{dark.bytes[b]};
        notAbove += difference <= 0 ? 1 : 0;
        saturated += flat.bytes[b] == 255 ? 1 : 0;
        sum += difference > 0 ? difference : 0;
    }
    const double darkMean = meanOf(dark);
    const double flatMean = meanOf(flat);
    if (!(flatMean > darkMean) || notAbove == flat.bytes.size()) {
        err << "quiltra-calibrate: error: the flat images (mean " << flatMean
            << ") are not brighter than the dark images (mean " << darkMean
            << "): take the dark ones with the lens covered and the flat ones of a uniform, "
               "evenly lit target\n";
        return kExitBadReferences;
    }
    const double correctedMean = sum / static_cast<double>(flat.bytes.size() - notAbove);
    if (notAbove > 0) {
        out << "warning: " << notAbove << " of " << flat.bytes.size()
            << " bytes of the flat are not above the dark; the prefilter leaves them "
               "uncorrected\n";
    }
    if (saturated > 0) {
        out << "warning: " << saturated << " of " << flat.bytes.size()
            << " bytes of the flat are 255 (saturated); expose the flat target less\n";
    }

    const std::string name = !request.name.empty() ? request.name
                             : request.camera > 0
                                 ? request.scanner + ".Camera" + std::to_string(request.camera)
                                 : std::string("flatfield");
    const std::string extension = flat.channels == 1 ? ".pgm" : ".ppm";
    const std::filesystem::path folder(request.outDir);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string darkName = name + ".dark" + extension;
    const std::string flatName = name + ".flat" + extension;
    const std::filesystem::path prefilterFile = folder / (name + ".pf");
    std::string text = "quiltra-prefilter 1\n# flat field by quiltra-calibrate flatfield from " +
                       std::to_string(request.darkImages.size()) + " dark and " +
                       std::to_string(request.flatImages.size()) + " flat images, " +
                       sizeText(flat) + "\ndark = " + darkName + "\nflat = " + flatName + "\n";
    if (request.flatLevel > 0.0) {
        char gain[32];
        std::snprintf(gain, sizeof gain, "%.6f", request.flatLevel / correctedMean);
        text += std::string("gain = ") + gain + "\n";
    }
    for (const auto& [file, picture] :
         {std::pair{folder / darkName, &dark}, std::pair{folder / flatName, &flat}}) {
        if (!writePicture(file.string(), *picture)) {
            err << "quiltra-calibrate: error: cannot write " << file.string() << "\n";
            return kExitWrite;
        }
    }
    std::ofstream pf(prefilterFile, std::ios::binary | std::ios::trunc);
    pf << text;
    pf.close();
    if (!pf) {
        err << "quiltra-calibrate: error: cannot write " << prefilterFile.string() << "\n";
        return kExitWrite;
    }
    out << "flat field of " << sizeText(flat) << " pixels: dark mean " << darkMean << ", flat mean "
        << flatMean << ", flat - dark mean " << correctedMean;
    if (request.flatLevel > 0.0) {
        out << ", corrected to " << request.flatLevel;
    }
    out << "; wrote " << prefilterFile.string() << "\n";
    if (request.camera > 0) {
        const std::string ini = (std::filesystem::path(request.systemDir) / "Quiltra.ini").string();
        const std::string section = request.scanner + ".Camera" + std::to_string(request.camera);
        const std::string value = prefilterKey(prefilterFile, request.systemDir);
        platform::ProfileEdit edit(ini.c_str());
        const bool written = edit.writeString(section.c_str(), "Prefilter", value.c_str());
        if (!edit.commit() || !written) {
            err << "quiltra-calibrate: error: cannot write [" << section << "] Prefilter of " << ini
                << "\n";
            return kExitWrite;
        }
        out << "wrote [" << section << "] Prefilter=" << value << " to " << ini << "\n";
    }
    return kExitOk;
}

int runFlatFieldCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "quiltra-calibrate flatfield: averages images of a covered lens into the dark "
        "reference and images of a uniform, evenly lit target into the flat reference, writes "
        "them as PGM (PPM for colour) with the prefilter file that names them, and with "
        "--camera that file as the camera's Prefilter in Quiltra.ini.\n"
        "Exit codes: 0 done, 2 bad command line, 3 an image could not be read, 6 a file could "
        "not be written, 8 the images make no references (sizes differ, the flat is not "
        "brighter than the dark)."};
    app.name("quiltra-calibrate flatfield");
    FlatFieldRequest request;
    app.add_option("--dark", request.darkImages, "images with the lens covered (PNG, PGM, PPM)")
        ->required();
    app.add_option("--flat", request.flatImages, "images of a uniform, evenly lit target")
        ->required();
    app.add_option("--out", request.outDir, "where the references and prefilter file go")
        ->capture_default_str();
    app.add_option("--name", request.name,
                   "the files' names: NAME.dark.pgm, NAME.flat.pgm, NAME.pf (default "
                   "SCANNER.CameraN with --camera, else flatfield)");
    app.add_option("--system-dir", request.systemDir, "the folder of Quiltra.ini")
        ->capture_default_str();
    app.add_option("--scanner", request.scanner, "the scanner's section")->capture_default_str();
    app.add_option("--camera", request.camera,
                   "N: write the prefilter file as Prefilter of [SCANNER.CameraN]")
        ->check(CLI::Range(1, 32));
    app.add_option("--flat-level", request.flatLevel,
                   "grey level the flat target is corrected to (sets the prefilter's gain; "
                   "default: the flat's own mean)")
        ->check(CLI::Range(1.0, 255.0));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error, out, err) == 0 ? kExitOk : kExitUsage;
    }
    return runFlatField(request, out, err);
}

}  // namespace quiltra::calibrate

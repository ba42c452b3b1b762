// The calibration-file reader on arbitrary bytes. A refused text must say why; an accepted one
// must hold a model the resampler can use (finite numbers, a known unit, a positive image
// size and lens), which the writer writes back to a text that reads as the same model, also
// with a comment line, a byte order mark and CR LF line ends. Mapping points through the
// accepted model must not crash and gives finite pixels or none.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "calibration_file.h"
#include "fuzz_input.h"

namespace {

using quiltra::fuzz::check;
using quiltra::fuzz::withCrLf;
namespace calibration = quiltra::calibration;

bool allFinite(const calibration::Model& model) {
    bool finite = std::isfinite(model.fx) && std::isfinite(model.fy) && std::isfinite(model.cx) &&
                  std::isfinite(model.cy);
    for (double h : model.homography) {
        finite = finite && std::isfinite(h);
    }
    for (double d : model.distortion) {
        finite = finite && std::isfinite(d);
    }
    return finite;
}

bool plainUnit(const std::string& units) {
    bool letters = !units.empty() && units.size() <= 15;
    for (char c : units) {
        letters = letters && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    }
    return letters;
}

// The text reads back as `model`.
void readsAs(std::string_view text, const calibration::Model& model, const char* how) {
    calibration::Model again;
    std::string error;
    check(calibration::parse(text, again, error), how, error + "\n" + std::string(text));
    check(again == model, how, "read back as another model:\n" + std::string(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    calibration::Model model;
    std::string error;
    if (!calibration::parse(text, model, error)) {
        check(!error.empty(), "a refused text without a reason");
        return 0;
    }
    check(error.empty(), "an accepted text with a reason", error);
    check(plainUnit(model.units), "units not 1 to 15 letters", model.units);
    check(model.imageColumns > 0 && model.imageRows > 0, "image size not above 0");
    check(allFinite(model), "a number that is not finite");
    check(!model.hasLens || (model.fx > 0.0 && model.fy > 0.0), "a lens with fx or fy <= 0");

    const std::string written = calibration::format(model);
    readsAs(written, model, "the written text");
    readsAs("# made by the fuzz target\n" + written, model, "the text with a comment");
    readsAs("\xEF\xBB\xBF" + withCrLf(written), model, "the text with a BOM and CR LF");

    const calibration::Projection projection(model);
    const double columns = model.imageColumns;
    const double rows = model.imageRows;
    const double points[][2] = {{0.0, 0.0},        {rows, columns}, {-rows, columns},
                                {rows * 0.5, 0.0}, {1e300, -1e300}, {0.0, 1e-300}};
    for (const auto& p : points) {
        double u = 0.0;
        double v = 0.0;
        if (projection.toPixel(p[0], p[1], u, v)) {
            check(std::isfinite(u) && std::isfinite(v), "a mapped pixel that is not finite");
        }
    }
    return 0;
}

// The prefilter plug-in's readers on arbitrary bytes: the input is a prefilter file's text,
// then (after a NUL) an options text, then (after another) a reference image's bytes. A
// refused text must say why; accepted settings must lie in the documented ranges and read
// the same with a byte order mark and CR LF line ends; options over them too; an accepted
// image must hold exactly its pixels.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "prefilter_file.h"

namespace {

using quiltra::fuzz::check;
using quiltra::fuzz::withCrLf;
namespace pf = quiltra::prefilter;

void checkRanges(const pf::Operations& op, const char* what) {
    check(op.gain >= 0.0 && op.gain <= pf::kMaxGain, what, "gain out of range");
    check(op.offset >= -pf::kMaxOffset && op.offset <= pf::kMaxOffset, what, "offset out of range");
    check(op.threshold == pf::kNoThreshold || (op.threshold >= 0 && op.threshold <= 255), what,
          "threshold out of range");
    check(op.filter == pf::Filter::kNone || op.filter == pf::Filter::kMedian3 ||
              op.filter == pf::Filter::kBox3,
          what, "unknown filter");
}

bool plainName(const std::string& name) {
    return name.empty() || (name.front() != ' ' && name.front() != '\t' && name.back() != ' ' &&
                            name.back() != '\t' && name.back() != '\r');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quiltra::fuzz::FuzzInput input(data, size);
    const std::string text = input.text();
    const std::string options = input.text();
    std::string image;
    while (!input.empty()) {
        image += char(input.byte());
    }

    pf::Settings settings;
    std::string error;
    if (!pf::parse(text, settings, error)) {
        check(!error.empty(), "a refused file without a reason");
    } else {
        check(error.empty(), "an accepted file with a reason", error);
        checkRanges(settings.operations, "file");
        check(plainName(settings.dark) && plainName(settings.flat), "a name with blanks kept");
        // Without CR or a BOM already, the same text with CR LF and a BOM reads the same.
        if (text.find('\r') == std::string::npos && text.rfind("\xEF\xBB\xBF", 0) != 0) {
            pf::Settings again;
            check(pf::parse("\xEF\xBB\xBF" + withCrLf(text), again, error), "CR LF refused", error);
            check(again == settings, "CR LF read otherwise");
        }
        pf::Operations operations = settings.operations;
        error.clear();
        if (pf::applyOptions(options, operations, error)) {
            check(error.empty(), "accepted options with a reason", error);
            checkRanges(operations, "options");
        } else {
            check(!error.empty(), "refused options without a reason");
        }
    }

    pf::Image reference;
    error.clear();
    if (pf::parseImage(image, reference, error)) {
        check(reference.channels == 1 || reference.channels == 3, "channels not 1 or 3");
        check(reference.rows > 0 && reference.columns > 0, "image size not above 0");
        check(reference.pixels.size() ==
                  std::size_t(reference.rows) * reference.columns * reference.channels,
              "pixels do not fill the image");
    } else {
        check(!error.empty(), "a refused image without a reason");
    }
    return 0;
}

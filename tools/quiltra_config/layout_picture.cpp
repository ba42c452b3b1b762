#include "layout_picture.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "bitmap_font.h"
#include "png_file.h"

namespace quiltra::config_check {

namespace {

constexpr Colour kBackground = {48, 48, 48};
constexpr Colour kImage = {0, 0, 0};  // what no camera writes
constexpr Colour kTitleText = {255, 255, 255};
constexpr Colour kLabelText = {0, 0, 0};
constexpr Colour kPalette[] = {{90, 150, 220},  {235, 170, 70},  {120, 200, 120},
                               {210, 120, 180}, {160, 140, 230}, {90, 200, 200}};
constexpr int kTextScale = 2;
constexpr int kAdvance = (tools::kGlyphWidth + 1) * kTextScale;
constexpr int kLineHeight = (tools::kGlyphHeight + 3) * kTextScale;

Colour mix(Colour a, Colour b, int percentOfB) {
    Colour mixed;
    for (std::size_t c = 0; c < 3; ++c) {
        mixed[c] = static_cast<uint8_t>((a[c] * (100 - percentOfB) + b[c] * percentOfB) / 100);
    }
    return mixed;
}

class Canvas {
public:
    explicit Canvas(Picture& picture) : picture_(picture) {}

    void fill(int x0, int y0, int x1, int y1, Colour colour) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, picture_.width);
        y1 = std::min(y1, picture_.height);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                std::copy(colour.begin(), colour.end(), pixel(x, y));
            }
        }
    }

    void outline(int x0, int y0, int x1, int y1, Colour colour) {
        fill(x0, y0, x1, y0 + 1, colour);
        fill(x0, y1 - 1, x1, y1, colour);
        fill(x0, y0, x0 + 1, y1, colour);
        fill(x1 - 1, y0, x1, y1, colour);
    }

    // Text from (x, y), its top left; only whole characters left of `right`.
    void text(int x, int y, const std::string& text, Colour colour, int right) {
        for (char c : text) {
            if (x + kAdvance > right) {
                return;
            }
            if (const uint8_t* rows = tools::glyphRows(c)) {
                for (int gy = 0; gy < tools::kGlyphHeight * kTextScale; ++gy) {
                    for (int gx = 0; gx < tools::kGlyphWidth * kTextScale; ++gx) {
                        if ((rows[gy / kTextScale] >> (4 - gx / kTextScale)) & 1) {
                            fill(x + gx, y + gy, x + gx + 1, y + gy + 1, colour);
                        }
                    }
                }
            }
            x += kAdvance;
        }
    }

private:
    uint8_t* pixel(int x, int y) {
        return picture_.pixels.data() + (static_cast<std::size_t>(y) * picture_.width + x) * 3;
    }

    Picture& picture_;
};

int textWidth(const std::string& text) {
    return static_cast<int>(text.size()) * kAdvance;
}

std::string title(const ScannerGeometry& scanner) {
    std::string text = scanner.name + ": " + std::to_string(scanner.width) + " x " +
                       std::to_string(scanner.height) + ", " + std::to_string(scanner.scans) +
                       (scanner.scans == 1 ? " scan" : " scans") + " of " +
                       std::to_string(scanner.bandHeight) + " rows";
    if (scanner.overlap > 0) {
        text += ", " + std::to_string(scanner.overlap) + " kept";
    }
    return text;
}

int scaled(int64_t value, double scale) {
    return static_cast<int>(std::lround(static_cast<double>(value) * scale));
}

// The camera's name in its scanner: "Camera2" of "Scanner0001.Camera2".
std::string cameraName(const CameraGeometry& camera) {
    const std::size_t dot = camera.section.rfind('.');
    return dot == std::string::npos ? camera.section : camera.section.substr(dot + 1);
}

// Writes the first of the label's forms that fits the width.
void label(Canvas& canvas, int x, int y, int right, const std::vector<std::string>& forms) {
    for (const std::string& form : forms) {
        if (x + textWidth(form) <= right) {
            canvas.text(x, y, form, kLabelText, right);
            return;
        }
    }
}

void drawScanner(Canvas& canvas, const ScannerGeometry& scanner, int top, int pictureWidth) {
    canvas.text(kPictureMargin, top + (kTitleHeight - tools::kGlyphHeight * kTextScale) / 2,
                title(scanner), kTitleText, pictureWidth - kPictureMargin);
    const double scale = layoutScale(scanner);
    const int left = kPictureMargin;
    const int imageTop = top + kTitleHeight;
    canvas.fill(left, imageTop, left + scaled(scanner.width, scale),
                imageTop + scaled(scanner.height, scale), kImage);
    for (int band = 0; band < scanner.scans; ++band) {
        const bool kept = band < scanner.overlap;
        for (std::size_t i = 0; i < scanner.cameras.size(); ++i) {
            const CameraGeometry& camera = scanner.cameras[i];
            if (camera.columns < 1 || camera.rows < 1) {
                continue;
            }
            const int64_t bandTop = static_cast<int64_t>(band) * scanner.bandHeight;
            const int x0 = left + scaled(camera.x, scale);
            const int x1 = std::max(x0 + 1, left + scaled(camera.x + camera.columns, scale));
            const int y0 = imageTop + scaled(bandTop, scale);
            const int y1 = std::max(y0 + 1, imageTop + scaled(bandTop + camera.rows, scale));
            canvas.fill(x0, y0, x1, y1, kept ? keptBandColour(i) : cameraColour(i));
            if (camera.fieldOverlap > 0) {
                const int strip = std::max(1, scaled(camera.fieldOverlap, scale));
                canvas.fill(x0, y0, std::min(x1, x0 + strip), y1, repeatedStripColour(i));
            }
            canvas.outline(x0, y0, x1, y1, mix(cameraColour(i), kImage, 50));
            const int textLeft = x0 + 2 * kTextScale;
            const int right = x1 - kTextScale;
            int line = y0 + 2 * kTextScale;
            if (band == 0 && y1 - line >= 2 * kLineHeight) {
                const std::string name = cameraName(camera);
                const std::string port = std::to_string(camera.port);
                label(canvas, textLeft, line, right,
                      {name + " port " + port, name + " p" + port,
                       std::string(1, 'C').append(name, 6).append(" p").append(port)});
                line += kLineHeight;
                const std::string rows = std::to_string(camera.rows);
                const std::string columns = std::to_string(camera.columns);
                label(canvas, textLeft, line, right,
                      {rows + " x " + columns, rows + "x" + columns});
                line += kLineHeight;
            }
            if (i == 0 && y1 - line >= kLineHeight) {
                const std::string scan = std::to_string(band + 1);
                label(canvas, textLeft, line, right,
                      {"scan " + scan + (kept ? " kept" : ""), "scan " + scan, scan});
            }
        }
    }
}

int scannerHeight(const ScannerGeometry& scanner) {
    return kTitleHeight + scaled(scanner.height, layoutScale(scanner)) + kPictureMargin;
}

}  // namespace

Colour Picture::at(int x, int y) const {
    const uint8_t* pixel = pixels.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

double layoutScale(const ScannerGeometry& scanner) {
    if (scanner.width < 1 || scanner.height < 1) {
        return 1.0;
    }
    return std::min(static_cast<double>(kLargestSide) / static_cast<double>(scanner.width),
                    static_cast<double>(kLargestSide) / static_cast<double>(scanner.height));
}

Colour cameraColour(std::size_t i) {
    return kPalette[i % std::size(kPalette)];
}

Colour keptBandColour(std::size_t i) {
    return mix(cameraColour(i), kImage, 45);
}

Colour repeatedStripColour(std::size_t i) {
    return mix(cameraColour(i), Colour{230, 30, 30}, 60);
}

Picture drawLayout(const std::vector<ScannerGeometry>& scanners) {
    Picture picture;
    if (scanners.empty()) {
        return picture;
    }
    picture.width = 0;
    picture.height = kPictureMargin;
    for (const ScannerGeometry& scanner : scanners) {
        const int width =
            std::max(scaled(scanner.width, layoutScale(scanner)), textWidth(title(scanner)));
        picture.width = std::max(picture.width, width + 2 * kPictureMargin);
        picture.height += scannerHeight(scanner);
    }
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    Canvas canvas(picture);
    canvas.fill(0, 0, picture.width, picture.height, kBackground);
    int top = kPictureMargin;
    for (const ScannerGeometry& scanner : scanners) {
        drawScanner(canvas, scanner, top, picture.width);
        top += scannerHeight(scanner);
    }
    return picture;
}

bool writePicture(const Picture& picture, const std::string& path) {
    return tools::writePngFile(path, picture.width, picture.height, 3, picture.pixels);
}

}  // namespace quiltra::config_check

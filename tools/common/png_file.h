// Writing an image as a PNG file: 8-bit grey or 24-bit colour (R, G, B).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quiltra::tools {

// Writes width x height pixels of bytesPerPixel (1 or 3) bytes, rows packed. False when the
// file could not be written.
bool writePngFile(const std::string& path, int width, int height, int bytesPerPixel,
                  const std::vector<uint8_t>& pixels);

}  // namespace quiltra::tools

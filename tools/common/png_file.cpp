#include "png_file.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace quiltra::tools {

bool writePngFile(const std::string& path, int width, int height, int bytesPerPixel,
                  const std::vector<uint8_t>& pixels) {
    if ((bytesPerPixel != 1 && bytesPerPixel != 3) || width < 1 || height < 1 ||
        pixels.size() < static_cast<std::size_t>(width) * height * bytesPerPixel) {
        return false;
    }
    return stbi_write_png(path.c_str(), width, height, bytesPerPixel, pixels.data(),
                          width * bytesPerPixel) != 0;
}

}  // namespace quiltra::tools

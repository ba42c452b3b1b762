// An image file that the simulated cameras look at like a conveyor belt passing beneath them:
// loaded once, kept both as R, G, B and as grey, and read with wrap-around in both directions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quiltra::simcam {

class Scene {
public:
    // Loads a PNG or PGM/PPM file. Gives null and the reason in error when it cannot.
    static std::shared_ptr<const Scene> load(const std::string& path, std::string& error);

    int width() const { return width_; }
    int height() const { return height_; }
    // Row y (0..height-1) of the scene, width R, G, B triples or width grey bytes.
    const uint8_t* rgbRow(int y) const {
        return rgb_.data() + static_cast<std::size_t>(y) * width_ * 3;
    }
    const uint8_t* greyRow(int y) const {
        return grey_.data() + static_cast<std::size_t>(y) * width_;
    }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> rgb_;
    std::vector<uint8_t> grey_;
};

}  // namespace quiltra::simcam

#include "scene.h"

#include <stb_image.h>

namespace quiltra::simcam {

namespace {

// stbi_load's pixels, freed with stbi_image_free.
struct StbPixels {
    unsigned char* data = nullptr;
    ~StbPixels() { stbi_image_free(data); }
};

constexpr int kMaxSceneSide = 65536;

}  // namespace

std::shared_ptr<const Scene> Scene::load(const std::string& path, std::string& error) {
    int width = 0;
    int height = 0;
    int channels = 0;
    StbPixels pixels;
    pixels.data = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (pixels.data == nullptr) {
        const char* reason = stbi_failure_reason();
        error = reason != nullptr ? reason : "unreadable";
        return nullptr;
    }
    if (width < 1 || height < 1 || width > kMaxSceneSide || height > kMaxSceneSide) {
        error = "image size out of range";
        return nullptr;
    }
    auto scene = std::make_shared<Scene>();
    scene->width_ = width;
    scene->height_ = height;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    scene->rgb_.assign(pixels.data, pixels.data + count * 3);
    scene->grey_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t* p = scene->rgb_.data() + i * 3;
        // ITU-R BT.601 luma, rounded.
        scene->grey_[i] = static_cast<uint8_t>((p[0] * 299 + p[1] * 587 + p[2] * 114 + 500) / 1000);
    }
    return scene;
}

}  // namespace quiltra::simcam

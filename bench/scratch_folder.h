// A benchmark's scratch folder: made under the system's temporary folder, removed with
// everything in it when the benchmark ends.
#pragma once

#include <stdlib.h>  // mkdtemp

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace quiltra::bench {

class ScratchFolder {
public:
    // NAME-XXXXXX in the temporary folder; ok() tells whether it could be made.
    explicit ScratchFolder(const std::string& name) {
        std::error_code error;
        const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
        std::string pattern = ((error ? "/tmp" : temporary) / (name + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

    // Writes TEXT as the file NAME in the folder and gives its path; empty, with the reason on
    // standard error, when it cannot be written.
    std::string write(const std::string& name, const std::string& text) const {
        const std::string file = path_ + "/" + name;
        FILE* f = std::fopen(file.c_str(), "wb");
        const bool written =
            f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if ((f != nullptr && std::fclose(f) != 0) || !written) {
            std::perror(file.c_str());
            return {};
        }
        return file;
    }

private:
    std::string path_;
};

}  // namespace quiltra::bench

#pragma once

#include <sndfile.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cadenzo::testfiles {

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() : path_(std::filesystem::temp_directory_path() / "cadenzo-test-XXXXXX") {
        std::string pattern = path_.string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::error_code ignored_;
};

// Writes a 16-bit PCM WAV; sample(frame, channel) gives each value.
inline void writeWav(const std::filesystem::path& file, int sampleRate, int channels, std::int64_t frames,
                     const std::function<float(std::int64_t, int)>& sample) {
    std::filesystem::create_directories(file.parent_path());
    SF_INFO info{0, sampleRate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    if (!out) throw std::runtime_error("cannot write " + file.string());
    std::vector<float> interleaved;
    for (std::int64_t i = 0; i < frames * channels; ++i) interleaved.push_back(sample(i / channels, int(i % channels)));
    sf_writef_float(out, interleaved.data(), frames);
    sf_close(out);
}

inline void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

} // namespace cadenzo::testfiles

#include "CadenzoPlayer/playback/SongExport.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <sndfile.h>

#include <memory>
#include <vector>

namespace cadenzo {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void unwritable(const fs::path& path, const std::string& reason) {
    throw Error("SongExport", SongExportError::unwritable, "Could not write " + path.string() + ": " + reason);
}

} // namespace

std::int64_t exportSongToWav(SongPlayer& player, const SongSettings& song, std::int64_t channelCount,
                             const fs::path& path) {
    const fs::path partial = path.string() + ".part";
    SF_INFO info{0, static_cast<int>(engineSampleRate), static_cast<int>(channelCount),
                 SF_FORMAT_RF64 | SF_FORMAT_FLOAT, 0, 0};
    if (channelCount < 1 || channelCount > 1024) unwritable(path, "a file has 1 to 1024 channels");
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(partial.c_str(), SFM_WRITE, &info), sf_close);
    if (!file) unwritable(path, sf_strerror(nullptr));
    // Plain WAV unless the file outgrows it.
    sf_command(file.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    std::vector<float> interleaved;
    std::int64_t frames = 0;
    try {
        frames = player.render(song, channelCount, [&](const float* const* channels, std::uint32_t count) {
            interleaved.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(channelCount));
            for (std::uint32_t i = 0; i < count; ++i)
                for (std::int64_t c = 0; c < channelCount; ++c)
                    interleaved[i * static_cast<std::size_t>(channelCount) + static_cast<std::size_t>(c)] = channels[c][i];
            if (sf_writef_float(file.get(), interleaved.data(), count) != count) unwritable(path, sf_strerror(file.get()));
        });
    } catch (...) {
        file.reset();
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw;
    }
    std::error_code error;
    if (sf_close(file.release()) != 0) {
        fs::remove(partial, error);
        unwritable(path, "the file could not be completed");
    }
    fs::rename(partial, path, error);
    if (error) {
        fs::remove(partial, error);
        unwritable(path, error.message());
    }
    return frames;
}

} // namespace cadenzo

#include "CadenzoPlayer/launch/SongFile.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/bridge/Protocol.hpp"

#include <fstream>
#include <sstream>

namespace cadenzo {

namespace {

enum class SongFileError : int { unreadable = 1, notASong = 2 };

// Far beyond any song; the file is read whole.
constexpr std::uintmax_t largestSongFile = 16u << 20;

} // namespace

SongSettings readSongFile(const std::filesystem::path& path) {
    const auto refuse = [&](SongFileError code, const std::string& why) {
        throw Error("SongFile", code, "The song file " + path.string() + " " + why);
    };
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) refuse(SongFileError::unreadable, "could not be read: " + error.message());
    if (size > largestSongFile) refuse(SongFileError::unreadable, "is larger than 16 MiB");
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!(text << in.rdbuf())) refuse(SongFileError::unreadable, "could not be read");
    const nlohmann::json body = nlohmann::json::parse(text.str(), nullptr, false);
    if (!body.is_object()) refuse(SongFileError::notASong, "is not a JSON object");
    const BridgeProtocol::PlaySongRequest request = BridgeProtocol::readPlaySong(body);
    if (!request.hasEntries) refuse(SongFileError::notASong, "has no entries (an array of section objects)");
    return request.song;
}

SongTestSettings readSongToPlay(const EnvironmentReader& env) {
    SongTestSettings settings = readSongTestSettings(env);
    if (const auto file = env("SONG_FILE")) {
        const std::optional<std::int64_t> channels = settings.song.totalChannels;
        settings.song = readSongFile(*file);
        if (!settings.song.totalChannels) settings.song.totalChannels = channels;
    }
    return settings;
}

} // namespace cadenzo

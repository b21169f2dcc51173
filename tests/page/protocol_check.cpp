// Reads request bodies, one JSON text per line, and writes what the bridge's protocol parser reads from
// each, one JSON line each, so that the control page's requests can be checked against it.
#include "CadenzoPlayer/bridge/Protocol.hpp"

#include <iostream>

using namespace cadenzo::BridgeProtocol;
using nlohmann::json;

template <typename T> json orNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json read(const std::string& line) {
    const ParsedMessage parsed = parseMessageText(line);
    if (const auto* error = std::get_if<ProtocolError>(&parsed)) return {{"protocolError", error->result}};
    const Request& request = std::get<Request>(parsed);
    json out = {{"type", typeName(request.kind)}, {"requestId", orNull(request.requestId)}};
    const auto device = [](const DeviceSelection& s) {
        return json::array({orNull(s.deviceUid), orNull(s.deviceNameContains)});
    };
    const auto playSong = [&](const PlaySongRequest& play) {
        const auto& song = play.song;
        json entries = play.hasEntries ? json::array() : json(nullptr);
        // A section's own tempo and metre, "-" for the song's: "V:2 at 120/-".
        for (const auto& e : song.entries)
            entries.push_back(e.label + ":" + std::to_string(e.bars) +
                              (e.tempo || e.beatsPerBar ? " at " + (e.tempo ? json(*e.tempo).dump() : "-") + "/" +
                                  (e.beatsPerBar ? std::to_string(*e.beatsPerBar) : "-") : ""));
        const auto& l = song.levels;
        return json{{"device", device(play.selection)}, {"entries", entries}, {"click", song.clickChannels},
                    {"guide", song.guideChannels}, {"pad", song.padChannels}, {"padKey", orNull(song.padKey)},
                    {"padChords", orNull(song.padChords)}, {"tempo", song.tempo}, {"beatsPerBar", song.beatsPerBar},
                    {"countInBars", song.countInBars}, {"startSection", song.startSection},
                    {"totalChannels", orNull(song.totalChannels)}, {"guideMuted", song.guideMuted},
                    {"levels", {l.click, l.guide, l.pad}}};
    };
    if (const auto* tone = std::get_if<TestToneRequest>(&request.kind)) {
        out.update({{"device", device(tone->selection)}, {"channel", tone->channel},
                    {"channelCount", tone->channelCount}});
    } else if (const auto* play = std::get_if<PlaySongRequest>(&request.kind)) {
        out.update(playSong(*play));
    } else if (const auto* exported = std::get_if<ExportSongRequest>(&request.kind)) {
        out.update(playSong(exported->song));
        out["fileName"] = orNull(exported->fileName);
    } else if (const auto* mute = std::get_if<SetGuideMutedRequest>(&request.kind)) {
        out["muted"] = mute->muted;
    } else if (const auto* change = std::get_if<SetLevelsRequest>(&request.kind)) {
        const auto& l = change->levels;
        out["levels"] = {{"click", orNull(l.click)}, {"guide", orNull(l.guide)}, {"pad", orNull(l.pad)}};
    } else if (const auto* save = std::get_if<SaveLibraryRequest>(&request.kind)) {
        out.update({{"library", orNull(save->library)}, {"tooDeep", save->tooDeep}});
    } else if (const auto* file = std::get_if<SaveFileRequest>(&request.kind)) {
        out.update({{"fileName", orNull(file->fileName)}, {"text", orNull(file->text)}});
    }
    return out;
}

int main() {
    for (std::string line; std::getline(std::cin, line);) std::cout << read(line).dump() << '\n';
}

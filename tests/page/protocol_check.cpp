// Reads request bodies, one JSON text per line, and writes what the bridge protocol reads from each,
// one JSON line each, so that the control page's requests can be checked against the real parser.
#include "CadenzoPlayer/bridge/Protocol.hpp"

#include <iostream>
#include <string>
#include <type_traits>
#include <variant>

namespace {

using namespace cadenzo;
using namespace cadenzo::BridgeProtocol;
using nlohmann::json;

template <typename T> json optionalJson(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json selectionJson(const DeviceSelection& selection) {
    return {{"deviceUid", optionalJson(selection.deviceUid)},
            {"deviceNameContains", optionalJson(selection.deviceNameContains)}};
}

json requestJson(const Request& request) {
    json out = {{"type", std::string(typeName(request.kind))}};
    if (request.requestId) out["requestId"] = *request.requestId;
    std::visit(
        [&out](const auto& kind) {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, TestToneRequest>) {
                out["selection"] = selectionJson(kind.selection);
                out["channel"] = kind.channel;
                out["channelCount"] = kind.channelCount;
            } else if constexpr (std::is_same_v<Kind, PlaySongRequest>) {
                out["selection"] = selectionJson(kind.selection);
                json entries = nullptr;
                if (kind.entries) {
                    entries = json::array();
                    for (const MapEntry& entry : *kind.entries) {
                        entries.push_back({{"label", entry.label}, {"bars", entry.bars}});
                    }
                }
                out["entries"] = entries;
                out["click"] = kind.click;
                out["guide"] = kind.guide;
                out["pad"] = kind.pad;
                out["padKey"] = optionalJson(kind.padKey);
                out["padChords"] = optionalJson(kind.padChords);
                out["tempo"] = kind.tempo;
                out["beatsPerBar"] = kind.beatsPerBar;
                out["countInBars"] = kind.countInBars;
                out["startSection"] = kind.startSection;
                out["totalChannels"] = optionalJson(kind.totalChannels);
            } else if constexpr (std::is_same_v<Kind, SetGuideMutedRequest>) {
                out["muted"] = kind.muted;
            }
        },
        request.kind);
    return out;
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        const ParsedMessage parsed = parseMessageText(line);
        if (const auto* error = std::get_if<ProtocolError>(&parsed)) {
            std::cout << json{{"protocolError", error->result}}.dump() << '\n';
        } else {
            std::cout << requestJson(std::get<Request>(parsed)).dump() << '\n';
        }
    }
    return 0;
}

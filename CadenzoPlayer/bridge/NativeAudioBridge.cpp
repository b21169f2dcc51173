#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"
#include "CadenzoPlayer/dispatch/MainThread.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/library/LibraryStore.hpp"
#include "CadenzoPlayer/playback/SongExport.hpp"
#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include <exception>
#include <type_traits>
#include <utility>

namespace cadenzo {

namespace Protocol = BridgeProtocol;
using nlohmann::json;

namespace {

// The failure's own sentence: the page shows it as it is.
json failureOf(std::string_view type, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Error& error) {
        return Protocol::failureResult(type, error.description());
    } catch (const std::exception& error) {
        return Protocol::failureResult(type, error.what());
    } catch (...) {
        return Protocol::failureResult(type, "Unknown failure");
    }
}

} // namespace

NativeAudioBridge::Folders NativeAudioBridge::Folders::fromEnvironment() {
    return {LibraryStore::defaultFolder(readEnvironment), userDirectory(readEnvironment, "DOCUMENTS", "Documents"),
            userDirectory(readEnvironment, "MUSIC", "Music")};
}

std::shared_ptr<NativeAudioBridge> NativeAudioBridge::make(ToneWait toneWait, Folders folders) {
    auto bridge =
        std::shared_ptr<NativeAudioBridge>(new NativeAudioBridge(std::move(toneWait), std::move(folders)));
    bridge->player_->setDeviceLostHandler([weak = std::weak_ptr(bridge)](const std::string& deviceUid) {
        MainThread::post([weak, deviceUid] {
            if (auto self = weak.lock()) self->sendResult(Protocol::deviceLostResult(deviceUid), std::nullopt);
        });
    });
    return bridge;
}

NativeAudioBridge::NativeAudioBridge(ToneWait toneWait, Folders folders)
    : player_(SongPlayer::make()), toneWait_(std::move(toneWait)), folders_(std::move(folders)),
      files_(std::make_unique<SerialQueue>("cadenzo.library")) {}

void NativeAudioBridge::setWebView(std::weak_ptr<ScriptTarget> webView) {
    webView_ = std::move(webView);
}

void NativeAudioBridge::handleMessage(const json& body) {
    dispatch(Protocol::parseMessage(body));
}

void NativeAudioBridge::handleMessageText(std::string_view bodyJson) {
    dispatch(Protocol::parseMessageText(bodyJson));
}

void NativeAudioBridge::dispatch(const Protocol::ParsedMessage& parsed) {
    if (const auto* error = std::get_if<Protocol::ProtocolError>(&parsed)) {
        sendResult(error->result, error->requestId);
        return;
    }
    const auto& request = std::get<Protocol::Request>(parsed);
    std::visit(
        [&](const auto& kind) {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, Protocol::ListDevicesRequest>) {
                listDevices(request.requestId);
            } else if constexpr (std::is_same_v<Kind, Protocol::TestToneRequest>) {
                testTone(kind, request.requestId);
            } else if constexpr (std::is_same_v<Kind, Protocol::PlaySongRequest>) {
                playSong(kind, request.requestId);
            } else if constexpr (std::is_same_v<Kind, Protocol::LoadLibraryRequest> ||
                                 std::is_same_v<Kind, Protocol::SaveLibraryRequest> ||
                                 std::is_same_v<Kind, Protocol::SaveFileRequest> ||
                                 std::is_same_v<Kind, Protocol::ExportSongRequest>) {
                libraryRequest(request);
            } else if constexpr (std::is_same_v<Kind, Protocol::ControlStatusRequest> ||
                                 std::is_same_v<Kind, Protocol::SetMidiMappingsRequest> ||
                                 std::is_same_v<Kind, Protocol::LearnMidiRequest> ||
                                 std::is_same_v<Kind, Protocol::ConnectMidiInputRequest>) {
                controlRequest(request);
            } else if constexpr (std::is_same_v<Kind, Protocol::SetLevelsRequest>) {
                onPlayer(Kind::type, [levels = kind.levels](SongPlayer& player) { player.setLevels(levels); },
                         request.requestId);
            } else if constexpr (std::is_same_v<Kind, Protocol::JumpToSectionRequest>) {
                if (!kind.section || (kind.at != "bar" && kind.at != "section")) {
                    sendResult(Protocol::failureResult(Kind::type, kind.section ? Protocol::badJumpPointText
                                                                                : Protocol::missingSectionText),
                               request.requestId);
                    return;
                }
                onPlayer(Kind::type,
                         [section = *kind.section, atEnd = kind.at == "section"](SongPlayer& player) {
                             player.jumpToSection(section, atEnd);
                         },
                         request.requestId);
            } else if constexpr (std::is_same_v<Kind, Protocol::SetVampRequest>) {
                if (!kind.on) return sendResult(Protocol::failureResult(Kind::type, Protocol::missingOnText),
                                                request.requestId);
                onPlayer(Kind::type, [on = *kind.on](SongPlayer& player) { player.setVamp(on); }, request.requestId);
            } else if constexpr (std::is_same_v<Kind, Protocol::StopSongRequest>) {
                player_->stop();
                sendResult(Protocol::successResult(Kind::type), request.requestId);
            } else {
                player_->setGuideMuted(kind.muted);
                sendResult(Protocol::successResult(Kind::type), request.requestId);
            }
        },
        request.kind);
}

std::optional<CoreAudioDevices::Device>
NativeAudioBridge::resolveDevice(const Protocol::DeviceSelection& selection) const {
    const auto devices = CoreAudioDevices::outputDevices();
    if (selection.deviceUid) {
        if (auto device = CoreAudioDevices::deviceWithUid(devices, *selection.deviceUid)) return device;
    }
    if (selection.deviceNameContains)
        return CoreAudioDevices::deviceWithNameContaining(devices, *selection.deviceNameContains);
    return std::nullopt;
}

void NativeAudioBridge::listDevices(const std::optional<json>& requestId) {
    sendResult(Protocol::listDevicesResult(CoreAudioDevices::outputDevices()), requestId);
}

void NativeAudioBridge::testTone(const Protocol::TestToneRequest& request, std::optional<json> requestId) {
    constexpr auto type = Protocol::TestToneRequest::type;
    const auto device = resolveDevice(request.selection);
    if (!device) {
        sendResult(Protocol::failureResult(type, Protocol::noMatchingDeviceText), requestId);
        return;
    }
    answerLater(
        type,
        [device = *device, channel = request.channel, channelCount = request.channelCount, wait = toneWait_] {
            if (wait)
                CoreAudioDevices::playTestTone(device.id, device.channelCount, channel, channelCount, wait);
            else
                CoreAudioDevices::playTestTone(device.id, device.channelCount, channel, channelCount);
            return Protocol::successResult(Protocol::TestToneRequest::type);
        },
        std::move(requestId));
}

void NativeAudioBridge::playSong(const Protocol::PlaySongRequest& request, std::optional<json> requestId) {
    constexpr auto type = Protocol::PlaySongRequest::type;
    const auto device = resolveDevice(request.selection);
    if (!device) {
        sendResult(Protocol::failureResult(type, Protocol::noMatchingDeviceText), requestId);
        return;
    }
    if (!request.hasEntries) {
        sendResult(Protocol::failureResult(type, Protocol::missingEntriesText), requestId);
        return;
    }
    answerLater(
        type, [player = player_, device = *device, song = request.song] { return Protocol::playSongSuccessResult(player->play(device, song)); },
        std::move(requestId));
}

void NativeAudioBridge::onPlayer(std::string_view type, std::function<void(SongPlayer&)> action,
                                 std::optional<json> requestId) {
    answerLater(
        type,
        [player = player_, type, action = std::move(action)] {
            action(*player);
            return Protocol::successResult(type);
        },
        std::move(requestId));
}

void NativeAudioBridge::libraryRequest(const Protocol::Request& request) {
    const std::string_view type = Protocol::typeName(request.kind);
    if (std::holds_alternative<Protocol::LoadLibraryRequest>(request.kind)) {
        answerLater(type, [folder = folders_.library] {
                        auto loaded = LibraryStore(folder).load();
                        return Protocol::loadLibraryResult(std::move(loaded.library), loaded.warning);
                    },
                    request.requestId, files_.get());
    } else if (const auto* save = std::get_if<Protocol::SaveLibraryRequest>(&request.kind)) {
        if (save->tooDeep || !save->library) {
            sendResult(Protocol::failureResult(type, save->tooDeep ? LibraryStore::tooDeepText : Protocol::missingLibraryText),
                       request.requestId);
            return;
        }
        answerLater(type, [folder = folders_.library, library = *save->library] {
                        LibraryStore(folder).save(library);
                        return Protocol::successResult(Protocol::SaveLibraryRequest::type);
                    },
                    request.requestId, files_.get());
    } else if (const auto* file = std::get_if<Protocol::SaveFileRequest>(&request.kind)) {
        if (!file->fileName || !file->text) {
            sendResult(Protocol::failureResult(type, file->fileName ? Protocol::missingTextText
                                                                     : Protocol::missingFileNameText),
                       request.requestId);
            return;
        }
        answerLater(type, [folder = folders_.documents / "CadenzoPlayer", name = *file->fileName, text = *file->text] {
                        return Protocol::savedFileResult(Protocol::SaveFileRequest::type, saveNewFile(folder, name, text).string());
                    },
                    request.requestId, files_.get());
    } else if (const auto* song = std::get_if<Protocol::ExportSongRequest>(&request.kind)) {
        if (!song->song.hasEntries || !song->fileName) {
            sendResult(Protocol::failureResult(type, song->fileName ? Protocol::missingEntriesText
                                                                     : Protocol::missingFileNameText),
                       request.requestId);
            return;
        }
        std::string name = *song->fileName;
        if (!name.ends_with(".wav") && !name.ends_with(".WAV")) name += ".wav";
        // Wide enough for every routed channel, unless the song says how wide.
        std::int64_t channels = 2;
        for (const auto* list : {&song->song.song.clickChannels, &song->song.song.guideChannels,
                                 &song->song.song.padChannels})
            for (const std::int64_t channel : *list) channels = std::max(channels, channel + 1);
        channels = song->song.song.totalChannels.value_or(channels);
        // Long work: on the pool, so that library saves are not held up.
        answerLater(type, [player = player_, folder = folders_.music / "CadenzoPlayer", name,
                             settings = song->song.song, channels] {
            return Protocol::savedFileResult(
                Protocol::ExportSongRequest::type,
                saveNewFile(folder, name, [&](const std::filesystem::path& temporary) {
                    exportSongToWav(*player, settings, channels, temporary);
                }).string());
        },
                    request.requestId);
    }
}

void NativeAudioBridge::startHandsFree(const HandsFree::Settings& settings) {
    const std::weak_ptr<NativeAudioBridge> weak = weak_from_this();
    handsFree_ = std::make_shared<HandsFree>(
        settings,
        [weak](const ControlEvent& event) {
            MainThread::post([weak, message = controlMessage(event)] {
                if (auto self = weak.lock()) self->sendResult(message, std::nullopt);
            });
        },
        [player = std::weak_ptr(player_)] {
            const auto song = player.lock();
            if (!song) return PlayPosition{};
            const SongPlayer::Position at = song->position();
            if (!at.playing) return PlayPosition{};
            return PlayPosition{true, at.title, at.section + 1, at.sectionLabel, at.bar, at.beat};
        });
}

void NativeAudioBridge::controlRequest(const Protocol::Request& request) {
    const std::string_view type = Protocol::typeName(request.kind);
    if (!handsFree_) return sendResult(Protocol::failureResult(type, Protocol::handsFreeOffText), request.requestId);
    if (std::holds_alternative<Protocol::ControlStatusRequest>(request.kind)) {
        // Listing MIDI inputs may wait on the MIDI system.
        answerLater(type, [handsFree = handsFree_, type] {
            json result = handsFree->status();
            result.update(Protocol::successResult(type));
            return result;
        }, request.requestId);
    } else if (const auto* mappings = std::get_if<Protocol::SetMidiMappingsRequest>(&request.kind)) {
        if (!mappings->mappings)
            return sendResult(Protocol::failureResult(type, Protocol::missingMappingsText), request.requestId);
        try {
            handsFree_->setMappings(parseMidiMappings(*mappings->mappings));
            sendResult(Protocol::successResult(type), request.requestId);
        } catch (const Error& error) {
            sendResult(Protocol::failureResult(type, error.description()), request.requestId);
        }
    } else if (const auto* learn = std::get_if<Protocol::LearnMidiRequest>(&request.kind)) {
        if (learn->cancel) {
            handsFree_->cancelLearn();
            return sendResult(Protocol::successResult(type), request.requestId);
        }
        try {
            handsFree_->learn([weak = weak_from_this(), requestId = request.requestId](std::optional<MidiPress> press) {
                MainThread::post([weak, requestId, press] {
                    const auto self = weak.lock();
                    if (!self) return;
                    self->sendResult(press ? Protocol::learnedPressResult(toJson(*press))
                                           : Protocol::failureResult(Protocol::LearnMidiRequest::type, Protocol::learningCancelledText),
                                     requestId);
                });
            });
        } catch (const Error& error) {
            sendResult(Protocol::failureResult(type, error.description()), request.requestId);
        }
    } else if (const auto* input = std::get_if<Protocol::ConnectMidiInputRequest>(&request.kind)) {
        answerLater(type, [handsFree = handsFree_, name = input->name, type] {
            handsFree->connectInput(name);
            return Protocol::successResult(type);
        }, request.requestId);
    }
}

void NativeAudioBridge::answerLater(std::string_view type, std::function<json()> work, std::optional<json> requestId,
                                    SerialQueue* queue) {
    // The task holds the bridge until its result has been sent, so the work
    // is done and answered even when everyone else has let go meanwhile.
    auto task = [self = shared_from_this(), type, work = std::move(work), requestId = std::move(requestId)]() mutable {
        json result;
        try {
            result = work();
        } catch (...) {
            // The page shows the failure's own sentence as it is.
            result = failureOf(type, std::current_exception());
        }
        MainThread::post(
            [self = std::move(self), result = std::move(result), requestId = std::move(requestId)]() mutable {
                self->sendResult(std::move(result), requestId);
            });
    };
    if (queue)
        queue->async(std::move(task));
    else
        ConcurrentPool::shared().async(std::move(task));
}

void NativeAudioBridge::sendResult(json result, const std::optional<json>& requestId) {
    const std::shared_ptr<ScriptTarget> webView = webView_.lock();
    if (!webView) return;
    const std::optional<std::string> script = Protocol::deliveryScript(std::move(result), requestId);
    if (!script) return;
    webView->evaluateScript(*script);
}

} // namespace cadenzo

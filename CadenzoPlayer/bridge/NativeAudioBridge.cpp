#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"
#include "CadenzoPlayer/dispatch/MainThread.hpp"
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

std::shared_ptr<NativeAudioBridge> NativeAudioBridge::make(ToneWait toneWait) {
    auto bridge = std::shared_ptr<NativeAudioBridge>(new NativeAudioBridge(std::move(toneWait)));
    bridge->player_->setDeviceLostHandler([weak = std::weak_ptr(bridge)](const std::string& deviceUid) {
        MainThread::post([weak, deviceUid] {
            if (auto self = weak.lock()) self->sendResult(Protocol::deviceLostResult(deviceUid), std::nullopt);
        });
    });
    return bridge;
}

NativeAudioBridge::NativeAudioBridge(ToneWait toneWait)
    : player_(SongPlayer::make()), toneWait_(std::move(toneWait)) {}

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
        [device = *device, channel = request.channel, channelCount = request.channelCount, wait = toneWait_] {
            try {
                if (wait)
                    CoreAudioDevices::playTestTone(device.id, device.channelCount, channel, channelCount, wait);
                else
                    CoreAudioDevices::playTestTone(device.id, device.channelCount, channel, channelCount);
                return Protocol::successResult(Protocol::TestToneRequest::type);
            } catch (...) {
                return failureOf(Protocol::TestToneRequest::type, std::current_exception());
            }
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
        [player = player_, device = *device, song = request.song] {
            try {
                return Protocol::playSongSuccessResult(player->play(device, song));
            } catch (...) {
                return failureOf(Protocol::PlaySongRequest::type, std::current_exception());
            }
        },
        std::move(requestId));
}

void NativeAudioBridge::answerLater(std::function<json()> work, std::optional<json> requestId) {
    // The task holds the bridge until its result has been sent, so the work
    // is done and answered even when everyone else has let go meanwhile.
    ConcurrentPool::shared().async(
        [self = shared_from_this(), work = std::move(work), requestId = std::move(requestId)]() mutable {
            json result = work();
            MainThread::post([self = std::move(self), result = std::move(result),
                              requestId = std::move(requestId)]() mutable {
                self->sendResult(std::move(result), requestId);
            });
        });
}

void NativeAudioBridge::sendResult(json result, const std::optional<json>& requestId) {
    const std::shared_ptr<ScriptTarget> webView = webView_.lock();
    if (!webView) return;
    const std::optional<std::string> script = Protocol::deliveryScript(std::move(result), requestId);
    if (!script) return;
    webView->evaluateScript(*script);
}

} // namespace cadenzo

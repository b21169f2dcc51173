#include "CadenzoPlayer/audio/AudioPlayerNode.hpp"

#include <algorithm>

namespace cadenzo {

std::uint64_t StartGate::takeTicket() {
    std::lock_guard lock(mutex_);
    ++issued_;
    if (holds_ == 0) released.store(issued_, std::memory_order_release);
    return issued_;
}

void StartGate::hold() {
    std::lock_guard lock(mutex_);
    ++holds_;
}

void StartGate::unhold() {
    std::lock_guard lock(mutex_);
    if (holds_ > 0 && --holds_ == 0) released.store(issued_, std::memory_order_release);
}

AudioPlayerNode::AudioPlayerNode() : gate_(std::make_shared<StartGate>()) {}

AudioPlayerNode::~AudioPlayerNode() { freeRenderState(); }

void AudioPlayerNode::scheduleBuffer(PcmBufferPtr buffer, std::optional<std::int64_t> at) {
    if (!buffer || buffer->frameLength() == 0) return;
    auto* command = new Command;
    command->kind = Command::Kind::schedule;
    command->raw = buffer.get();
    command->length = buffer->frameLength();
    command->buffer = std::move(buffer);
    command->asap = !at.has_value();
    command->at = at.value_or(0);
    submit(command);
}

void AudioPlayerNode::play() {
    auto* command = new Command;
    command->kind = Command::Kind::play;
    std::lock_guard lock(controlMutex_);
    command->ticket = gate_->takeTicket();
    incoming_.push(command);
    playing_.store(true);
}

void AudioPlayerNode::stop() {
    auto* command = new Command;
    command->kind = Command::Kind::stop;
    submit(command);
    playing_.store(false);
}

void AudioPlayerNode::cutFrom(std::int64_t at) {
    auto* command = new Command;
    command->kind = Command::Kind::cut;
    command->at = at;
    submit(command);
}

void AudioPlayerNode::submit(Command* command) {
    std::lock_guard lock(controlMutex_);
    incoming_.push(command);
    releaseFinished();
}

void AudioPlayerNode::releaseFinished() {
    Command* chain = finished_.takeAll();
    while (chain) {
        Command* next = chain->next;
        delete chain;
        chain = next;
    }
}

void AudioPlayerNode::attachTo(std::shared_ptr<StartGate> gate) {
    std::lock_guard lock(controlMutex_);
    gate_ = std::move(gate);
}

void AudioPlayerNode::resetAfterEngineStop() {
    std::lock_guard lock(controlMutex_);
    freeRenderState();
    playing_.store(false);
}

void AudioPlayerNode::freeRenderState() {
    const auto freeChain = [](Command* chain, Command* Command::*link) {
        while (chain) {
            Command* next = chain->*link;
            delete chain;
            chain = next;
        }
    };
    freeChain(incoming_.takeAll(), &Command::next);
    freeChain(finished_.takeAll(), &Command::next);
    freeChain(pendingHead_, &Command::next);
    freeChain(scheduledHead_, &Command::after);
    pendingHead_ = pendingTail_ = nullptr;
    scheduledHead_ = scheduledTail_ = nullptr;
    rendering_ = false;
    position_ = 0;
    played_.store(0, std::memory_order_relaxed);
    asapEnd_ = 0;
}

// ---- render side -------------------------------------------------------------------------------------------------

void AudioPlayerNode::retire(Command* command) noexcept {
    command->before = command->after = nullptr;
    finished_.push(command);
}

void AudioPlayerNode::insertScheduled(Command* command) noexcept {
    // Buffers mostly arrive in time order, so the search starts at the end.
    Command* before = scheduledTail_;
    while (before && before->start > command->start) before = before->before;
    command->before = before;
    command->after = before ? before->after : scheduledHead_;
    if (command->after) command->after->before = command;
    else scheduledTail_ = command;
    if (before) before->after = command;
    else scheduledHead_ = command;
}

void AudioPlayerNode::unlinkScheduled(Command* command) noexcept {
    if (command->before) command->before->after = command->after;
    else scheduledHead_ = command->after;
    if (command->after) command->after->before = command->before;
    else scheduledTail_ = command->before;
}

void AudioPlayerNode::clearScheduled() noexcept {
    Command* item = scheduledHead_;
    scheduledHead_ = scheduledTail_ = nullptr;
    while (item) {
        Command* next = item->after;
        retire(item);
        item = next;
    }
}

void AudioPlayerNode::applyCommand(Command* command) noexcept {
    switch (command->kind) {
    case Command::Kind::schedule:
        if (command->asap) {
            command->start = std::max(asapEnd_, position_);
            asapEnd_ = command->start + command->length;
        } else {
            command->start = command->at;
        }
        insertScheduled(command);
        return;
    case Command::Kind::play:
        if (!rendering_) {
            rendering_ = true;
            position_ = 0;
            rampFrom_ = rampTo_ = gain_.load(std::memory_order_relaxed);
            rampDone_ = gainRampFrames;
        }
        break;
    case Command::Kind::cut:
        for (Command* item = scheduledHead_; item;) {
            Command* following = item->after;
            if (item->start >= command->at) {
                unlinkScheduled(item);
                retire(item);
            } else if (item->start + item->length > command->at) {
                item->length = command->at - item->start;
            }
            item = following;
        }
        asapEnd_ = std::min(asapEnd_, std::max(command->at, position_));
        break;
    case Command::Kind::stop:
        clearScheduled();
        rendering_ = false;
        position_ = 0;
        played_.store(0, std::memory_order_relaxed);
        asapEnd_ = 0;
        break;
    }
    retire(command);
}

void AudioPlayerNode::render(float* const* out, std::uint32_t channels, std::uint32_t frames,
                             std::uint64_t releasedStarts) noexcept {
    if (Command* arrived = IntrusiveStack<Command>::reversed(incoming_.takeAll())) {
        if (pendingTail_) pendingTail_->next = arrived;
        else pendingHead_ = arrived;
        pendingTail_ = arrived;
        while (pendingTail_->next) pendingTail_ = pendingTail_->next;
    }
    while (pendingHead_) {
        Command* command = pendingHead_;
        if (command->kind == Command::Kind::play && command->ticket > releasedStarts) break;
        pendingHead_ = command->next;
        if (!pendingHead_) pendingTail_ = nullptr;
        command->next = nullptr;
        applyCommand(command);
    }
    if (!rendering_) return;

    const std::int64_t blockStart = position_;
    const std::int64_t blockEnd = position_ + frames;
    const float volume = volume_.load(std::memory_order_relaxed);
    if (const float target = gain_.load(std::memory_order_relaxed); target != rampTo_) {
        // A new glide starts where the sound is now, even in the middle of another.
        rampFrom_ = gainAfter(rampDone_);
        rampTo_ = target;
        rampDone_ = 0;
    }
    const bool gliding = rampDone_ < gainRampFrames;
    const float steady = volume * rampTo_;
    for (Command* item = scheduledHead_; item && item->start < blockEnd;) {
        Command* following = item->after;
        const std::int64_t itemEnd = item->start + item->length;
        if (itemEnd > blockStart && (gliding || steady != 0.0f)) {
            const std::int64_t from = std::max(item->start, blockStart);
            const std::int64_t to = std::min(itemEnd, blockEnd);
            const auto count = static_cast<std::size_t>(to - from);
            const std::uint32_t mixed = std::min(channels, item->raw->format().channelCount);
            for (std::uint32_t c = 0; c < mixed; ++c) {
                const float* source = item->raw->channelData(c);
                if (!source) continue;
                source += from - item->start;
                float* target = out[c] + (from - blockStart);
                if (!gliding) {
                    for (std::size_t i = 0; i < count; ++i) target[i] += source[i] * steady;
                    continue;
                }
                const std::int64_t done = rampDone_ + (from - blockStart) + 1;  // of the glide, at the first frame
                for (std::size_t i = 0; i < count; ++i)
                    target[i] += source[i] * (volume * gainAfter(done + static_cast<std::int64_t>(i)));
            }
        }
        if (itemEnd <= blockEnd) {
            unlinkScheduled(item);
            retire(item);
        }
        item = following;
    }
    rampDone_ = std::min(rampDone_ + static_cast<std::int64_t>(frames), gainRampFrames);
    position_ = blockEnd;
    played_.store(blockEnd, std::memory_order_relaxed);
}

float AudioPlayerNode::gainAfter(std::int64_t done) const noexcept {
    if (done >= gainRampFrames) return rampTo_;
    return rampFrom_ + (rampTo_ - rampFrom_) * static_cast<float>(done) / gainRampFrames;
}

void AudioPlayerNode::skip(std::int64_t frames, std::uint64_t releasedStarts) noexcept {
    // With no channels a block only moves the timeline on.
    for (; frames > 0; frames -= UINT32_MAX) {
        render(nullptr, 0, static_cast<std::uint32_t>(std::min<std::int64_t>(frames, UINT32_MAX)), releasedStarts);
    }
}

} // namespace cadenzo

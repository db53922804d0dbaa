#include "VisAnalysis.h"

#include "CPlayer.h"

#include <algorithm>
#include <cstring>

namespace tessura {

static_assert(kVisBlockBytes == TESSURA_VIS_BLOCK_BYTES, "one block layout for modules and plug-ins");

int8_t visSample(const uint8_t* sample, int bits) {
    if (bits <= 8) return static_cast<int8_t>(sample[0] ^ 0x80u);
    // Little-endian: the most significant byte is the last one.
    return static_cast<int8_t>(sample[(bits + 7) / 8 - 1]);
}

void VisAnalysis::addPcm(const uint8_t* pcm, std::size_t length, const PcmFormat& format) {
    if (pcm == nullptr || format.channels < 1 || format.bits < 1 || format.bits > 32) return;
    const std::size_t sampleBytes = static_cast<std::size_t>((format.bits + 7) / 8);
    const std::size_t frameBytes = sampleBytes * static_cast<std::size_t>(format.channels);
    std::lock_guard<std::mutex> hold(mutex_);
    if (format.rate != format_.rate || format.channels != format_.channels || format.bits != format_.bits) {
        format_ = format;
        filled_ = 0;
        carry_.clear();
    }
    auto takeFrame = [&](const uint8_t* frame) {
        const int8_t l = visSample(frame, format.bits);
        const int8_t r = format.channels > 1 ? visSample(frame + sampleBytes, format.bits) : l;
        left_[static_cast<std::size_t>(filled_)] = l;
        right_[static_cast<std::size_t>(filled_)] = r;
        ++framesHeard_;
        if (++filled_ == TESSURA_VIS_SAMPLES) finishBlockLocked();
    };
    std::size_t at = 0;
    if (!carry_.empty()) {
        const std::size_t wanted = std::min(frameBytes - carry_.size(), length);
        carry_.insert(carry_.end(), pcm, pcm + wanted);
        at = wanted;
        if (carry_.size() < frameBytes) return;
        takeFrame(carry_.data());
        carry_.clear();
    }
    for (; at + frameBytes <= length; at += frameBytes) takeFrame(pcm + at);
    carry_.assign(pcm + at, pcm + length);
}

void VisAnalysis::finishBlockLocked() {
    filled_ = 0;
    std::rotate(kept_.begin(), kept_.begin() + 1, kept_.end());
    VisBlock& block = kept_.back();
    const int32_t heardMs =
        format_.rate > 0 ? static_cast<int32_t>(framesHeard_ * 1000u / static_cast<uint64_t>(format_.rate)) : 0;
    std::memcpy(block.bytes.data(), &heardMs, sizeof heardMs);
    std::memcpy(block.bytes.data() + TESSURA_VIS_LEFT_SAMPLES, left_.data(), left_.size());
    std::memcpy(block.bytes.data() + TESSURA_VIS_RIGHT_SAMPLES, right_.data(), right_.size());
    visSpectrum(left_.data(), block.bytes.data() + TESSURA_VIS_LEFT_SPECTRUM);
    visSpectrum(right_.data(), block.bytes.data() + TESSURA_VIS_RIGHT_SPECTRUM);
    ++made_;
}

std::function<void(const uint8_t*, std::size_t, const PcmFormat&)> VisAnalysis::tap() {
    return [this](const uint8_t* pcm, std::size_t length, const PcmFormat& format) { addPcm(pcm, length, format); };
}

void VisAnalysis::reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    filled_ = 0;
    carry_.clear();
    framesHeard_ = 0;
    kept_ = {};
    made_ = 0;
}

std::vector<VisBlock> VisAnalysis::newestBlocks() const {
    std::lock_guard<std::mutex> hold(mutex_);
    const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(made_, kKeptBlocks));
    return std::vector<VisBlock>(kept_.end() - static_cast<std::ptrdiff_t>(count), kept_.end());
}

uint64_t VisAnalysis::blocksMade() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return made_;
}

}  // namespace tessura

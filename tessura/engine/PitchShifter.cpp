#include "PitchShifter.h"

#include <algorithm>
#include <cstring>

namespace tessura {

const PitchShifterInterfaceTable PitchShifter::kTable = {
    BuiltinProcessor::commonSlots(),
    [](ProcessorInterface* self, double factor) -> int32_t {
        static_cast<PitchShifter&>(BuiltinProcessor::of(self)).setPitch(factor);
        return TESSURA_RESULT_OK;
    },
};

PitchShifter::PitchShifter() : BuiltinProcessor(&kTable.common), buffer_(kBufferBytes) {}

void PitchShifter::setPitch(double factor) {
    std::lock_guard<std::mutex> hold(mutex_);
    const double scaled = factor * 256.0;
    // A factor outside what a block can hold is refused rather than wrapped.
    factor_ = scaled < 1.0 ? 1 : (scaled > 65536.0 ? 65536 : static_cast<int32_t>(scaled));
}

int32_t PitchShifter::storedFactor() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return factor_;
}

std::size_t PitchShifter::pickFrames(const uint8_t* in, std::size_t frames, uint32_t frameBytes) {
    const std::size_t room = buffer_.size() / frameBytes;
    std::size_t out = 0;
    for (uint64_t index = 0; (index >> 8) < frames && out < room; index += uint64_t(factor_), ++out) {
        std::memcpy(&buffer_[out * frameBytes], in + (index >> 8) * frameBytes, frameBytes);
    }
    return out * frameBytes;
}

std::size_t PitchShifter::interpolateStereo16(const uint8_t* in, std::size_t frames) {
    if (frames == 0) return 0;
    const std::size_t wanted = static_cast<std::size_t>(uint64_t{frames} * 256 / uint64_t(factor_));
    const std::size_t count = std::min(wanted, buffer_.size() / 4);
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t at = uint64_t{i} * uint64_t(factor_);
        const std::size_t first = std::min<std::size_t>(at >> 8, frames - 1);
        const std::size_t second = std::min(first + 1, frames - 1);
        const int32_t weight = static_cast<int32_t>(at & 0xFF);
        for (int channel = 0; channel < 2; ++channel) {
            int16_t a, b;
            std::memcpy(&a, in + first * 4 + channel * 2, 2);
            std::memcpy(&b, in + second * 4 + channel * 2, 2);
            const auto mixed = static_cast<int16_t>((a * (256 - weight) + b * weight) / 256);
            std::memcpy(&buffer_[i * 4 + channel * 2], &mixed, 2);
        }
    }
    return count * 4;
}

std::size_t PitchShifter::process(uint8_t* data, std::size_t length, std::size_t capacity) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (factor_ == 256) return length;
    const uint32_t frameBytes = format_.frameBytes();
    const std::size_t frames = length / frameBytes;
    std::size_t produced = 0;
    if (frameBytes == 1 || frameBytes == 2) {
        produced = pickFrames(data, frames, frameBytes);
    } else if (frameBytes == 4) {
        produced = interpolateStereo16(data, frames);
    }
    produced = std::min(produced, capacity / frameBytes * frameBytes);
    std::memcpy(data, buffer_.data(), produced);
    return produced;
}

PluginInfo PitchShifter::info() const {
    return {"Tessura Pitch Shift", "", {0x6A3F1C21, 0x5B1E, 0x4C7A, {0x9E, 0x21, 0x0D, 0x44, 0x7B, 0x3A, 0x10, 0x02}}, 1};
}

}  // namespace tessura

#include "OutputBlockSize.h"

#include <algorithm>

namespace tessura {

namespace {
uint32_t frameBytes(uint32_t channels, uint32_t bitsPerSample) {
    return std::max<uint32_t>(1, channels * std::max<uint32_t>(1, bitsPerSample / 8));
}
}  // namespace

uint32_t outputBlockSize(uint32_t fragmentBytes, uint32_t rate, uint32_t channels,
                         uint32_t bitsPerSample) {
    uint64_t size = uint64_t{fragmentBytes} * rate / 44100;
    if (channels == 1) size /= 2;
    const uint32_t frame = frameBytes(channels, bitsPerSample);
    size = (size + frame - 1) / frame * frame;
    size = std::clamp<uint64_t>(size, frame, kMaxOutputBlock / frame * frame);
    return static_cast<uint32_t>(size);
}

uint32_t fragmentDurationMs(uint32_t blockBytes, uint32_t rate, uint32_t channels,
                            uint32_t bitsPerSample) {
    const uint64_t bytesPerSecond = uint64_t{rate} * frameBytes(channels, bitsPerSample);
    if (bytesPerSecond == 0) return kMinFragmentMs;
    return static_cast<uint32_t>(
        std::max<uint64_t>(kMinFragmentMs, uint64_t{blockBytes} * 1000 / bytesPerSecond));
}

}  // namespace tessura

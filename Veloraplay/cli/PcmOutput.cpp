#include "PcmOutput.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace veloraplay {
namespace {

constexpr uint32_t kOpenSize = 0xFFFFFFFFu;
constexpr uint16_t kFormatFloat = 3;

void PutLe(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

bool PcmOutput::WriteHeader(uint32_t dataBytes) {
    const auto blockAlign = static_cast<uint32_t>(channels_ * 4);
    const bool open = dataBytes == kOpenSize;
    std::string h = "RIFF";
    PutLe(h, open ? kOpenSize : 4 + 26 + 12 + 8 + dataBytes, 4);
    h += "WAVEfmt ";
    PutLe(h, 18, 4);
    PutLe(h, kFormatFloat, 2);
    PutLe(h, static_cast<uint32_t>(channels_), 2);
    PutLe(h, static_cast<uint32_t>(rate_), 4);
    PutLe(h, static_cast<uint32_t>(rate_) * blockAlign, 4);
    PutLe(h, blockAlign, 2);
    PutLe(h, 32, 2);
    PutLe(h, 0, 2);
    h += "fact";
    PutLe(h, 4, 4);
    PutLe(h, open ? kOpenSize : dataBytes / blockAlign, 4);
    h += "data";
    PutLe(h, dataBytes, 4);
    return std::fwrite(h.data(), 1, h.size(), out_) == h.size();
}

bool PcmOutput::Open(int channels, int sampleRate) {
    channels_ = channels;
    rate_ = sampleRate;
    seekable_ = std::ftell(out_) >= 0;
    return !header_ || !floats_ || WriteHeader(seekable_ ? 0 : kOpenSize);
}

bool PcmOutput::Write(const int16_t* samples, size_t count) {
    std::vector<uint8_t> bytes(count * (floats_ ? 4 : 2));
    uint8_t* p = bytes.data();
    for (size_t i = 0; i < count; ++i) {
        uint32_t v = static_cast<uint16_t>(samples[i]);
        int width = 2;
        if (floats_) {
            const float f = static_cast<float>(samples[i]) / 32768.0f;
            static_assert(sizeof(float) == 4);
            std::memcpy(&v, &f, 4);
            width = 4;
        }
        for (int b = 0; b < width; ++b) *p++ = static_cast<uint8_t>(v >> (8 * b));
    }
    dataBytes_ += bytes.size();
    return std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size();
}

bool PcmOutput::Finish() {
    if (!header_ || !floats_ || !seekable_) return std::fflush(out_) == 0;
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFF0u));
    return std::fflush(out_) == 0 && std::fseek(out_, 0, SEEK_SET) == 0 && WriteHeader(size) &&
           std::fseek(out_, 0, SEEK_END) == 0 && std::fflush(out_) == 0;
}

}  // namespace veloraplay

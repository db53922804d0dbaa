#include "Amplifier.h"

#include <cmath>
#include <cstring>

namespace tessura {

namespace {
constexpr int64_t kBound16 = int64_t{1} << 27;  // 32768 x 4096
constexpr int64_t kBound8 = int64_t{1} << 19;   // 128 x 4096
}  // namespace

int16_t amplify16(int16_t sample, int32_t scaledGain) {
    const int64_t product = int64_t{sample} * scaledGain;
    if (product >= kBound16) return 32767;
    if (product < -kBound16) return -32768;
    return static_cast<int16_t>(product >> 12);
}

uint8_t amplify8(uint8_t sample, int32_t scaledGain) {
    const int64_t product = (int64_t{sample} - 128) * scaledGain;
    int64_t centred;
    if (product >= kBound8) {
        centred = 127;
    } else if (product < -kBound8) {
        centred = -128;
    } else {
        centred = product >> 12;
    }
    return static_cast<uint8_t>(centred + 128);
}

namespace {
Amplifier& amplifier(ProcessorInterface* self) {
    return static_cast<Amplifier&>(BuiltinProcessor::of(self));
}
}  // namespace

const AmplifierInterfaceTable Amplifier::kTable = {
    BuiltinProcessor::commonSlots(),
    [](ProcessorInterface* self, double gain) -> int32_t {
        amplifier(self).setGain(gain);
        return TESSURA_RESULT_OK;
    },
    [](ProcessorInterface* self, double* gain) -> int32_t {
        if (gain == nullptr) return TESSURA_RESULT_FAILED;
        *gain = amplifier(self).gain();
        return TESSURA_RESULT_OK;
    },
};

Amplifier::Amplifier() : BuiltinProcessor(&kTable.common) {}

void Amplifier::setGain(double gain) {
    std::lock_guard<std::mutex> hold(mutex_);
    gain_ = gain;
    const double scaled = std::nearbyint(gain * 4096.0);
    scaled_ = scaled > 2147483647.0 ? 2147483647 : (scaled < 0 ? 0 : static_cast<int32_t>(scaled));
}

double Amplifier::gain() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return gain_;
}

std::size_t Amplifier::process(uint8_t* data, std::size_t length, std::size_t) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (gain_ == 1.0) return length;
    if (format_.bits == 16) {
        for (std::size_t i = 0; i + 1 < length; i += 2) {
            int16_t s;
            std::memcpy(&s, data + i, 2);
            s = amplify16(s, scaled_);
            std::memcpy(data + i, &s, 2);
        }
    } else if (format_.bits == 8) {
        for (std::size_t i = 0; i < length; ++i) data[i] = amplify8(data[i], scaled_);
    }
    return length;
}

PluginInfo Amplifier::info() const {
    return {"Tessura Amplifier", "", {0x6A3F1C20, 0x5B1E, 0x4C7A, {0x9E, 0x21, 0x0D, 0x44, 0x7B, 0x3A, 0x10, 0x01}}, 1};
}

}  // namespace tessura

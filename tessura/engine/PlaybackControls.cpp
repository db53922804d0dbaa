#include "PlaybackControls.h"

#include "LanguageStore.h"

#include <algorithm>
#include <cmath>

namespace tessura {

uint32_t packVolume(uint32_t volume, uint32_t balance) {
    volume = std::min<uint32_t>(volume, 65535);
    balance = std::min<uint32_t>(balance, 65535);
    uint32_t left = volume, right = volume;
    if (balance < 32769) {
        right = std::min<uint32_t>(65535, balance * volume / 32768);
    } else {
        left = std::min<uint32_t>(65535, (65536 - balance) * volume / 32768);
    }
    return left | (right << 16);
}

double amplifierGainFromKnob(uint32_t knob) {
    const double gain = std::exp2((static_cast<double>(std::min<uint32_t>(knob, 65535)) / 32768.0 - 1.0) * 3.0);
    return gain > 0.95 && gain < 1.05 ? 1.0 : gain;
}

double snapPitch(double factor) {
    if (factor > 1.0 && factor - 1.0 < 0.01) return 1.0;
    if (std::abs(factor - 1.0) < 0.008) return 1.0;
    return factor;
}

double pitchFactorFromKnob(uint32_t knob, bool fine) {
    const double offset = static_cast<double>(std::min<uint32_t>(knob, 65535)) - 32768.0;
    const double p = fine ? offset * 0.00001 : offset / 32768.0;
    return snapPitch(std::exp2(p));
}

std::string volumeText(const LanguageStore& language, uint32_t volume) {
    return language.Format("main/volume", {static_cast<long long>(std::min<uint32_t>(volume, 65535) * 100 / 65535)});
}

std::string balanceText(const LanguageStore& language, uint32_t balance) {
    balance = std::min<uint32_t>(balance, 65535);
    if (balance == 32767 || balance == 32768) return language.Text("main/balancecentre");
    if (balance < 32768) return language.Format("main/balanceleft", {static_cast<long long>((32768 - balance) / 327)});
    return language.Format("main/balanceright", {static_cast<long long>((balance - 32768) / 327)});
}

}  // namespace tessura

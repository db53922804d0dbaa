#pragma once
// The arithmetic of the volume, balance, amplifier and pitch controls, kept apart from the
// engine so every rule is tested on its own.
#include <cstdint>
#include <string>

namespace tessura {

class LanguageStore;

// Left level in the low 16 bits, right in the high 16 bits. Balance 32767 and 32768 are the
// centre; 0 is full left, 65535 full right.
uint32_t packVolume(uint32_t volume, uint32_t balance);

// Knob value 0-65535 to the amplifier's gain, 1/8 ... about 8; near 1.0 snaps to exactly 1.0.
double amplifierGainFromKnob(uint32_t knob);
// Knob value 0-65535 to the pitch factor, 0.5 ... 2.0 (fine: a hundred-thousandth per step);
// near 1.0 snaps to exactly 1.0.
double pitchFactorFromKnob(uint32_t knob, bool fine);
double snapPitch(double factor);

// The status-line texts of the volume and balance changes.
std::string volumeText(const LanguageStore& language, uint32_t volume);
std::string balanceText(const LanguageStore& language, uint32_t balance);

}  // namespace tessura

#pragma once
// The built-in output's block arithmetic: how many bytes one device buffer holds for a format,
// and how long it plays.
#include <cstdint>

namespace tessura {

inline constexpr uint32_t kMaxOutputBlock = 32768;
inline constexpr uint32_t kMinFragmentMs = 42;

// fragmentBytes x rate / 44100 (in 64 bits, so rates above 44.1 kHz neither divide by zero
// nor overflow), halved for mono, raised to a whole number of frames, at most 32768 bytes.
uint32_t outputBlockSize(uint32_t fragmentBytes, uint32_t rate, uint32_t channels,
                         uint32_t bitsPerSample);

// Milliseconds one block plays, at least 42.
uint32_t fragmentDurationMs(uint32_t blockBytes, uint32_t rate, uint32_t channels,
                            uint32_t bitsPerSample);

}  // namespace tessura

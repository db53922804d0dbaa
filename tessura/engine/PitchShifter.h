#pragma once
// The built-in pitch shifter ("Tessura Pitch Shift"): resamples each block by the pitch factor,
// kept as factor x 256, so playing faster raises the pitch and shortens the block. One- and
// two-byte frames pick input frames by a 24.8 fixed-point index; four-byte frames (16-bit
// stereo) are interpolated; other frame sizes give an empty block.
#include "BuiltinProcessor.h"

#include <vector>

namespace tessura {

// The shifter's table: the common slots, then 8 SetPitch.
struct PitchShifterInterfaceTable {
    ProcessorInterfaceTable common;
    int32_t (*SetPitch)(ProcessorInterface* self, double factor);
};

class PitchShifter final : public BuiltinProcessor {
  public:
    static constexpr std::size_t kBufferBytes = 128 * 1024;
    static const PitchShifterInterfaceTable kTable;

    PitchShifter();
    void setPitch(double factor);
    int32_t storedFactor() const;  // factor x 256, 256 = off
    std::size_t process(uint8_t* data, std::size_t length, std::size_t capacity) override;
    PluginInfo info() const override;

  private:
    std::size_t pickFrames(const uint8_t* in, std::size_t frames, uint32_t frameBytes);
    std::size_t interpolateStereo16(const uint8_t* in, std::size_t frames);

    int32_t factor_ = 256;        // guarded by mutex_
    std::vector<uint8_t> buffer_;  // guarded by mutex_; kBufferBytes
};

}  // namespace tessura

// Rate control of the core encoder: padding for the mean bit rate, the perceptual-entropy
// allowance (thresholds raised until a granule's entropy fits it) and the channels' shares.
#pragma once

#include <cstdint>

#include "PsychoacousticModel.h"

namespace velora::enc {


// Padding decisions that keep the mean rate of a constant-bit-rate stream exact (the frame
// writer gives the frame lengths, reservoir and limits).
class PaddingClock {
public:
    void Init(int bitrate, int samplesPerFrame, int sampleRate);
    // Whether the next frame carries the padding byte.
    bool Next();

private:
    int64_t remainder_ = 0;
    int64_t numerator_ = 0;    // per frame: bitrate x samples (in bits x Hz)
    int64_t denominator_ = 1;  // 8 x rate: one padding byte
};

// Raises the thresholds of `in` until its perceptual entropy falls to `allowance`:
// noise-like bands first (a tonal band rises at a fifth of the rate of a noise-like one).
// Returns the raise applied to a noise-like band, in dB.
float RaiseToAllowance(QuantiserInput& in, float allowance);
// The same for the channels of one granule together (their entropy summed).
float RaiseToAllowance(QuantiserInput* in, int channels, float allowance);

// Each channel's share of the granule's bits: 0.15 + (1 - 0.15 n) x PE_i / sum PE (0.15 each
// without entropy); one channel gets everything.
void ShareBits(const float* entropy, int channels, float* fractions);

// The constant-bit-rate allowance for a granule from the mean bits per granule, the reservoir
// bits it may draw on, and an adaptive factor.
class CbrAllowance {
public:
    void Reset() { k_ = 1.0f; }
    float Allowance(float meanBits, float reservoirBits, bool shortBlocks) const;
    // After quantising: the factor follows how the used bits compare with the target.
    void Update(int targetBits, int usedBits);
    float Factor() const { return k_; }

private:
    float k_ = 1.0f;
};

// The bits of one granule of a constant-bit-rate stream: the reservoir fills in granules
// whose perceptual entropy lies below the running mean of the stream's and empties into
// those above it and into short blocks (attacks), which need the most.
class ReservoirPlanner {
public:
    void Reset() { meanEntropy_ = 0.0f; }
    // `entropy`: the granule's entropy (all channels) before any raise of the thresholds;
    // `reservoirBits`: what earlier granules left, of at most `maxReservoirBits`. Returns
    // the granule's target, before the limits of the frame's capacity.
    float Target(float meanBits, float reservoirBits, float maxReservoirBits, float entropy, bool shortBlocks);
    float MeanEntropy() const { return meanEntropy_; }

private:
    float meanEntropy_ = 0.0f;
};

}  // namespace velora::enc

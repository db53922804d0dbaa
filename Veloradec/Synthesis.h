// Polyphase synthesis filter bank with full, half and quarter rate output. At down-sampling
// shift s it uses the lowest 32 >> s subbands and (32 >> s)-point matrixing; the result
// equals every (1 << s)-th sample of the full-rate output of those subbands.
#pragma once

namespace velora {

class Synthesis {
public:
    void Reset();
    // One time slot: 32 subband samples in, 32 >> shift samples out, written with the
    // given stride (the output channel count).
    void Run(const float subbands[32], int shift, float* out, int stride);

private:
    float history_[16][64] = {};  // newest block at index `newest_`
    int newest_ = 0;
};

}  // namespace velora

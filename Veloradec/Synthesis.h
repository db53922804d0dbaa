// Polyphase synthesis filter bank with full, half and quarter rate output. At down-sampling
// shift s it uses the lowest 32 >> s subbands and (32 >> s)-point matrixing; the result
// equals every (1 << s)-th sample of the full-rate output of those subbands.
#pragma once

namespace velora {

// Time slots of a granule as the filter bank takes them: subband-major, each subband's 18
// slots padded to whole vectors.
constexpr int kGranuleSlots = 18;
constexpr int kSlotLanes = 20;

class Synthesis {
public:
    void Reset();
    // The 18 time slots of a granule: `subbands[sb][t]`, 32 >> shift samples out per slot,
    // written with the given stride (the output channel count), slot after slot.
    void RunGranule(const float (*subbands)[kSlotLanes], int shift, float* out, int stride);
    // One time slot: 32 subband samples in, 32 >> shift samples out.
    void Run(const float subbands[32], int shift, float* out, int stride);

private:
    // The matrixed values of a slot are kept as the N-point DCT behind them (the window
    // reads the 2N matrixed values off it by symmetry): column 15 + t holds slot t of the
    // current call, columns 0..14 the 15 slots before it.
    static constexpr int kHistory = 15;
    static constexpr int kColumns = kHistory + kSlotLanes;
    template <int N, int Count>
    void Slots(const float (*subbands)[kSlotLanes], float* out, int stride);

    float dct_[32][kColumns] = {};
};

}  // namespace velora

// The 32-band polyphase analysis filter bank of MPEG-1 audio: 32 new samples in, one sample
// of each of the 32 subbands out. Paired with the decoder's polyphase synthesis it returns
// the input at unity gain, kPolyphaseDelay samples later.
#pragma once

namespace velora::enc {

// Analysis window C[i] = kAnalysisWindowSteps[i] / 2^21, i = 0..511. Generated at build
// time from tables/analysis_window.txt; the integer steps keep the window exact in float.
extern const float kAnalysisWindowSteps[512];

// Delay of analysis followed by the decoder's synthesis, in samples.
constexpr int kPolyphaseDelay = 481;

class PolyphaseAnalysis {
public:
    void Reset();
    // `in` holds the 32 new samples, oldest first; `out[k]` receives subband k.
    void Run(const float in[32], float out[32]);

private:
    // The newest 512 samples, newest first from `start_`: sample age i is at start_ + i.
    // New blocks are written below the current one and the history is moved to the end of
    // the buffer once the front is used up, so the windowing reads one contiguous run.
    static constexpr int kBufferSize = 1024;
    float buffer_[kBufferSize] = {};
    int start_ = kBufferSize - 512;
};

}  // namespace velora::enc

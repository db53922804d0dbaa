// Collects the caller's input bytes into one frame of float samples (full scale +-32768),
// mixing two channels down to one where the stream codes them as one. Input may be cut
// anywhere, even inside a sample: the bytes of an incomplete sample frame wait for the next
// call. Fixed storage, no allocation.
#pragma once

#include <cstdint>

namespace velora::enc {

class InputGatherer {
public:
    static constexpr int kMaxFrameSamples = 1152;  // per channel
    static constexpr int kMaxChannels = 2;

    // `frameSamples` per channel (at most kMaxFrameSamples); `mixDown` turns a two-channel
    // input into one channel, (L + R) x 0.5. False for values out of range.
    bool Configure(int inputChannels, int sampleFormat, int frameSamples, bool mixDown);

    // Takes bytes up to the end of the frame; returns how many it took.
    int Gather(const uint8_t* bytes, int count);
    bool Full() const { return filled_ == frameSamples_; }
    // Bytes of input the frame still lacks.
    int MissingBytes() const { return (frameSamples_ - filled_) * frameBytes_ - partialBytes_; }
    // Bytes of input one frame holds.
    int FrameBytes() const { return frameSamples_ * frameBytes_; }
    // Completes the frame with silence (a waiting partial sample frame is dropped).
    void PadWithZeros();
    // Starts the next frame.
    void Clear();

    // The frame, interleaved, OutputChannels() channels.
    const float* Samples() const { return samples_; }
    int OutputChannels() const { return mixDown_ ? 1 : inputChannels_; }
    int FrameSamples() const { return frameSamples_; }

private:
    void Store(const uint8_t* sampleFrame);

    int inputChannels_ = 1;
    int sampleFormat_ = 0;
    int sampleBytes_ = 2;
    int frameBytes_ = 2;  // bytes of one sample frame (all channels)
    int frameSamples_ = 0;
    bool mixDown_ = false;
    int filled_ = 0;
    uint8_t partial_[kMaxChannels * 4] = {};
    int partialBytes_ = 0;
    float samples_[kMaxFrameSamples * kMaxChannels] = {};
};

}  // namespace velora::enc

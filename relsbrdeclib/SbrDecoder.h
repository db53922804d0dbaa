// The SBR decoder as the mp3 decoder object sees it: created on the first frame that carries
// a payload, it turns each core frame (576 samples per channel at up to 24000 Hz) into an
// output frame of 1152 samples per channel at twice the rate, with the high band rebuilt
// from the payload.
//
// Energies in the payload refer to the complex QMF domain of this decoder: the mean squared
// magnitude of a band's sub-samples before the synthesis scaling, with the core signal at
// full scale +-32768.
#pragma once

#include "SbrConfig.h"
#include "SbrHandoff.h"

namespace velora::sbr {

constexpr int kSbrOutputFrame = 1152;
constexpr int kMaxCoreRate = 24000;

class SbrDecoder {
public:
    // Null when the core rate is above 24000 Hz, when the output frame (coreSamples x 2)
    // is not 1152 samples, when the configuration is unusable, or when memory is short.
    static SbrDecoder* Create(int coreRate, int coreSamples, const SbrConfig& config,
                              const velora::SbrFrame& first);
    static void Destroy(SbrDecoder* decoder);

    // 2.0 for every decoder Create accepts (dual rate).
    float RateFactor() const;
    // 2 for a single-channel core whose stored header asks for pseudo stereo, else
    // `coreChannels`.
    int OutputChannels(int coreChannels) const;
    // Off keeps the doubled rate and the equaliser but leaves the high band empty.
    void SetEnabled(bool enabled);
    // A caller that asked for mono output keeps a mono core mono (on by default).
    void AllowPseudoStereo(bool allowed);
    // `edges` and `gains` must stay valid while the decoder runs (read on every frame);
    // group j covers the QMF bands from edges[j-1] (0 for j = 0) to edges[j], the last
    // group up to band 63. Its gain also scales the regenerated high band.
    void SetEqualiser(int count, const int* edges, const float* gains);
    // `samples` holds the core frame (576 samples x `channels`, interleaved) on entry and
    // the output frame (1152 x OutputChannels(channels)) on return; it must have room for
    // 1152 x 2 floats. Returns 0 or error 11, 12 or 13 of payload parsing.
    int Process(const velora::SbrFrame& frame, float* samples, int channels);
    // Clears every history (QMF banks and matrices, generator, adjuster, envelope
    // references) and re-initialises both channels; the stored header is kept.
    void Reset();

protected:
    SbrDecoder() = default;
    ~SbrDecoder() = default;
};

}  // namespace velora::sbr

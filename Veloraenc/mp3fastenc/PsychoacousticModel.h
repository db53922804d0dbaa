// The psychoacoustic model: per granule and channel, the masking threshold of every
// scale-factor band (spreading, threshold in quiet, pre-echo control), the band energies,
// the perceptual entropy, and the stereo decision; handed to the quantiser in its order.
#pragma once

#include <cstdint>

#include "Layer3Granule.h"
#include "PsychoacousticConfig.h"

namespace velora::enc {

constexpr int kMaxQuantiserBands = 39;  // 13 short bands x 3 windows

// What the quantiser gets for one granule of one channel.
struct QuantiserInput {
    int32_t blockType = kBlockLong;
    int32_t windows = 1;  // 3 for short blocks
    int32_t bands = 0;    // x 3 for short blocks: band b, window w at 3 * b + w
    int32_t usedBands = 0;  // bands below the line limit (x 3 for short blocks)
    // Line boundaries of the bands in `lines` (bands + 1 values).
    int32_t bounds[kMaxQuantiserBands + 1] = {};
    // Long blocks in frequency order; short blocks band by band, window by window.
    float lines[kGranuleLines] = {};
    float threshold[kMaxQuantiserBands] = {};  // allowed noise energy (model scale)
    float energy[kMaxQuantiserBands] = {};     // band energy (model scale)
    // Tonality 0 (noise-like) .. 1 (tonal) of the band: the rate control raises the
    // thresholds of noise-like bands first.
    float tonality[kMaxQuantiserBands] = {};
    float perceptualEntropy = 0.0f;
    // Intensity stereo (long blocks, second channel): from this band on the lines are zero
    // and the scale factors carry the fixed intensity positions below.
    int32_t intensityBand = kMaxQuantiserBands;
    int32_t intensityPosition[kMaxPartitions] = {};
};

struct StereoDecision {
    bool midSide = false;
    bool intensity = false;
    // With mid/side allowed and the block types agreeing: the entropy of the channels as
    // they are and as mid and side (Mid() and Side() hold those records), so that a frame of
    // two granules can decide for both.
    bool midSideAvailable = false;
    float separateEntropy = 0.0f;
    float jointEntropy = 0.0f;
};

// Perceptual entropy of bands with the given energies and thresholds (in bits).
float PerceptualEntropy(const QuantiserInput& in);

// Whether mid/side codes a granule (or the granules of a frame) better than left/right, from
// the entropies of both. Mid/side is worth up to a tenth more entropy: its noise lies under
// the lower of the two channels' thresholds in both, so the louder channel gets less noise
// than left/right coding would leave in it (the listening set graded 1.1 best of 0.8-1.3,
// at 64 to 192 kbit/s).
constexpr float kMidSideEntropyRatio = 1.1f;
inline bool PreferMidSide(float jointEntropy, float separateEntropy) {
    return jointEntropy < kMidSideEntropyRatio * separateEntropy;
}

class PsychoacousticModel {
public:
    void Init(const PsychoacousticConfig& config);
    void Reset();
    // Analyses one granule of every coded channel (block types already synchronised) and
    // fills one record per channel. `stereo.midSide` recommends mid/side for the granule;
    // Mid() and Side() then hold the records of (L + R) / sqrt 2 and (L - R) / sqrt 2.
    void Analyse(const GranuleSpectrum* spectra, int channels, QuantiserInput* out, StereoDecision& stereo);

    // The mid and side records of the last Analyse (valid when midSideAvailable).
    const QuantiserInput& Mid() const { return mid_; }
    const QuantiserInput& Side() const { return side_; }

private:
    struct ChannelState {
        float previousLong[kMaxPartitions];
        float previousShort[kMaxPartitions];  // the last short window analysed
        int32_t previousBlockType;
    };
    void AnalyseChannel(const GranuleSpectrum& spectrum, ChannelState& state, QuantiserInput& out) const;

    PsychoacousticConfig config_;
    ChannelState state_[2];
    QuantiserInput mid_;
    QuantiserInput side_;
};

}  // namespace velora::enc

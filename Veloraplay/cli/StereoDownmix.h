// `--downmix`: more than two channels mixed to stereo. Each channel goes to the side its
// place says (from the file's channel map, or the WAVE default order for its count): front
// left and right whole, centre channels to both and surrounds to their side at -3 dB, the
// LFE channel left out; each side is then scaled so that its weights sum to one and the
// mix cannot clip.
#pragma once

#include <vector>

namespace veloraplay {

struct StereoWeights {
    std::vector<float> left, right;  // per input channel
};

// `map` holds libsndfile channel map values, or is empty.
StereoWeights StereoDownmixWeights(int channels, const std::vector<int>& map);

// `frames` interleaved frames of `weights.left.size()` channels into stereo frames.
void MixToStereo(const StereoWeights& weights, const float* in, long frames, float* out);

}  // namespace veloraplay

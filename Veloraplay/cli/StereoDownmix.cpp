#include "StereoDownmix.h"

#include <sndfile.h>

namespace veloraplay {
namespace {

constexpr float kMinus3Db = 0.70710678f;

// The WAVE default speaker order for 3..8 channels (the masks a file without one implies).
std::vector<int> DefaultMap(int channels) {
    const int FL = SF_CHANNEL_MAP_FRONT_LEFT, FR = SF_CHANNEL_MAP_FRONT_RIGHT, FC = SF_CHANNEL_MAP_FRONT_CENTER,
              LFE = SF_CHANNEL_MAP_LFE, BL = SF_CHANNEL_MAP_REAR_LEFT, BR = SF_CHANNEL_MAP_REAR_RIGHT,
              BC = SF_CHANNEL_MAP_REAR_CENTER, SL = SF_CHANNEL_MAP_SIDE_LEFT, SR = SF_CHANNEL_MAP_SIDE_RIGHT;
    switch (channels) {
        case 3: return {FL, FR, FC};
        case 4: return {FL, FR, BL, BR};
        case 5: return {FL, FR, FC, BL, BR};
        case 6: return {FL, FR, FC, LFE, BL, BR};
        case 7: return {FL, FR, FC, LFE, BC, SL, SR};
        case 8: return {FL, FR, FC, LFE, BL, BR, SL, SR};
        default: return std::vector<int>(static_cast<size_t>(channels), SF_CHANNEL_MAP_INVALID);
    }
}

}  // namespace

StereoWeights StereoDownmixWeights(int channels, const std::vector<int>& map) {
    const std::vector<int> places = static_cast<int>(map.size()) == channels ? map : DefaultMap(channels);
    StereoWeights w;
    for (const int place : places) {
        float l = kMinus3Db;
        float r = kMinus3Db;
        switch (place) {
            case SF_CHANNEL_MAP_LEFT:
            case SF_CHANNEL_MAP_FRONT_LEFT: l = 1.0f, r = 0.0f; break;
            case SF_CHANNEL_MAP_RIGHT:
            case SF_CHANNEL_MAP_FRONT_RIGHT: l = 0.0f, r = 1.0f; break;
            case SF_CHANNEL_MAP_REAR_LEFT:
            case SF_CHANNEL_MAP_SIDE_LEFT:
            case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
            case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
            case SF_CHANNEL_MAP_TOP_REAR_LEFT: r = 0.0f; break;
            case SF_CHANNEL_MAP_REAR_RIGHT:
            case SF_CHANNEL_MAP_SIDE_RIGHT:
            case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
            case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
            case SF_CHANNEL_MAP_TOP_REAR_RIGHT: l = 0.0f; break;
            case SF_CHANNEL_MAP_LFE: l = r = 0.0f; break;
            default: break;  // centres and unknown places go to both sides
        }
        w.left.push_back(l);
        w.right.push_back(r);
    }
    for (std::vector<float>* side : {&w.left, &w.right}) {
        float sum = 0.0f;
        for (const float v : *side) sum += v;
        if (sum > 0.0f)
            for (float& v : *side) v /= sum;
    }
    return w;
}

void MixToStereo(const StereoWeights& weights, const float* in, long frames, float* out) {
    const size_t channels = weights.left.size();
    for (long f = 0; f < frames; ++f, in += channels, out += 2) {
        float l = 0.0f;
        float r = 0.0f;
        for (size_t c = 0; c < channels; ++c) {
            l += weights.left[c] * in[c];
            r += weights.right[c] * in[c];
        }
        out[0] = l;
        out[1] = r;
    }
}

}  // namespace veloraplay

#include "RateControl.h"

#include <algorithm>
#include <cmath>


namespace velora::enc {

void PaddingClock::Init(int bitrate, int samplesPerFrame, int sampleRate) {
    numerator_ = int64_t{bitrate} * samplesPerFrame;
    denominator_ = int64_t{8} * sampleRate;
    remainder_ = 0;
}

bool PaddingClock::Next() {
    // Whole bytes per frame are numerator / denominator; the fractions add up to padding.
    remainder_ += numerator_ % denominator_;
    if (remainder_ >= denominator_) {
        remainder_ -= denominator_;
        return true;
    }
    return false;
}

namespace {

// Reservoir planning: how fast the mean entropy follows (per granule), the most an easy
// granule gives up (share of the mean at zero entropy), the share of the reservoir a long
// granule of twice the mean entropy or more draws, what a short block draws, and the fill
// beyond which the reservoir is spent.
constexpr float kEntropyFollow = 1.0f / 16.0f;
constexpr float kSave = 0.1f;
constexpr float kSpend = 0.3f;
constexpr float kShortShare = 0.6f;
constexpr float kFullShare = 0.9f;

constexpr float kDbToLog2 = 0.33219281f;  // log2(10) / 10

// Per band of every channel: its lines, log2 of energy over threshold, and its weight.
struct EntropyTerms {
    int count = 0;
    float lines[2 * kMaxQuantiserBands];
    float log2Ratio[2 * kMaxQuantiserBands];
    float weight[2 * kMaxQuantiserBands];

    // Entropy with the thresholds raised by `raiseDb` x weight: in the log domain a raise
    // only subtracts, so no powers are needed inside the search.
    float At(float raiseDb) const {
        float pe = 0.0f;
        for (int i = 0; i < count; ++i) {
            const float r = log2Ratio[i] - raiseDb * weight[i] * kDbToLog2;
            if (r > 0.0f) pe += lines[i] * 0.5f * r;
        }
        return pe;
    }
};

float Weight(float tonality) {
    return 0.2f + 0.8f * (1.0f - tonality);
}

}  // namespace

float RaiseToAllowance(QuantiserInput* in, int channels, float allowance) {
    EntropyTerms terms;
    for (int ch = 0; ch < channels; ++ch) {
        const QuantiserInput& q = in[ch];
        for (int b = 0; b < q.usedBands; ++b) {
            if (!(q.energy[b] > q.threshold[b] && q.threshold[b] > 0.0f)) continue;
            terms.lines[terms.count] = static_cast<float>(q.bounds[b + 1] - q.bounds[b]);
            terms.log2Ratio[terms.count] = std::log2(q.energy[b] / q.threshold[b]);
            terms.weight[terms.count] = Weight(q.tonality[b]);
            ++terms.count;
        }
    }
    if (terms.At(0.0f) <= allowance) return 0.0f;
    float lo = 0.0f;
    float hi = 10.0f;
    while (terms.At(hi) > allowance && hi < 160.0f) hi *= 2.0f;
    for (int i = 0; i < 14; ++i) {
        const float mid = 0.5f * (lo + hi);
        if (terms.At(mid) > allowance)
            lo = mid;
        else
            hi = mid;
    }
    for (int ch = 0; ch < channels; ++ch) {
        QuantiserInput& q = in[ch];
        for (int b = 0; b < q.usedBands; ++b) q.threshold[b] *= std::exp2(hi * Weight(q.tonality[b]) * kDbToLog2);
        q.perceptualEntropy = PerceptualEntropy(q);
    }
    return hi;
}

float RaiseToAllowance(QuantiserInput& in, float allowance) {
    return RaiseToAllowance(&in, 1, allowance);
}

void ShareBits(const float* entropy, int channels, float* fractions) {
    if (channels == 1) {
        fractions[0] = 1.0f;
        return;
    }
    float sum = 0.0f;
    for (int ch = 0; ch < channels; ++ch) sum += entropy[ch];
    for (int ch = 0; ch < channels; ++ch) {
        fractions[ch] = sum > 0.0f ? 0.15f + (1.0f - 0.15f * static_cast<float>(channels)) * entropy[ch] / sum
                                   : 0.15f;
    }
}

float CbrAllowance::Allowance(float meanBits, float reservoirBits, bool shortBlocks) const {
    // 0.9 of the mean with an empty reservoir, rising with its fill up to 1.5 times the mean
    // (2 times for short blocks, which need the reservoir most).
    const float limit = shortBlocks ? 2.0f : 1.5f;
    if (meanBits <= 0.0f) return 0.0f;
    return k_ * 1.18f * meanBits * std::min(limit, 0.95f * reservoirBits / meanBits + 0.9f);
}

void CbrAllowance::Update(int targetBits, int usedBits) {
    // Granules that need fewer bits than they were given let the next ones plan for more,
    // and the other way round, within a factor of two.
    if (targetBits <= 0) return;
    const float ratio = static_cast<float>(usedBits) / static_cast<float>(targetBits);
    if (ratio < 0.9f) k_ *= 1.02f;
    else if (ratio > 1.0f) k_ *= 0.98f;
    k_ = std::clamp(k_, 0.5f, 2.0f);
}

float ReservoirPlanner::Target(float meanBits, float reservoirBits, float maxReservoirBits, float entropy,
                               bool shortBlocks) {
    if (meanBits <= 0.0f) return 0.0f;
    entropy = std::max(entropy, 0.0f);
    const float demand = meanEntropy_ > 0.0f ? entropy / meanEntropy_ : 1.0f;
    // The mean follows long blocks only: a run of attacks does not make the next one look easy.
    if (!shortBlocks) meanEntropy_ = meanEntropy_ > 0.0f ? meanEntropy_ + kEntropyFollow * (entropy - meanEntropy_) : entropy;

    const float reservoir = std::clamp(reservoirBits, 0.0f, std::max(0.0f, maxReservoirBits));
    const float room = std::max(0.0f, maxReservoirBits - reservoir);
    float target = meanBits;
    if (shortBlocks) {
        target += kShortShare * reservoir;
    } else if (demand < 1.0f) {
        // Saving beyond the room would only turn into stuffing.
        target -= std::min(room, kSave * meanBits * (1.0f - demand));
    } else {
        target += kSpend * std::min(1.0f, demand - 1.0f) * reservoir;
    }
    // A nearly full reservoir gives back what would overflow it.
    target += std::max(0.0f, reservoir - kFullShare * maxReservoirBits);
    return target;
}

}  // namespace velora::enc

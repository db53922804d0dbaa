#include "AttackDetector.h"

namespace velora::enc {
namespace {

// a exceeds b by more than the factor 1 / kRatio.
bool Dominates(float a, float b) { return AttackDetector::kRatio * a > b; }

bool Loud(float e) { return e > AttackDetector::kMinimumEnergy; }
// A segment that rises out of near silence: heard as an onset at far lower levels.
constexpr float kSilentEnergy = 1.0e4f;
constexpr float kOnsetEnergy = 1.0e6f;
bool Onset(float e, float before1, float before2) {
    return e > kOnsetEnergy && before1 < kSilentEnergy && before2 < kSilentEnergy;
}

}  // namespace

void AttackDetector::Reset() { *this = AttackDetector(); }

bool AttackDetector::FindAttack() const {
    const float e0 = energy_[0];
    const float e1 = energy_[1];
    const float e2 = energy_[2];
    const float p1 = previousEnergy_[1];
    const float p2 = previousEnergy_[2];
    return (Loud(e2) && Dominates(e2, e1) && Dominates(e2, e0)) ||
           (Loud(e1) && Dominates(e1, e0) && Dominates(e1, p2)) ||
           (Loud(e0) && Dominates(e0, p2) && Dominates(e0, p1)) || Onset(e2, e1, e0) || Onset(e1, e0, p2) ||
           Onset(e0, p2, p1);
}

// An attack at the very end of the previous granule may only show as a drop in energy
// after it, or as a first segment far above the rest of this granule.
bool AttackDetector::FindLateAttack() const {
    const float e0 = energy_[0];
    const float p2 = previousEnergy_[2];
    return (Loud(e0) && Dominates(e0, energy_[1])) || (Loud(p2) && Dominates(p2, e0));
}

int32_t AttackDetector::Process(const float samples[kGranuleLines]) {
    for (int s = 0; s < kSegments; ++s) previousEnergy_[s] = energy_[s];

    float x1 = previousInput_;
    float y1 = previousOutput_;
    for (int s = 0; s < kSegments; ++s) {
        const float* x = samples + s * kSegmentLength;
        float sum = 0.0f;
        for (int n = 0; n < kSegmentLength; ++n) {
            const float y = 0.5095f * y1 + 0.7548f * (x[n] - x1);
            sum += y * y;
            x1 = x[n];
            y1 = y;
        }
        energy_[s] = sum;
    }
    previousInput_ = x1;
    previousOutput_ = y1;

    attack_ = FindAttack();
    if (!attack_ && previousAttack_) {
        attack_ = FindLateAttack();
        previousAttack_ = false;
    } else {
        previousAttack_ = attack_;
    }

    if (attack_) {
        blockType_ = state_ == kBlockLong ? kBlockStart : kBlockShort;
        state_ = kBlockShort;
    } else {
        blockType_ = state_;
        state_ = blockType_ == kBlockShort ? kBlockStop : kBlockLong;
    }
    return blockType_;
}

int32_t SynchroniseBlockTypes(int32_t type0, int32_t type1) {
    // Row: the first channel's type, column: the second's. A start meeting a stop becomes
    // short, since each channel's neighbours are short then.
    static constexpr int32_t kCommon[4][4] = {
        {kBlockLong, kBlockStart, kBlockShort, kBlockStop},
        {kBlockStart, kBlockStart, kBlockShort, kBlockShort},
        {kBlockShort, kBlockShort, kBlockShort, kBlockShort},
        {kBlockStop, kBlockShort, kBlockShort, kBlockStop},
    };
    // Out-of-range types count as long, as the MDCT codes them.
    const auto index = [](int32_t t) { return (t >= kBlockLong && t <= kBlockStop) ? t : kBlockLong; };
    return kCommon[index(type0)][index(type1)];
}

}  // namespace velora::enc

// Chooses the block type of each granule of one channel from the energy of its high-passed
// samples in three segments of 192, and keeps the window sequence legal: short blocks are
// entered through a start block and left through a stop block, so the first short block
// follows the granule in which the attack was found.
#pragma once

#include <cstdint>

#include "Layer3Granule.h"

namespace velora::enc {

class AttackDetector {
public:
    static constexpr int kSegments = 3;
    static constexpr int kSegmentLength = kGranuleLines / kSegments;
    // Below this high-passed segment energy (on the +-32768 sample scale) nothing counts
    // as an attack.
    static constexpr float kMinimumEnergy = 47110000.0f;
    // A segment is an attack when the ones it is compared with stay below this share of
    // its energy.
    static constexpr float kRatio = 0.25f;

    void Reset();
    // Takes the granule's 576 new samples and returns its block type (BlockType).
    int32_t Process(const float samples[kGranuleLines]);

    // Results of the last Process call.
    bool Attack() const { return attack_; }
    const float* SegmentEnergies() const { return energy_; }

private:
    bool FindAttack() const;
    bool FindLateAttack() const;  // the second look when the previous granule had one

    float previousInput_ = 0.0f;
    float previousOutput_ = 0.0f;
    float energy_[kSegments] = {};
    float previousEnergy_[kSegments] = {};
    bool attack_ = false;
    bool previousAttack_ = false;
    int32_t state_ = kBlockLong;  // kBlockLong, kBlockShort (pending) or kBlockStop (pending)
    int32_t blockType_ = kBlockLong;
};

// The common block type of two coded channels.
int32_t SynchroniseBlockTypes(int32_t type0, int32_t type1);

}  // namespace velora::enc

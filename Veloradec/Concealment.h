// Concealment of damaged or missing granules: a ring of the last four intact long-block
// granules per channel gives a mean spectrum and band energies; a concealed granule is
// noise shaped to them.
#pragma once

#include <cstdint>

#include "Layer3Tables.h"
#include "SideInfo.h"

namespace velora {

// Knuth's subtractive generator: 55-entry lagged Fibonacci, modulus 10^9.
class SubtractiveRandom {
public:
    void Seed(int32_t seed);
    int32_t Next();  // 0 .. 10^9 - 1

private:
    int32_t state_[56] = {};
    int next_ = 0;
    int nextP_ = 0;
};

class Concealment {
public:
    void Reset();
    // An intact granule: stored unless it uses short blocks.
    void Store(int channel, const float spectrum[576], const GranuleInfo& info);
    // Replaces a granule by noise shaped like the stored ones; silence when nothing was
    // stored yet.
    void Conceal(int channel, const ScaleFactorBands& bands, float spectrum[576],
                 GranuleInfo& info);

private:
    struct Channel {
        float ring[4][576];
        GranuleInfo info[4];
        int index;
        int stored;
        float mean[576];
        float bandEnergy[22];
        bool meanValid;
    };
    void UpdateMean(Channel& c, const ScaleFactorBands& bands);
    float NextSign();

    Channel channels_[2];
    uint32_t signRegister_ = 0;
    SubtractiveRandom random_;
    bool randomSeeded_ = false;
};

}  // namespace velora

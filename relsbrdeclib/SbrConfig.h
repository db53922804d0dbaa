// Default parameters of the SBR decoder, copied into each decoder at creation. The record
// keeps its 29 fields in their fixed order; the fields this decoder uses carry names, the
// others keep their default values for callers that store or compare the record.
#pragma once

#include <cstdint>

namespace velora::sbr {

struct SbrConfig {
    int32_t field1 = 2;
    int32_t field2 = 2;
    int32_t field3 = 0;
    int32_t field4 = 0;
    int32_t field5 = 1;
    int32_t field6 = 2;
    float field7 = 6.0f;
    float field8 = 0.25f;
    float field9 = 2.0e9f;
    int32_t field10 = 4;
    int32_t smoothingFilter = 4;       // index 0..4 of the adjuster's smoothing filters
    int32_t lowestSourceBand = 1;      // b0 of the patch construction
    int32_t patchGuard = 0;            // g of the patch construction
    int32_t field14 = 2;
    float field15 = 1.0f;
    float field16 = 1.0f;
    int32_t field17 = 4;
    float limiterGainOverride = 1000.0f;  // 1000.0: use the header's limiter_gains
    int32_t field19 = 3;
    int32_t field20 = 2;
    int32_t field21 = 1;
    int32_t crcRequired = 0;
    float lowBandGain = 1.0f;          // synthesis scaling of the bands below kx
    float highBandGain = 1.0f;         // synthesis scaling of the regenerated bands
    float tiltDb = 0.0f;               // spectral tilt of the frequency tables
    int32_t crossfadeSteps = 40;       // crossfadeSteps x crossfadeStep is the cross-fade
    float crossfadeStep = 0.05f;       // parameter, which must be 2
    float chirpOverride = 0.0f;        // above 0: replaces the chirp table
    int32_t maxBorder = 16;            // last envelope border allowed, in time slots
};
static_assert(sizeof(SbrConfig) == 29 * 4, "the record has 29 32-bit fields");

// The defaults with the overrides for an mp3 core of `coreSamples` per frame (576 or 1152).
inline SbrConfig DefaultSbrConfig(int coreSamples) {
    SbrConfig c;
    if (coreSamples == 576 || coreSamples == 1152) {
        c.crcRequired = 1;
        c.maxBorder = 12;
        c.smoothingFilter = 2;
    }
    return c;
}

}  // namespace velora::sbr

// Scale factors of one granule and channel.
#pragma once

#include <cstdint>

#include "BitBuffer.h"
#include "SideInfo.h"

namespace velora {

struct ScaleFactors {
    int32_t longBands[23] = {};
    int32_t shortBands[13][3] = {};  // [band][window]
    // The intensity-stereo position that means "not intensity coded", per band.
    int32_t illegalLong[23] = {};
    int32_t illegalShort[13] = {};
};

// MPEG-1. `granule` 1 keeps granule 0's values in the groups whose scfsi bit is set, so
// `factors` must still hold granule 0's values then.
void ReadScaleFactorsMpeg1(BitBuffer& buffer, const GranuleInfo& info, const int32_t scfsi[4],
                           int granule, ScaleFactors& factors);

// MPEG-2 and 2.5. `intensityChannel` selects the intensity-stereo variant (second channel
// of a joint-stereo frame with intensity stereo on); it also sets info.intensityScale and
// info.preflag as the partition choice implies.
void ReadScaleFactorsMpeg2(BitBuffer& buffer, GranuleInfo& info, bool intensityChannel,
                           ScaleFactors& factors);

}  // namespace velora

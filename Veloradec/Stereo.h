// Joint-stereo processing (MS and intensity stereo) and the spectral mono downmix of one
// granule.
#pragma once

#include "Layer3Tables.h"
#include "ScaleFactors.h"
#include "SideInfo.h"

namespace velora {

struct StereoFrame {
    int mode;           // header mode
    int modeExtension;  // bit 1: MS, bit 0: intensity
    int version;        // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
};

// Turns the two coded channels into left and right. With `monoOutput` the result is
// their mean in channel 0. Non-zero line counts are updated to cover the new values.
void ProcessStereo(const StereoFrame& frame, const ScaleFactorBands& bands,
                   const ScaleFactors& right, GranuleInfo info[2], float spectrum[2][576],
                   bool monoOutput);

}  // namespace velora

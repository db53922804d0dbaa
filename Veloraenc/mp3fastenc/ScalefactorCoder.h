// Scale-factor coding of one granule and channel (the first share of its main data): the
// scalefac_compress that carries the values in the fewest bits, their bit count and the
// writing. MPEG-1 codes the bands in two groups of widths slen1 and slen2 (scale-factor
// sharing between granules is never used); MPEG-2 and 2.5 in up to four partitions whose
// sizes and widths the partition table and scalefac_compress give, with separate tables for
// the right channel of an intensity-coded granule.
#pragma once

#include <cstdint>

#include "BitWriter.h"
#include "Layer3Granule.h"

namespace velora::enc {

struct ScalefactorCoding {
    int32_t scalefacCompress = 0;  // 4 bits MPEG-1, 9 bits MPEG-2/2.5
    int32_t scalefactorBits = 0;
    int32_t table = 0;     // MPEG-2/2.5 partition table 0..5
    int32_t slen[4] = {};  // bits per value of each group / partition
};

// The values of `g` that are coded (long blocks: bands 0..20; short: 12 bands x 3 windows).
// False when no scalefac_compress can carry them, or a flag contradicts the only choices
// left (MPEG-2: preflag on the intensity channel); the quantiser then raises
// scalefac_scale or moves gain from the scale factors to the global gain.
bool ChooseScalefactorsMpeg1(const QuantisedGranule& g, ScalefactorCoding& coding);
// `intensityChannel`: the right channel of a joint-stereo frame with intensity stereo on.
// Its intensity_scale bit is g.intensityScale; other granules take preflag from the choice
// of partition table (preflag 1 needs table 2).
bool ChooseScalefactorsMpeg2(const QuantisedGranule& g, bool intensityChannel,
                             ScalefactorCoding& coding);
bool ChooseScalefactors(const QuantisedGranule& g, int version, bool intensityChannel,
                        ScalefactorCoding& coding);

// Scale-factor bits of `g`, or -1 when the values cannot be coded.
int ScalefactorBits(const QuantisedGranule& g, int version, bool intensityChannel);

// Writes the scale factors with a coding chosen for them.
void WriteScalefactors(const QuantisedGranule& g, int version, const ScalefactorCoding& coding,
                       BitWriter& out);

}  // namespace velora::enc

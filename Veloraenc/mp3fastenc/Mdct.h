// The MDCT stage of the Layer III hybrid filter bank: per subband an 18-line MDCT over 36
// subband samples (normal, start and stop windows) or three 6-line MDCTs over 12 samples
// each (short windows), and the alias-reduction butterflies between subbands for the
// non-short blocks. Scaled so that the decoder's unnormalised IMDCT returns the subband
// samples at unity gain after overlap-add.
#pragma once

#include <cstdint>

#include "Layer3Granule.h"

namespace velora::enc {

// One subband, long windows: `in` is the previous granule's 18 samples followed by the
// current granule's 18; `blockType` 0 (normal), 1 (start) or 3 (stop).
//   out[k] = 2/18 sum_n w[n] in[n] cos(pi (2n + 19)(2k + 1) / 72)
void LongMdct(const float in[36], int32_t blockType, float out[18]);

// One subband, short windows: window w covers in[6 + 6w .. 17 + 6w];
//   out[3k + w] = 2/6 sum_n w[n] in[6 + 6w + n] cos(pi (2n + 7)(2k + 1) / 24)
void ShortMdct(const float in[36], float out[18]);

// The butterflies between neighbouring subbands of a long-window spectrum, the inverse of
// the decoder's aliasing reduction.
void AddAliasReduction(float lines[kGranuleLines]);

// The spectrum of one granule from the subband samples of the previous and the current
// granule ([subband][slot], frequency inversion already applied). A block type outside
// 0..3 is coded as long.
void TransformGranule(int32_t blockType, const float previous[kSubbands][kSubbandSamples],
                      const float current[kSubbands][kSubbandSamples], GranuleSpectrum& out);

}  // namespace velora::enc

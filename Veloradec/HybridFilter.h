// From requantised lines to subband samples: short-block reordering, aliasing reduction,
// IMDCT with window switching and overlap-add, and frequency inversion.
#pragma once

#include "Layer3Tables.h"
#include "SideInfo.h"
#include "Synthesis.h"

namespace velora {

// Reorders short-block lines (from short band 3 for mixed blocks) into subband order.
void ReorderShortBlocks(const GranuleInfo& info, const ScaleFactorBands& bands,
                        float spectrum[576]);

// Aliasing-reduction butterflies between neighbouring subbands. `mixedLongSubbands` is
// the number of long subbands of a mixed block (2, or 4 for MPEG-2.5 at 8000 Hz).
void ReduceAliasing(const GranuleInfo& info, int mixedLongSubbands, int maxSubbands,
                    float spectrum[576]);

// Subbands that may hold non-zero lines (before aliasing reduction spreads them by one).
int ActiveSubbands(const GranuleInfo& info, const ScaleFactorBands& bands);

// IMDCT and overlap-add of the first `subbands` subbands; the others output their overlap
// and clear it. Writes 18 slots x 32 subbands into `hybrid` (slot-major) with frequency
// inversion applied. `mixedLongSubbands` subbands of a mixed block use the normal window.
void InverseMdct(const GranuleInfo& info, int mixedLongSubbands, int subbands,
                 const float spectrum[576], float overlap[32][18], float hybrid[18][32]);
// The same into the filter bank's layout, `hybrid[sb][t]`; lanes 18 and 19 stay untouched.
void InverseMdct(const GranuleInfo& info, int mixedLongSubbands, int subbands,
                 const float spectrum[576], float overlap[32][18],
                 float hybrid[32][kSlotLanes]);

}  // namespace velora

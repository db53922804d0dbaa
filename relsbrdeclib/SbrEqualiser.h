// The 8-band equaliser of the decoder object, applied in the QMF domain.
#pragma once

namespace velora::sbr {

struct QmfMatrix;

// Multiplies the low-band rows the synthesis reads this frame (2..19) band by band by the
// gain of the band's group: group j covers the bands from edges[j - 1] (0 for j = 0) up to
// edges[j], the last group up to band 63. Nothing happens when `count` is 0.
void ApplyEqualiser(int count, const int* edges, const float* gains, QmfMatrix& low);

}  // namespace velora::sbr

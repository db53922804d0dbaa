// Moving blocks between the QMF matrices (one row per sub-sample) and the banks' lanes
// (one row per band or sample): 4 x 4 tiles in SSE registers where the processor has
// them, single values at the edges.
#pragma once

#include <cstddef>


namespace velora::sbr {

// dst[c * dstStride + r] = src[r * srcStride + c] for r < rows, c < cols.
void Transpose(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
               std::ptrdiff_t rows, std::ptrdiff_t cols);

}  // namespace velora::sbr

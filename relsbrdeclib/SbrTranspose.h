// Moving blocks between the QMF matrices (one row per sub-sample) and the banks' lanes
// (one row per band or sample): 4 x 4 tiles in SSE registers where the processor has
// them, single values at the edges. And short runs of floats copied or cleared in
// fixed-size pieces: GCC turns a memcpy or memset of a bounded but unknown size into a
// string instruction whose start-up costs more than such a run.
#pragma once

#include <cstddef>
#include <cstring>


namespace velora::sbr {

// dst[c * dstStride + r] = src[r * srcStride + c] x scale for r < rows, c < cols. Each
// source row may be read up to column `readable` (at least cols), which lets the last
// columns go by tiles too.
void Transpose(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
               std::ptrdiff_t rows, std::ptrdiff_t cols, float scale = 1.0f, std::ptrdiff_t readable = 0);

inline void CopyFloats(float* dst, const float* src, int count) {
    int n = 0;
    for (; n + 8 <= count; n += 8) std::memcpy(dst + n, src + n, 8 * sizeof(float));
    for (; n + 4 <= count; n += 4) std::memcpy(dst + n, src + n, 4 * sizeof(float));
    for (; n < count; ++n) dst[n] = src[n];
}

inline void ClearFloats(float* dst, int count) {
    constexpr float kZero[8] = {};
    int n = 0;
    for (; n + 8 <= count; n += 8) std::memcpy(dst + n, kZero, sizeof(kZero));
    for (; n < count; ++n) dst[n] = 0.0f;
}

}  // namespace velora::sbr

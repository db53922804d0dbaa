#include "SbrTranspose.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace velora::sbr {

void Transpose(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
               std::ptrdiff_t rows, std::ptrdiff_t cols, float scale, std::ptrdiff_t readable) {
    std::ptrdiff_t r = 0;
#if defined(__SSE2__)
    const __m128 gain = _mm_set1_ps(scale);
    for (; r + 4 <= rows; r += 4) {
        const float* s = src + r * srcStride;
        std::ptrdiff_t c = 0;
        for (; c + 4 <= cols; c += 4) {
            __m128 a = _mm_mul_ps(_mm_loadu_ps(s + c), gain);
            __m128 b = _mm_mul_ps(_mm_loadu_ps(s + srcStride + c), gain);
            __m128 e = _mm_mul_ps(_mm_loadu_ps(s + 2 * srcStride + c), gain);
            __m128 f = _mm_mul_ps(_mm_loadu_ps(s + 3 * srcStride + c), gain);
            _MM_TRANSPOSE4_PS(a, b, e, f);
            float* d = dst + c * dstStride + r;
            _mm_storeu_ps(d, a);
            _mm_storeu_ps(d + dstStride, b);
            _mm_storeu_ps(d + 2 * dstStride, e);
            _mm_storeu_ps(d + 3 * dstStride, f);
        }
        if (c < cols && c + 4 <= readable) {
            // A whole tile read, only the columns asked for written.
            __m128 t[4] = {_mm_mul_ps(_mm_loadu_ps(s + c), gain),
                           _mm_mul_ps(_mm_loadu_ps(s + srcStride + c), gain),
                           _mm_mul_ps(_mm_loadu_ps(s + 2 * srcStride + c), gain),
                           _mm_mul_ps(_mm_loadu_ps(s + 3 * srcStride + c), gain)};
            _MM_TRANSPOSE4_PS(t[0], t[1], t[2], t[3]);
            for (std::ptrdiff_t i = 0; c + i < cols; ++i) _mm_storeu_ps(dst + (c + i) * dstStride + r, t[i]);
            c = cols;
        }
        for (; c < cols; ++c) {
            for (std::ptrdiff_t i = 0; i < 4; ++i) dst[c * dstStride + r + i] = s[i * srcStride + c] * scale;
        }
    }
#endif
    for (; r < rows; ++r) {
        for (std::ptrdiff_t c = 0; c < cols; ++c) dst[c * dstStride + r] = src[r * srcStride + c] * scale;
    }
}

}  // namespace velora::sbr

#include "HybridFilter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Multiversion.h"

namespace velora {
namespace {

struct ImdctTables {
    // [k][m] = cos(pi (2m + 1)(2k + 1) / 72): the 18-point DCT-IV behind the 36-point IMDCT.
    // Rows are padded to 20 so the accumulation runs in whole vectors.
    float dct4[18][20];
    float window[4][36];
    // [k][i]: window x cosine of the 12-point IMDCT, k = 0..5, i = 0..11.
    float shortKernel[6][12];
    float aliasCs[8];
    float aliasCa[8];
    // Frequency inversion: odd slots of odd subbands change sign.
    float inversion[2][18];
};

double Window(int blockType, int i) {
    const double longWindow = std::sin(M_PI / 36.0 * (i + 0.5));
    switch (blockType) {
        case 1:  // start
            if (i < 18) return longWindow;
            if (i < 24) return 1.0;
            if (i < 30) return std::sin(M_PI / 12.0 * (i - 18 + 0.5));
            return 0.0;
        case 3:  // stop
            if (i < 6) return 0.0;
            if (i < 12) return std::sin(M_PI / 12.0 * (i - 6 + 0.5));
            if (i < 18) return 1.0;
            return longWindow;
        default:
            return longWindow;
    }
}

ImdctTables MakeTables() {
    ImdctTables t{};
    for (int k = 0; k < 18; ++k) {
        for (int m = 0; m < 18; ++m) {
            t.dct4[k][m] = static_cast<float>(std::cos(M_PI / 72.0 * (2 * m + 1) * (2 * k + 1)));
        }
    }
    for (int type = 0; type < 4; ++type) {
        for (int i = 0; i < 36; ++i) t.window[type][i] = static_cast<float>(Window(type, i));
    }
    for (int k = 0; k < 6; ++k) {
        for (int i = 0; i < 12; ++i) {
            const double c = std::cos(M_PI / 24.0 * (2 * i + 1 + 6) * (2 * k + 1));
            t.shortKernel[k][i] = static_cast<float>(std::sin(M_PI / 12.0 * (i + 0.5)) * c);
        }
    }
    for (int i = 0; i < 8; ++i) {
        const double c = kAliasCoefficients[i];
        const double norm = std::sqrt(1.0 + c * c);
        t.aliasCs[i] = static_cast<float>(1.0 / norm);
        t.aliasCa[i] = static_cast<float>(c / norm);
    }
    for (int i = 0; i < 18; ++i) {
        t.inversion[0][i] = 1.0f;
        t.inversion[1][i] = (i & 1) ? -1.0f : 1.0f;
    }
    return t;
}

const ImdctTables kTables = MakeTables();

// y[n] = sum_k x[k] cos(pi (2n + 19)(2k + 1) / 72) is the DCT-IV Z at m = n + 9, and Z
// continues antisymmetrically (Z[35 - m] = -Z[m], Z[m + 36] = -Z[m]), so 18 sums suffice.
// Runs the subbands [from, to) that share one long window, with the overlap-add and the
// frequency inversion of the odd subbands. Every line takes part, zero or not: skipping the
// zeros costs more in mispredicted branches than it saves.
VELORA_MULTIVERSION void LongBlocks(const float* spectrum, int from, int to, int blockType,
                                    float overlap[32][18], float hybrid[32][kSlotLanes]) {
    const float* w = kTables.window[blockType];
    for (int sb = from; sb < to; ++sb) {
        const float* x = spectrum + 18 * sb;
        // Even and odd lines summed apart: two independent chains of multiply-adds.
        float even[20] = {};
        float odd[20] = {};
#pragma GCC unroll 9
        for (int k = 0; k < 18; k += 2) {
            const float a = x[k];
            const float b = x[k + 1];
            const float* ka = kTables.dct4[k];
            const float* kb = kTables.dct4[k + 1];
            for (int m = 0; m < 20; ++m) {
                even[m] += a * ka[m];
                odd[m] += b * kb[m];
            }
        }
        float z[20];
        for (int m = 0; m < 20; ++m) z[m] = even[m] + odd[m];
        float* ov = overlap[sb];
        float* h = hybrid[sb];
        const float* sign = kTables.inversion[sb & 1];
        for (int t = 0; t < 9; ++t) h[t] = (z[t + 9] * w[t] + ov[t]) * sign[t];
        for (int t = 9; t < 18; ++t) h[t] = (-z[26 - t] * w[t] + ov[t]) * sign[t];
        for (int t = 0; t < 9; ++t) ov[t] = -z[8 - t] * w[t + 18];
        for (int t = 9; t < 18; ++t) ov[t] = -z[t - 9] * w[t + 18];
    }
}

// The three 12-point IMDCTs of each short subband in [from, to), windowed and placed at
// 6, 12 and 18 of the 36 outputs, with the overlap-add and frequency inversion.
VELORA_MULTIVERSION void ShortBlocks(const float* spectrum, int from, int to,
                                     float overlap[32][18], float hybrid[32][kSlotLanes]) {
    for (int sb = from; sb < to; ++sb) {
        const float* x = spectrum + 18 * sb;
        float out[36] = {};
        for (int w = 0; w < 3; ++w) {
            float y[12] = {};
            for (int k = 0; k < 6; ++k) {
                const float v = x[3 * k + w];
                const float* kernel = kTables.shortKernel[k];
                for (int i = 0; i < 12; ++i) y[i] += v * kernel[i];
            }
            float* dst = out + 6 + 6 * w;
            for (int i = 0; i < 12; ++i) dst[i] += y[i];
        }
        float* ov = overlap[sb];
        float* h = hybrid[sb];
        const float* sign = kTables.inversion[sb & 1];
        for (int t = 0; t < 18; ++t) {
            h[t] = (out[t] + ov[t]) * sign[t];
            ov[t] = out[t + 18];
        }
    }
}

// The aliasing butterflies of the subband boundaries 1..boundaries: the 8 lines below a
// boundary, taken downwards, against the 8 above it.
VELORA_MULTIVERSION void Butterflies(int boundaries, float* spectrum) {
    const float* cs = kTables.aliasCs;
    const float* ca = kTables.aliasCa;
    for (int sb = 1; sb <= boundaries; ++sb) {
        float* lower = spectrum + 18 * sb - 1;
        float* upper = spectrum + 18 * sb;
#if defined(__SSE2__)
        for (int half = 0; half < 8; half += 4) {
            const __m128 c = _mm_loadu_ps(cs + half);
            const __m128 a = _mm_loadu_ps(ca + half);
            // lower[-half - 3 .. -half] upwards, turned to run downwards.
            const __m128 bu = _mm_shuffle_ps(_mm_loadu_ps(lower - half - 3),
                                             _mm_loadu_ps(lower - half - 3), _MM_SHUFFLE(0, 1, 2, 3));
            const __m128 bd = _mm_loadu_ps(upper + half);
            const __m128 low = _mm_sub_ps(_mm_mul_ps(bu, c), _mm_mul_ps(bd, a));
            const __m128 up = _mm_add_ps(_mm_mul_ps(bd, c), _mm_mul_ps(bu, a));
            _mm_storeu_ps(lower - half - 3, _mm_shuffle_ps(low, low, _MM_SHUFFLE(0, 1, 2, 3)));
            _mm_storeu_ps(upper + half, up);
        }
#else
        for (int i = 0; i < 8; ++i) {
            const float bu = lower[-i];
            const float bd = upper[i];
            lower[-i] = bu * cs[i] - bd * ca[i];
            upper[i] = bd * cs[i] + bu * ca[i];
        }
#endif
    }
}

}  // namespace

void ReorderShortBlocks(const GranuleInfo& info, const ScaleFactorBands& bands,
                        float spectrum[576]) {
    if (!info.ShortBlocks()) return;
    const int firstBand = info.MixedBlocks() ? 3 : 0;
    float reordered[576];
    const int begin = 3 * bands.shortBounds[static_cast<size_t>(firstBand)];
    for (int band = firstBand; band < 13; ++band) {
        const int start = bands.shortBounds[static_cast<size_t>(band)];
        const int width = bands.shortBounds[static_cast<size_t>(band) + 1] - start;
        const float* src = spectrum + 3 * start;
        for (int w = 0; w < 3; ++w) {
            for (int f = 0; f < width; ++f) reordered[3 * (start + f) + w] = src[w * width + f];
        }
    }
    std::memcpy(spectrum + begin, reordered + begin, sizeof(float) * static_cast<size_t>(576 - begin));
}

int ActiveSubbands(const GranuleInfo& info, const ScaleFactorBands& bands) {
    const int nonzero = info.nonzeroLines;
    if (!info.ShortBlocks() || nonzero <= 0) return (nonzero + 17) / 18;
    // Short lines are interleaved by window: find the band holding the last one.
    int band = 0;
    while (band < 12 && 3 * bands.shortBounds[static_cast<size_t>(band) + 1] < nonzero) ++band;
    const int lines = 3 * bands.shortBounds[static_cast<size_t>(band) + 1];
    return std::min(32, (std::max(lines, nonzero) + 17) / 18);
}

void ReduceAliasing(const GranuleInfo& info, int mixedLongSubbands, int maxSubbands,
                    float spectrum[576]) {
    int boundaries = 0;
    if (info.ShortBlocks()) {
        if (!info.MixedBlocks()) return;
        boundaries = mixedLongSubbands - 1;
    } else {
        boundaries = (info.nonzeroLines + 17) / 18;
    }
    boundaries = std::min(boundaries, maxSubbands - 1);
    Butterflies(boundaries, spectrum);
}

void InverseMdct(const GranuleInfo& info, int mixedLongSubbands, int subbands,
                 const float spectrum[576], float overlap[32][18],
                 float hybrid[32][kSlotLanes]) {
    const int blockType = info.window_switching_flag ? info.block_type : 0;
    // The lowest subbands of a granule with the mixed flag use the normal window, whatever
    // its block type.
    int normal = 0;
    if (info.window_switching_flag && info.mixed_block_flag) {
        normal = std::min(mixedLongSubbands, subbands);
        LongBlocks(spectrum, 0, normal, 0, overlap, hybrid);
    }
    if (blockType != 2) {
        LongBlocks(spectrum, normal, subbands, blockType, overlap, hybrid);
    } else {
        ShortBlocks(spectrum, normal, subbands, overlap, hybrid);
    }
    for (int sb = std::max(subbands, 0); sb < 32; ++sb) {
        float* ov = overlap[sb];
        float* h = hybrid[sb];
        const float* sign = kTables.inversion[sb & 1];
        for (int t = 0; t < 18; ++t) {
            h[t] = ov[t] * sign[t];
            ov[t] = 0.0f;
        }
    }
}

void InverseMdct(const GranuleInfo& info, int mixedLongSubbands, int subbands,
                 const float spectrum[576], float overlap[32][18], float hybrid[18][32]) {
    float bySubband[32][kSlotLanes];
    InverseMdct(info, mixedLongSubbands, subbands, spectrum, overlap, bySubband);
    for (int t = 0; t < 18; ++t) {
        for (int sb = 0; sb < 32; ++sb) hybrid[t][sb] = bySubband[sb][t];
    }
}

}  // namespace velora

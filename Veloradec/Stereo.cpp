#include "Stereo.h"

#include <algorithm>
#include <cmath>

namespace velora {
namespace {

constexpr float kInvSqrt2 = 0.7071067811865476f;

struct IntensityRatio {
    float left;
    float right;
};

// MPEG-1: tangent law over positions 0..6 (7 is the illegal position).
IntensityRatio Mpeg1Ratio(int position) {
    const double angle = position * M_PI / 12.0;
    const double s = std::sin(angle);
    const double c = std::cos(angle);
    return {static_cast<float>(s / (s + c)), static_cast<float>(c / (s + c))};
}

// MPEG-2/2.5: powers of 2^(-1/4) or 2^(-1/2) depending on the intensity scale.
IntensityRatio Mpeg2Ratio(int position, int intensityScale) {
    if (position == 0) return {1.0f, 1.0f};
    const double base = intensityScale ? std::sqrt(0.5) : std::pow(2.0, -0.25);
    if (position & 1) return {static_cast<float>(std::pow(base, (position + 1) / 2)), 1.0f};
    return {1.0f, static_cast<float>(std::pow(base, position / 2))};
}

void MidSide(float* left, float* right, int begin, int end) {
    for (int i = begin; i < end; ++i) {
        const float m = left[i];
        const float s = right[i];
        left[i] = (m + s) * kInvSqrt2;
        right[i] = (m - s) * kInvSqrt2;
    }
}

// One band of intensity stereo: the band is carried in the left channel; an illegal
// position leaves it to MS (when on) or plain stereo.
void IntensityBand(const StereoFrame& frame, int position, int illegal, int intensityScale,
                   bool ms, float* left, float* right, int begin, int end) {
    // MPEG-1 positions above 7 fit a 4-bit scale factor but mean nothing: the tangent law
    // would give them gains up to 6e15 (position 9). They count as illegal too.
    if (position == illegal || (frame.version == 0 && position > 7)) {
        if (ms) MidSide(left, right, begin, end);
        return;
    }
    const IntensityRatio k =
        frame.version == 0 ? Mpeg1Ratio(position) : Mpeg2Ratio(position, intensityScale);
    for (int i = begin; i < end; ++i) {
        const float v = left[i];
        left[i] = v * k.left;
        right[i] = v * k.right;
    }
}

// The last band carries no scale factor of its own: it continues the previous band's
// position when that band is intensity coded too; otherwise MPEG-1 treats it as not
// intensity coded and MPEG-2/2.5 as position 0.
struct Position {
    int value;
    int illegal;
};

Position LastBandPosition(const StereoFrame& frame, bool previousIsIntensity, int previous,
                          int previousIllegal) {
    if (previousIsIntensity) return {previous, previousIllegal};
    if (frame.version == 0) return {7, 7};
    return {0, -1};
}

void IntensityLong(const StereoFrame& frame, const ScaleFactorBands& bands,
                   const ScaleFactors& sf, int intensityScale, bool ms, int firstBand,
                   int endBand, float* left, float* right) {
    for (int band = firstBand; band < endBand; ++band) {
        Position p{sf.longBands[band], sf.illegalLong[band]};
        if (band == 21) {
            p = LastBandPosition(frame, firstBand <= 20, sf.longBands[20], sf.illegalLong[20]);
        }
        const int begin = bands.longBounds[static_cast<size_t>(band)];
        const int end = bands.longBounds[static_cast<size_t>(band) + 1];
        IntensityBand(frame, p.value, p.illegal, intensityScale, ms, left, right, begin, end);
    }
}

}  // namespace

void ProcessStereo(const StereoFrame& frame, const ScaleFactorBands& bands,
                   const ScaleFactors& right, GranuleInfo info[2], float spectrum[2][576],
                   bool monoOutput) {
    float* l = spectrum[0];
    float* r = spectrum[1];
    int covered = std::max(info[0].nonzeroLines, info[1].nonzeroLines);

    if (frame.mode == 1 && frame.modeExtension != 0) {
        const bool ms = (frame.modeExtension & 2) != 0;
        const bool intensity = (frame.modeExtension & 1) != 0;
        const GranuleInfo& ri = info[1];
        const int scale = ri.intensityScale;
        if (!intensity) {
            if (ms) MidSide(l, r, 0, covered);
        } else if (!ri.ShortBlocks()) {
            const int bound = ri.longBandCount;
            if (ms) MidSide(l, r, 0, bands.longBounds[static_cast<size_t>(bound)]);
            IntensityLong(frame, bands, right, scale, ms, bound, 22, l, r);
            covered = std::max(covered, info[0].nonzeroLines);
            covered = std::max(covered, bands.longBounds[static_cast<size_t>(bound)]);
        } else {
            int firstShort = 0;
            if (ri.MixedBlocks()) {
                const int longBands = frame.version == 0 ? 8 : 6;
                firstShort = 3;
                const int bound = ri.longBandCount;
                if (bound < longBands) {
                    if (ms) MidSide(l, r, 0, bands.longBounds[static_cast<size_t>(bound)]);
                    IntensityLong(frame, bands, right, scale, ms, bound, longBands, l, r);
                } else if (ms) {
                    MidSide(l, r, 0, bands.longBounds[static_cast<size_t>(longBands)]);
                }
            }
            for (int w = 0; w < 3; ++w) {
                const int bound = std::max(ri.shortBandCount[w], firstShort);
                for (int band = firstShort; band < 13; ++band) {
                    const int start = bands.shortBounds[static_cast<size_t>(band)];
                    const int width = bands.shortBounds[static_cast<size_t>(band) + 1] - start;
                    const int begin = 3 * start + w * width;
                    const int end = begin + width;
                    if (band < bound) {
                        if (ms) MidSide(l, r, begin, end);
                        continue;
                    }
                    Position p{right.shortBands[band][w], right.illegalShort[band]};
                    if (band == 12) {
                        p = LastBandPosition(frame, bound <= 11, right.shortBands[11][w],
                                             right.illegalShort[11]);
                    }
                    IntensityBand(frame, p.value, p.illegal, scale, ms, l, r, begin, end);
                }
            }
            covered = 576;
        }
        info[0].nonzeroLines = covered;
        info[1].nonzeroLines = covered;
    }

    if (monoOutput) {
        for (int i = 0; i < covered; ++i) l[i] = 0.5f * (l[i] + r[i]);
        info[0].nonzeroLines = covered;
    }
}

}  // namespace velora

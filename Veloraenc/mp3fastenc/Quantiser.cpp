#include "Quantiser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Layer3Tables.h"

namespace velora::enc {
namespace {

constexpr int kLongScalefactorBands = 21;  // band 21 has no scale factor
constexpr float kRounding = 0.4054f;       // nint(x^(3/4) - 0.0946)

float Pow43(int q) {
    return std::pow(static_cast<float>(q), 4.0f / 3.0f);
}

// The scale factors of `g` limited to what a band may carry (long band 21 none).
int Scalefactor(const QuantisedGranule& g, int band, int windows) {
    if (windows == 1 && band >= kLongScalefactorBands) return 0;
    return g.scalefactors[band];
}

}  // namespace

void Quantiser::Init(int maxRounds, bool mpeg1) {
    maxRounds_ = std::max(1, maxRounds);
    mpeg1_ = mpeg1;
}

int Quantiser::BandStep(const QuantisedGranule& g, int band, int windows) {
    const int multiplier = 2 * (1 + g.scalefacScale);  // quarter steps per scale-factor step
    if (windows == 1) {
        const int pre = (g.preflag != 0 && band < 22) ? kPretab[band] : 0;
        return g.globalGain - 210 - multiplier * (Scalefactor(g, band, 1) + pre);
    }
    return g.globalGain - 210 - 8 * g.subblockGain[band % 3] - multiplier * Scalefactor(g, band, windows);
}

int Quantiser::QuantiseAll(const QuantiserInput& in, QuantisedGranule& g) const {
    int largest = 0;
    for (int b = 0; b < in.bands; ++b) {
        const float scale = std::exp2(-3.0f * static_cast<float>(BandStep(g, b, in.windows)) / 16.0f);
        for (int k = in.bounds[b]; k < in.bounds[b + 1]; ++k) {
            const float v = xr34_[k] * scale + kRounding;
            // Beyond the largest escape value the gain is too small; report it as such.
            const int q = v < static_cast<float>(kMaxQuantised + 1) ? static_cast<int>(v) : kMaxQuantised + 1;
            largest = std::max(largest, q);
            g.values[k] = in.lines[k] < 0.0f ? -q : q;
        }
    }
    for (int k = in.bounds[in.bands]; k < kGranuleLines; ++k) g.values[k] = 0;
    return largest;
}

void Quantiser::BandNoise(const QuantiserInput& in, const QuantisedGranule& g, float* noise) const {
    const float scale = static_cast<float>(kModelScale);
    for (int b = 0; b < in.bands; ++b) {
        const float step = std::exp2(static_cast<float>(BandStep(g, b, in.windows)) / 4.0f);
        double sum = 0.0;
        for (int k = in.bounds[b]; k < in.bounds[b + 1]; ++k) {
            const float x = std::fabs(in.lines[k]) * scale;
            const float d = x - Pow43(std::abs(g.values[k])) * step;
            sum += static_cast<double>(d) * static_cast<double>(d);
        }
        noise[b] = static_cast<float>(sum);
    }
}

int Quantiser::SearchGain(const QuantiserInput& in, int targetBits, int part2Bits,
                          const GranuleBitCounter& counter, QuantisedGranule& g) const {
    // The smallest global gain that fits: bits fall as the gain rises.
    int lo = 0;
    int hi = 255;
    int bits = -1;
    while (lo < hi) {
        g.globalGain = (lo + hi) / 2;
        const bool fits = QuantiseAll(in, g) <= kMaxQuantised &&
                          counter.SpectrumBits(g) + part2Bits <= targetBits;
        if (fits)
            hi = g.globalGain;
        else
            lo = g.globalGain + 1;
    }
    g.globalGain = lo;
    const int largest = QuantiseAll(in, g);
    if (largest > kMaxQuantised) {
        // Even the coarsest gain cannot represent the values: clip (full-scale input never
        // gets here, the gain range covers it).
        for (int k = 0; k < kGranuleLines; ++k) g.values[k] = std::clamp(g.values[k], -kMaxQuantised, kMaxQuantised);
    }
    bits = counter.SpectrumBits(g) + part2Bits;
    return bits;
}

bool Quantiser::Quantise(const QuantiserInput& in, int targetBits, const GranuleBitCounter& counter,
                         QuantisedGranule& out, QuantiserResult& result) {
    const float scale = static_cast<float>(kModelScale);
    bool silent = true;
    for (int k = 0; k < kGranuleLines; ++k) {
        xr34_[k] = std::pow(std::fabs(in.lines[k]) * scale, 0.75f);
        silent = silent && xr34_[k] == 0.0f;
    }
    QuantisedGranule g;
    g.blockType = in.blockType;
    g.intensityChannel = out.intensityChannel;
    result = QuantiserResult{};
    if (silent) {
        g.globalGain = 0;
        QuantiseAll(in, g);
        out = g;
        result.bits = counter.SpectrumBits(g) + counter.ScalefactorBits(g);
        return result.bits <= targetBits;
    }

    QuantisedGranule best;
    QuantiserResult bestResult;
    bool haveBest = false;
    float noise[kMaxQuantiserBands];
    for (int round = 0; round < maxRounds_; ++round) {
        const int part2 = counter.ScalefactorBits(g);
        if (part2 < 0) break;
        const int bits = SearchGain(in, targetBits, part2, counter, g);
        BandNoise(in, g, noise);
        float over = 0.0f;
        int bandsOver = 0;
        for (int b = 0; b < in.usedBands; ++b) {
            if (noise[b] > in.threshold[b]) {
                over += 10.0f * std::log10(noise[b] / in.threshold[b]);
                ++bandsOver;
            }
        }
        const bool better = !haveBest || (bits <= targetBits && bestResult.bits > targetBits) ||
                            ((bits <= targetBits) == (bestResult.bits <= targetBits) &&
                             (over < bestResult.overNoiseDb ||
                              (over == bestResult.overNoiseDb && bits < bestResult.bits)));
        if (better) {
            best = g;
            bestResult.bits = bits;
            bestResult.overNoiseDb = over;
            bestResult.bandsOver = bandsOver;
            std::memcpy(bestResult.noise, noise, sizeof(noise));
            haveBest = true;
        }
        bestResult.rounds = round + 1;
        if (bandsOver == 0) break;

        // Finer steps in the bands that are too noisy; when all are, in those above the mean
        // excess, so the noise evens out against the thresholds (raising every band alike
        // would only undo the global gain).
        const float mean = bandsOver == in.usedBands ? over / static_cast<float>(bandsOver) : 0.0f;
        QuantisedGranule next = g;
        bool raised = false;
        for (int b = 0; b < in.usedBands; ++b) {
            if (in.windows == 1 && b >= kLongScalefactorBands) continue;
            if (noise[b] > in.threshold[b] && 10.0f * std::log10(noise[b] / in.threshold[b]) > mean) {
                ++next.scalefactors[b];
                raised = true;
            }
        }
        if (!raised) break;
        if (counter.ScalefactorBits(next) < 0) {
            if (next.scalefacScale != 0) break;
            // Coarser scale-factor steps carry twice the range.
            next.scalefacScale = 1;
            for (int& s : next.scalefactors) s = (s + 1) / 2;
            if (counter.ScalefactorBits(next) < 0) break;
        }
        g = next;
    }
    if (!haveBest) {
        g = QuantisedGranule{};
        g.blockType = in.blockType;
        bestResult.bits = SearchGain(in, targetBits, counter.ScalefactorBits(g), counter, g);
        best = g;
    }
    out = best;
    result = bestResult;
    return result.bits <= targetBits;
}

}  // namespace velora::enc
